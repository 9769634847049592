// The file operations the portable commands need, behind a small interface:
// the engine uses the Windows implementation, the build tool and host tests
// the standard-library one, and tests that inject faults an in-memory one.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"

namespace kyt {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The whole file, or empty when it cannot be read.
  virtual std::optional<std::string> read_file(const Text& path) = 0;
  // Replaces the file's content; false when it cannot be written.
  virtual bool write_file(const Text& path, std::string_view bytes) = 0;
  // Clears read-only, hidden and system attributes.
  virtual bool set_normal_attributes(const Text& path) = 0;
  virtual bool remove_file(const Text& path) = 0;
  // Renames a file; fails when the target exists.
  virtual bool rename_file(const Text& from, const Text& to) = 0;
  // Creates a folder and its missing parents; true when it exists afterwards.
  virtual bool create_folders(const Text& path) = 0;
  // A file or folder of that name exists.
  virtual bool exists(const Text& path) = 0;
  // Names (without folder) of the files in `folder` whose name ends with
  // `suffix` (ignoring case), sorted.
  virtual std::vector<Text> list_files(const Text& folder, TextView suffix) = 0;
};

// Files on the host through the C++ standard library (paths as UTF-8 on
// POSIX, as UTF-16 on Windows).
class StdFileSystem : public FileSystem {
 public:
  std::optional<std::string> read_file(const Text& path) override;
  bool write_file(const Text& path, std::string_view bytes) override;
  bool set_normal_attributes(const Text& path) override;
  bool remove_file(const Text& path) override;
  bool rename_file(const Text& from, const Text& to) override;
  bool create_folders(const Text& path) override;
  bool exists(const Text& path) override;
  std::vector<Text> list_files(const Text& folder, TextView suffix) override;
};

// Files in memory, keyed by path without regard to case.
class MemoryFileSystem : public FileSystem {
 public:
  std::optional<std::string> read_file(const Text& path) override;
  bool write_file(const Text& path, std::string_view bytes) override;
  bool set_normal_attributes(const Text& path) override;
  bool remove_file(const Text& path) override;
  bool rename_file(const Text& from, const Text& to) override;
  bool create_folders(const Text& path) override;
  bool exists(const Text& path) override;
  std::vector<Text> list_files(const Text& folder, TextView suffix) override;
  // Writes fail while set (a full disk, a locked file).
  bool fail_writes = false;
  std::map<Text, std::string> files;
  std::map<Text, Text> spelling;  // lower-case path -> path as written
  std::map<Text, bool> read_only;
  std::map<Text, bool> folders;  // lower-case paths without trailing backslash
};

}  // namespace kyt
