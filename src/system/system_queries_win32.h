// System questions answered through the Windows API.
#pragma once

#include "system/system_queries.h"

namespace kyt {

class Win32SystemQueries : public SystemQueries {
 public:
  Text expand_environment(TextView text) override;
  std::vector<Text> environment_block() override;
  std::optional<std::array<uint16_t, 4>> file_version(const Text& path) override;
  std::optional<Text> create_temporary_file(const Text& folder, TextView prefix) override;
  Text full_path(const Text& path) override;
  bool path_exists(const Text& path) override;
  Text short_path(const Text& path) override;
  Text long_path(const Text& path) override;
  Text folder_location(int code, bool all_users, TextView mode64) override;
  int installer_product_state(const Text& product_code) override;
};

// Whether this is a 32-bit process on 64-bit Windows.
bool running_under_wow64();

}  // namespace kyt
