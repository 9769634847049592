// Questions the portable commands ask the operating system, behind a small
// interface: the engine answers them through the Windows API, tests through
// a fake with fixed answers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/text.h"

namespace kyt {

class SystemQueries {
 public:
  virtual ~SystemQueries() = default;
  // The text with %NAME% references replaced by the system.
  virtual Text expand_environment(TextView text) = 0;
  // Every entry of the environment block, each "NAME=VALUE".
  virtual std::vector<Text> environment_block() = 0;
  // The four numbers of a file's fixed version information.
  virtual std::optional<std::array<uint16_t, 4>> file_version(const Text& path) = 0;
  // Creates a new empty file with a unique name in `folder`; its path.
  virtual std::optional<Text> create_temporary_file(const Text& folder, TextView prefix) = 0;
  virtual Text full_path(const Text& path) = 0;
  virtual bool path_exists(const Text& path) = 0;
  // The 8.3 and the long form of an existing path; empty when unavailable.
  virtual Text short_path(const Text& path) = 0;
  virtual Text long_path(const Text& path) = 0;
  // A well-known folder by its "Get Folder Location" code, with a trailing
  // backslash; empty when unavailable. `mode64` is the 64-bit mode word.
  virtual Text folder_location(int code, bool all_users, TextView mode64) = 0;
  // Windows Installer's state of a product (INSTALLSTATE_DEFAULT is 5);
  // -1 when unknown.
  virtual int installer_product_state(const Text& product_code) { return -1; }
};

}  // namespace kyt
