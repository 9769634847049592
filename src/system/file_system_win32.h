// Files through the Windows API.
#pragma once

#include "system/file_system.h"

namespace kyt {

class Win32FileSystem : public FileSystem {
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

// The text of GetLastError's code, for error messages.
Text system_error_text(unsigned long code);

}  // namespace kyt
