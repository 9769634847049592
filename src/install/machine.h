// The machine the apply engine changes: registry, files, INI files and the
// environment broadcast, behind one narrow interface. The engine uses the
// Windows implementation; the portable tests use MemoryMachine, which can
// fail the k-th change.
//
// Every call returns 0 on success or a Windows system error code, so that
// failures reach the error processor with their system error text.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "base/text.h"

namespace kyt {

// Windows system error codes the engine tells apart.
enum : uint32_t {
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorSharingViolation = 32,
  kErrorAlreadyExists = 183,
  kErrorDirNotEmpty = 145,
  kErrorInvalidData = 13,
  kErrorRequestAborted = 1235,
  kErrorInvalidDataType = 1700,  // reported for an INTEGER value that is no number
};

// Registry value kinds as Windows numbers them.
enum : uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7 };

// Root digits of the script: 0 classes root, 1 current user, 2 local
// machine, 3 users, 4 current config.
struct RegistryKey {
  int root = 2;
  Text computer;  // remote registry for roots 2 and 3, empty for this machine
  Text path;      // without leading or trailing backslash
};

struct RegistryValue {
  uint32_t type = kRegSz;
  Text text;                  // REG_SZ, REG_EXPAND_SZ
  std::vector<Text> strings;  // REG_MULTI_SZ
  uint32_t number = 0;        // REG_DWORD
  std::string bytes;          // REG_BINARY
  bool operator==(const RegistryValue&) const = default;
};

struct FileFacts {
  uint64_t size = 0;
  int64_t time = 0;  // last write, 100 ns units
  std::optional<std::array<uint16_t, 4>> version;
  uint32_t attributes = 0;
};

enum : uint32_t { kAttributeReadOnly = 1, kAttributeHidden = 2, kAttributeSystem = 4, kAttributeNormal = 128 };

struct ServiceConfig {
  Text name, display_name, binary_path, account, password;
  std::vector<Text> dependencies;
  uint32_t type = 16;         // SERVICE_WIN32_OWN_PROCESS, | 0x100 interactive
  uint32_t start_type = 3;    // 2 automatic, 3 on demand, 4 disabled
  uint32_t error_control = 1;
  bool operator==(const ServiceConfig&) const = default;
};

// A task of the Task Scheduler: the program it starts and when.
struct TaskSettings {
  Text name, program, arguments, folder, description;
  int trigger = 0;  // 0 at logon, 1 at start-up, 2 once, 3 daily, 4 weekly
  Text start;       // "2027-01-31T08:00:00" for triggers 2 to 4
  bool system = false;  // runs as SYSTEM, else as the user who logs on
  bool operator==(const TaskSettings&) const = default;
};

class Machine {
 public:
  virtual ~Machine() = default;

  // The registry view and file-system redirection of an action's 64-bit
  // mode word, until leave_mode.
  virtual void enter_mode(TextView mode64) {}
  virtual void leave_mode() {}

  virtual bool key_exists(const RegistryKey& key) = 0;
  virtual std::optional<RegistryValue> read_value(const RegistryKey& key, TextView name) = 0;
  // Creates missing keys along the path.
  virtual uint32_t write_value(const RegistryKey& key, TextView name, const RegistryValue& value) = 0;
  virtual uint32_t delete_value(const RegistryKey& key, TextView name) = 0;
  // No sub-keys, no named values and no default value.
  virtual bool key_is_empty(const RegistryKey& key) = 0;
  // Deletes one key (not its sub-keys).
  virtual uint32_t delete_key(const RegistryKey& key) = 0;
  virtual std::vector<Text> subkeys(const RegistryKey& key) = 0;
  virtual std::vector<Text> value_names(const RegistryKey& key) = 0;

