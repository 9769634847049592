// The resource archive (engine base name + ".res"): the support files the
// engine unpacks into its support folder at start, as a 7z archive.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/text.h"

namespace kyt::build {

// Packs every file and folder below `folder` (none when `folder` is empty)
// and the `generated` files (name, bytes) into a 7z archive; names are
// relative to `folder`, in sorted order and without times, so the same files
// always give the same bytes. A generated name that is also a file of
// `folder` (ignoring case) is an error.
bool build_resource_archive(const std::string& folder, std::string& archive, std::string& error,
                            const std::vector<std::pair<Text, std::string>>& generated = {});

}  // namespace kyt::build
