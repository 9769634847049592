// A build from start to end: the project file (docs/project-format.md), the
// script, the product files and the translations, compiled into the setup,
// its resource archive, kyt.lib with the message tables and the data folder.
//
// Project file (UTF-8; a leading byte-order mark is skipped):
//   project := (blank | comment | setting)*
//   comment := blanks? "#" any
//   setting := blanks? key blanks? "=" blanks? value       (value as in scripts)
//   key     := "script" | "resources" | "files" | "translation"
// "translation" may be given once per language, the others once; paths are
// relative to the project file.
#pragma once

#include <string>
#include <vector>

#include "bootstrap/payload.h"
#include "build/product_files.h"
#include "build/script_source.h"

namespace kyt::build {

struct BuildRequest {
  // The folder the script paths are relative to (the project's; empty: the
  // working folder). The payload records script paths relative to it, so a
  // project builds the same bytes wherever it is built from.
  std::string folder;
  std::string script;                     // the main script
  std::string resources;                  // support files; empty: none
  std::string files_root;                 // product files; empty: none
  std::vector<std::string> translations;  // translation sources
  std::string engine;                     // empty: the payload alone
  std::string kyt_lib;                    // empty: kyt.lib is not written
};

// Fills `request` from a project file (script, resources, files,
// translations); false with diagnostics on error.
bool read_project(const std::string& project_file, BuildRequest& request, std::vector<Diagnostic>& diagnostics);

struct BuildResult {
  Payload payload;
  std::string payload_text;
  std::string setup;    // engine image + payload (with an engine)
  std::string archive;  // the resource archive (with an engine)
  std::string kyt_lib;  // kyt.lib + message tables (with kyt_lib)
  std::vector<std::pair<Text, std::string>> support_files;  // generated, in the archive
  std::vector<DataFile> data;
};

// Builds everything in memory; nothing is written. False on any error.
bool build_setup(const BuildRequest& request, BuildResult& result, std::vector<Diagnostic>& diagnostics);

// Writes the setup at `output` and its resource archive beside it; with
// `project`, also kyt.lib and the data folder. All or nothing: on failure
// no output file is left.
bool write_setup(const BuildResult& result, const std::string& output, bool project, std::string& error);

// `output` with its extension replaced by ".res".
std::string resource_archive_path(const std::string& output);

}  // namespace kyt::build