  virtual bool exists(const Text& path) = 0;
  virtual bool is_folder(const Text& path) = 0;
  // Size, time and attributes (not the version: reading it is costly).
  virtual std::optional<FileFacts> facts(const Text& path) = 0;
  // The fixed version of a file's version resource, when it has one.
  virtual std::optional<std::array<uint16_t, 4>> file_version(const Text& path) = 0;
  // Creates one folder whose parent exists.
  virtual uint32_t create_folder(const Text& path) = 0;
  virtual uint32_t remove_folder(const Text& path) = 0;
  virtual bool folder_is_empty(const Text& path) = 0;
  // Copies a file, reporting the bytes copied so far; the copy stops with
  // kErrorRequestAborted when `progress` returns false. The copy has normal
  // attributes and the source's times.
  virtual uint32_t copy_file(const Text& source, const Text& target,
                             const std::function<bool(uint64_t)>& progress) = 0;
  virtual uint32_t hard_link(const Text& source, const Text& target) = 0;
  virtual bool same_drive(const Text& a, const Text& b) = 0;
  virtual uint32_t delete_file(const Text& path) = 0;
  virtual uint32_t set_attributes(const Text& path, uint32_t attributes) = 0;
  virtual uint32_t move_file(const Text& from, const Text& to) = 0;
  // Cannot be opened for exclusive reading and writing.
  virtual bool in_use(const Text& path) = 0;
  // Replaces `target` by `source` (or deletes `target` when `source` is
  // empty) at the next restart.
  virtual uint32_t at_restart(const Text& source, const Text& target) = 0;
  // Names of the files (not folders) in `folder` matching a "*"/"?" pattern.
  virtual std::vector<Text> list_files(const Text& folder, TextView pattern) = 0;
  // Names of the sub-folders of `folder`; links to folders count as files
  // (removed as links, never entered).
  virtual std::vector<Text> list_folders(const Text& folder) = 0;

  virtual std::optional<Text> ini_read(const Text& file, TextView section, TextView key) = 0;
  virtual uint32_t ini_write(const Text& file, TextView section, TextView key, TextView value) = 0;
  virtual uint32_t ini_delete(const Text& file, TextView section, TextView key) = 0;

  // Writes a shell link; the failure text, empty on success.
  virtual Text create_shortcut(const Text& link, const Text& target, const Text& working_folder,
                               const Text& arguments, const Text& description, const Text& icon, int icon_index,
                               int show) = 0;
  // Runs a program of the system folder (the 32-bit one for "Win32" on
  // 64-bit Windows) or any program given by path, in `folder`, and waits;
  // the exit code, or empty when it could not start.
  virtual std::optional<uint32_t> run_program(const Text& program, const Text& arguments, const Text& folder,
                                              TextView mode64) = 0;
  virtual Text system_program(TextView name, TextView mode64) = 0;
  // The Windows folder, and whether Windows itself is 64-bit.
  virtual Text windows_folder() = 0;
  virtual bool windows_64_bit() = 0;
  // The machine type of an executable image (0x8664 for x64), or empty.
  virtual std::optional<uint16_t> image_machine(const Text& path) = 0;
  // The service control manager. Starting counts an already running
  // service as started; with `wait` the calls return when the service has
  // left its pending state.
  virtual uint32_t create_service(const ServiceConfig& config) = 0;
  virtual uint32_t delete_service(const Text& name) = 0;
  virtual uint32_t start_service(const Text& name, const Text& argument, bool wait) = 0;
  virtual uint32_t stop_service(const Text& name, bool wait) = 0;
  virtual uint32_t set_service_start(const Text& name, uint32_t start_type) = 0;
  // SQLConfigDataSource: `request` 1 add, 3 remove, 4 add system, 6 remove
  // system; the attributes as key=value items. The failure text, empty on
  // success.
  virtual Text configure_data_source(int request, const Text& driver, const std::vector<Text>& attributes) = 0;
  // The security (owner and access list) of an existing file or registry
  // key, for taking over objects the engine may not change: read as bytes
  // to put back later (nullopt when it cannot be read), the current account
  // made owner with full access, and the kept bytes written back.
  virtual std::optional<std::string> read_security(const Text& file) = 0;
  virtual std::optional<std::string> read_security(const RegistryKey& key) = 0;
  virtual uint32_t take_ownership(const Text& file) = 0;
  virtual uint32_t take_ownership(const RegistryKey& key) = 0;
  virtual uint32_t write_security(const Text& file, const std::string& kept) = 0;
  virtual uint32_t write_security(const RegistryKey& key, const std::string& kept) = 0;
  // The global assembly cache: installs an assembly file (replacing an
  // installed one with `force`) or removes an assembly by name. The
  // failure text, empty on success.
  virtual Text install_assembly(const Text& file, bool force) = 0;
  virtual Text uninstall_assembly(const Text& name) = 0;
  // The Task Scheduler: creates (or replaces) a task, deletes one. The
  // failure text, empty on success.
  virtual Text schedule_task(const TaskSettings& task) = 0;
  virtual Text delete_task(const Text& name) = 0;
  // Pins a shortcut to the taskbar or the start menu (`place` "taskbar"
  // or "startmenu"), or unpins it; false when the shell would not.
  virtual bool pin_shortcut(const Text& link, TextView place, bool pin) { return false; }
  // Tells running programs that environment values changed.
  virtual void environment_changed() {}
  // Asks the first top-level window whose class and title contain the
  // given parts (case-sensitive; empty matches all) to close, ten times.
  virtual void close_windows(TextView title_part, TextView class_part) {}
  // The system's text for an error code.
  virtual Text error_text(uint32_t code) = 0;
};

