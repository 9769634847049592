// Host file access for the build tool: UTF-8 paths on every host, and the
// staged output that makes a build write either all its files or none.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kyt::build {

// A path given as UTF-8 text (a command-line argument, a project value).
std::filesystem::path host_path(const std::string& utf8);
std::string utf8_path(const std::filesystem::path& path);
// `relative` below the folder of `file` unless it is absolute.
std::string beside(const std::string& file, const std::string& relative);
std::optional<std::string> read_host_file(const std::string& path);

// Output files and folders, written first under temporary names beside
// their targets and moved into place only by commit(): a build that fails
// part-way (a full disk, a folder it may not write) leaves no output at all.
class StagedOutput {
 public:
  ~StagedOutput();  // removes what was staged but not committed
  // Stages a file. False (with `error`) when it cannot be written.
  bool add_file(const std::string& path, std::string_view bytes, std::string& error);
  // Stages a folder whose content is the copies of `files` (pairs of source
  // path and path below the folder, "/" separated); it replaces the whole
  // folder of that name.
  bool add_folder(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files,
                  std::string& error);
  // Moves every staged item into place.
  bool commit(std::string& error);

 private:
  struct Item {
    std::filesystem::path temporary, target;
  };
  bool stage(const std::filesystem::path& target, Item& item, std::string& error);
  std::vector<Item> items_;
};

}  // namespace kyt::build
