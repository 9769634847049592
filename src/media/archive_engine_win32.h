// The engine's archive services on Windows: kyt.lib behind the wrappers, the
// library's start-up contract and the out-of-process extractor.
#pragma once

#include <memory>

#include "media/archive_library_win32.h"
#include "media/archive_wrappers.h"

namespace kyt {

class Win32Archives {
 public:
  Win32Archives();
  ArchiveWrappers& wrappers() { return wrappers_; }
  // Once per process, before any archive call: the per-user application data
  // folder + "ZUVIZ\" is created, a "7z.dll" in it deleted, and the library
  // told the folder.
  void prepare(const Text& application_data);
  // Extracts through a second engine process; the error text, or empty
  // optional when the process could not be started.
  std::optional<Text> extract_out_of_process(const Text& archive, const Text& password, const Text& destination,
                                             const std::vector<Text>& items, bool keep_paths, bool overwrite);

 private:
  KytLibrary library_;
  ArchiveWrappers wrappers_;
};

// The engine started as "OutOfProcessExtract <control file>": returns the
// exit code (1 no control file, 2 no archive, 0 otherwise).
int run_out_of_process_extract(const Text& control_file);

// Rebuilds a folder path whose characters were lost in an ANSI round trip
// ("?"), element by element from the real names on disk.
Text repair_folder_path(const Text& folder);

}  // namespace kyt