// Calls `visit` with the path below `folder` (empty or ending in "\\") and
// the name of each file matching `pattern`, in sub-folders too with
// `recurse`; stops, returning false, when `visit` does.
bool for_each_file(Machine& machine, const Text& folder, TextView pattern, bool recurse,
                   const std::function<bool(const Text& relative, const Text& name)>& visit);

// The folders on the path to `folder` that do not exist yet, deepest first.
std::vector<Text> missing_folders(Machine& machine, const Text& folder);

// Deletes a folder with everything in it; false when something stayed.
bool remove_tree(Machine& machine, const Text& folder);

// A machine in memory: keys and files keyed without regard to case. Changes
// count from 1; with `fail_change` = k the k-th change fails with
// kErrorAccessDenied.
class MemoryMachine : public Machine {
 public:
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
  void environment_changed() override { ++environment_broadcasts; }
  bool pin_shortcut(const Text& link, TextView place, bool pin) override {
    pins.push_back((pin ? u"pin " : u"unpin ") + Text(place) + u" " + link);
    return true;
  }
  std::vector<Text> pins;
  Text schedule_task(const TaskSettings& task) override {
    if (task.name.empty() || task.program.empty()) return u"A task needs a name and a program.";
    if (fail_now()) return u"The task could not be registered.";
    tasks[to_lower(task.name)] = task;
    return {};
  }
  Text delete_task(const Text& name) override {
    return tasks.erase(to_lower(name)) ? Text() : u"The task " + name + u" does not exist.";
  }
  std::map<Text, TaskSettings> tasks;  // lower-case name
  std::optional<uint32_t> run_program(const Text& program, const Text& arguments, const Text& folder,
                                      TextView mode64) override {
    programs.push_back(program + u" " + arguments + u" @" + folder + u" " + Text(mode64));
    if (auto it = program_exit_codes.find(to_lower(program)); it != program_exit_codes.end()) return it->second;
    return program_exit_code;
  }
  Text system_program(TextView name, TextView mode64) override {
    return (mode64 == u"Win32" ? u"C:\\Windows\\SysWOW64\\" : u"C:\\Windows\\System32\\") + Text(name);
  }
  std::optional<uint16_t> image_machine(const Text& path) override;
  Text windows_folder() override { return u"C:\\Windows"; }
  bool windows_64_bit() override { return windows64; }
  bool windows64 = true;
  // Exit codes of programs by lower-case path; a program not listed exits
  // with `program_exit_code`, one listed with nullopt cannot start.
  std::map<Text, std::optional<uint32_t>> program_exit_codes;
  std::vector<Text> programs;
  uint32_t program_exit_code = 0;
  uint32_t create_service(const ServiceConfig& config) override;
  uint32_t delete_service(const Text& name) override;
  uint32_t start_service(const Text& name, const Text& argument, bool wait) override;
  uint32_t stop_service(const Text& name, bool wait) override;
  uint32_t set_service_start(const Text& name, uint32_t start_type) override;
  Text configure_data_source(int request, const Text& driver, const std::vector<Text>& attributes) override;
  std::map<Text, std::pair<Text, std::vector<Text>>> data_sources;
  Text install_assembly(const Text& file, bool force) override;
  Text uninstall_assembly(const Text& name) override;
  std::map<Text, Text> assemblies;
  std::optional<std::string> read_security(const Text& file) override { return read_security_of(file_id(file)); }
  std::optional<std::string> read_security(const RegistryKey& key) override { return read_security_of(u"key:" + key_id(key)); }
  uint32_t take_ownership(const Text& file) override { return take_ownership_of(file_id(file)); }
  uint32_t take_ownership(const RegistryKey& key) override { return take_ownership_of(u"key:" + key_id(key)); }
  uint32_t write_security(const Text& file, const std::string& kept) override {
    security[file_id(file)] = kept;
    return 0;
  }
  uint32_t write_security(const RegistryKey& key, const std::string& kept) override {
    security[u"key:" + key_id(key)] = kept;
    return 0;
  }
  // Security by "file:" + lower-case path or "key:" + key id; absent means
  // open to the engine. "deny" refuses changes, "unreadable" refuses them
  // and cannot be read; taking ownership makes it "owner".
  std::map<Text, std::string> security;
  static Text file_id(const Text& path) { return u"file:" + to_lower(path); }  // lower-case name -> the file installed  // "user|" or "system|" + lower-case name
  struct Service {
    ServiceConfig config;
    bool running = false;
  };
  std::map<Text, Service> services;  // lower-case name
  void close_windows(TextView title_part, TextView class_part) override {
    closed_windows.emplace_back(Text(title_part), Text(class_part));
  }
  std::vector<std::pair<Text, Text>> closed_windows;
  // Writes the link as a file whose text lists the fields.
  Text create_shortcut(const Text& link, const Text& target, const Text& working_folder, const Text& arguments,
                       const Text& description, const Text& icon, int icon_index, int show) override;
  Text error_text(uint32_t code) override { return u"System error " + decimal(code) + u"."; }
  void enter_mode(TextView mode64) override { modes.emplace_back(mode64); }

