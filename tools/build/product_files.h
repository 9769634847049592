// "Install Files" commands: the product files a setup carries in its data
// folder, the tables that tell the engine where each file goes, and the
// component sizes they add up to (docs/project-format.md).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bootstrap/payload.h"
#include "build/script_source.h"

namespace kyt::build {

// The component the files of an "Install Files" without "component=" count toward.
inline constexpr TextView kPredefinedComponent = u"ZEKO-PREDEF-COMPONENT";

struct DataFile {
  std::string source;  // host path of the product file
  std::string stored;  // path below the data folder, "/" separated
};

// Resolves every enabled "Install Files" against `files_root` (a host
// folder; empty when the project has none) and fills the payload's command
// headers, header file table, size table and total transfer size. The
// files to copy are appended to `data`. False on error.
bool add_product_files(const SourceProgram& program, Payload& payload, const std::string& files_root,
                       std::vector<DataFile>& data, std::vector<Diagnostic>& diagnostics);


}  // namespace kyt::build
