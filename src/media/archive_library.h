// The engine's view of the archive library kyt.lib: its eight functions as a
// small interface, so that the wrappers and commands run natively against a
// fake and on Windows against the DLL.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/text.h"

namespace kyt {

struct ArchiveListEntry {
  Text name;
  int64_t size = 0;
  int64_t packed_size = 0;
  uint64_t mtime = 0;  // FILETIME
  uint32_t attributes = 0;
};

// Progress: item, bytes done, bytes total; false stops the operation.
using ArchiveProgress = std::function<bool(TextView item, int64_t done, int64_t total)>;
// Password callback: the password to try, or empty for none.
using ArchivePassword = std::function<std::optional<Text>()>;
// Answer when an extracted file already exists: true overwrites.
using ArchiveOverwrite = std::function<bool()>;

class ArchiveLibrary {
 public:
  virtual ~ArchiveLibrary() = default;
  virtual void set_7zip_dll_directory(const Text& folder) = 0;
  virtual bool create_archive(const Text& archive, int32_t method, const std::vector<Text>& list_a,
                              const std::vector<Text>& list_b, int32_t mode, const Text& switches,
                              const Text& password, const ArchiveProgress& progress) = 0;
  // `keep_paths` is the library's path flag 0; false extracts without paths.
  virtual bool extract_archive(const Text& archive, const Text& destination, const std::vector<Text>& items,
                               bool keep_paths, const Text& password, const ArchivePassword& ask_password,
                               const ArchiveProgress& progress, const ArchiveOverwrite& overwrite) = 0;
  virtual bool delete_from_archive(const Text& archive, const std::vector<Text>& items, const Text& password,
                                   const ArchiveProgress& progress) = 0;
  virtual bool test_archive(const Text& archive, const Text& password, const ArchivePassword& ask_password,
                            const ArchiveProgress& progress) = 0;
  // Open, copy the entries, close.
  virtual bool list_archive(const Text& archive, const Text& password, const ArchivePassword& ask_password,
                            std::vector<ArchiveListEntry>& entries) = 0;
  virtual uint32_t last_error() = 0;
};

}  // namespace kyt
