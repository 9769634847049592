// The resource archive (engine base name + ".res"): the support files the
// engine unpacks into its support folder at start, as a 7z archive.
#pragma once

#include <string>

namespace kyt::build {

// Packs every file and folder below `folder` (none when `folder` is empty)
// into a 7z archive; names are relative to `folder`, in sorted order and
// without times, so the same files always give the same bytes.
bool build_resource_archive(const std::string& folder, std::string& archive, std::string& error);

}  // namespace kyt::build
