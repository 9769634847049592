// The machine the apply engine changes, through the Windows API: registry
// views and file-system redirection follow the action's 64-bit mode.
#pragma once

#include "install/machine.h"

namespace kyt {

class Win32Machine : public Machine {
 public:
  void enter_mode(TextView mode64) override;
  void leave_mode() override;
  bool key_exists(const RegistryKey& key) override;
  std::optional<RegistryValue> read_value(const RegistryKey& key, TextView name) override;
  uint32_t write_value(const RegistryKey& key, TextView name, const RegistryValue& value) override;
  uint32_t delete_value(const RegistryKey& key, TextView name) override;
  bool key_is_empty(const RegistryKey& key) override;
  uint32_t delete_key(const RegistryKey& key) override;
  std::vector<Text> subkeys(const RegistryKey& key) override;
  std::vector<Text> value_names(const RegistryKey& key) override;
  bool exists(const Text& path) override;
  bool is_folder(const Text& path) override;
  std::optional<FileFacts> facts(const Text& path) override;
  std::optional<std::array<uint16_t, 4>> file_version(const Text& path) override;
  uint32_t create_folder(const Text& path) override;
  uint32_t remove_folder(const Text& path) override;
  bool folder_is_empty(const Text& path) override;
  uint32_t copy_file(const Text& source, const Text& target, const std::function<bool(uint64_t)>& progress) override;
  uint32_t hard_link(const Text& source, const Text& target) override;
  bool same_drive(const Text& a, const Text& b) override;
  uint32_t delete_file(const Text& path) override;
  uint32_t set_attributes(const Text& path, uint32_t attributes) override;
  uint32_t move_file(const Text& from, const Text& to) override;
  bool in_use(const Text& path) override;
  uint32_t at_restart(const Text& source, const Text& target) override;
  std::vector<Text> list_files(const Text& folder, TextView pattern) override;
  std::vector<Text> list_folders(const Text& folder) override;
  std::optional<Text> ini_read(const Text& file, TextView section, TextView key) override;
  uint32_t ini_write(const Text& file, TextView section, TextView key, TextView value) override;
  uint32_t ini_delete(const Text& file, TextView section, TextView key) override;
  void environment_changed() override;
  void close_windows(TextView title_part, TextView class_part) override;
  std::optional<uint32_t> run_program(const Text& program, const Text& arguments, const Text& folder,
                                      TextView mode64) override;
  Text system_program(TextView name, TextView mode64) override;
  Text windows_folder() override;
  std::optional<std::string> read_security(const Text& file) override;
  std::optional<std::string> read_security(const RegistryKey& key) override;
  uint32_t take_ownership(const Text& file) override;
  uint32_t take_ownership(const RegistryKey& key) override;
  uint32_t write_security(const Text& file, const std::string& kept) override;
  uint32_t write_security(const RegistryKey& key, const std::string& kept) override;
  Text install_assembly(const Text& file, bool force) override;
  bool pin_shortcut(const Text& link, TextView place, bool pin) override;
  Text schedule_task(const TaskSettings& task) override;
  Text delete_task(const Text& name) override;
  Text uninstall_assembly(const Text& name) override;
  bool windows_64_bit() override;
  std::optional<uint16_t> image_machine(const Text& path) override;
  uint32_t create_service(const ServiceConfig& config) override;
  uint32_t delete_service(const Text& name) override;
  uint32_t start_service(const Text& name, const Text& argument, bool wait) override;
  uint32_t stop_service(const Text& name, bool wait) override;
  uint32_t set_service_start(const Text& name, uint32_t start_type) override;
  Text configure_data_source(int request, const Text& driver, const std::vector<Text>& attributes) override;
  Text create_shortcut(const Text& link, const Text& target, const Text& working_folder, const Text& arguments,
                       const Text& description, const Text& icon, int icon_index, int show) override;
  Text error_text(uint32_t code) override;

 private:
  // KEY_WOW64_32KEY or KEY_WOW64_64KEY on 64-bit Windows, else 0.
  unsigned long view_ = 0;
  void* redirection_ = nullptr;
  bool redirection_off_ = false;
};

}  // namespace kyt