  // Test set-up, bypassing fault injection.
  void put_file(const Text& path, std::string bytes, int64_t time = 0,
                std::optional<std::array<uint16_t, 4>> version = std::nullopt);
  void put_folder(const Text& path);

  struct File {
    std::string bytes;
    int64_t time = 0;
    std::optional<std::array<uint16_t, 4>> version;
    uint32_t attributes = kAttributeNormal;
    int links = 1;  // hard links share nothing here; the count is only observed
  };
  // Keys: "root|computer|lower-case path"; values by lower-case name.
  std::map<Text, std::map<Text, std::pair<Text, RegistryValue>>> keys;
  std::map<Text, File> files;       // lower-case path
  std::set<Text> folders;           // lower-case path without trailing backslash
  std::map<Text, Text> spelling;    // lower-case path -> as written
  std::set<Text> locked;            // lower-case paths of files in use
  std::vector<std::pair<Text, Text>> restart_moves;
  // INI files: lower-case file -> section -> key -> value (names lower-case).
  std::map<Text, std::map<Text, std::map<Text, Text>>> ini;
  std::vector<Text> modes;
  int environment_broadcasts = 0;
  int changes = 0;
  int fail_change = 0;

 private:
  bool fail_now();
  static Text key_id(const RegistryKey& key);
  std::optional<std::string> read_security_of(const Text& id);
  uint32_t take_ownership_of(const Text& id);
  bool denied(const Text& id) const;
};

}  // namespace kyt
