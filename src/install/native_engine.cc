#include "install/native_engine.h"

#include "base/comma_text.h"
#include "base/text_file.h"
#include "script/worker.h"

namespace kyt {

namespace {

constexpr TextView kSharedDlls = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
constexpr TextView kSystemEnvironment = u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr TextView kUserEnvironment = u"Environment";
constexpr TextView kMachineHandle = u"-2147483646";
constexpr TextView kUserHandle = u"-2147483647";

// Message table lines of the two questions.
constexpr size_t kErrorCaption = 44, kTryAgain = 117, kOldDate = 119, kOldVersion = 120, kNewDate = 121,
                 kNewVersion = 122, kOverwriteCaption = 123, kOverwriteQuestion = 124, kUnknownDate = 125,
                 kNoVersion = 126;

Text root_name(int root) {
  switch (root) {
    case 0: return u"HKEY_CLASSES_ROOT";
    case 1: return u"HKEY_CURRENT_USER";
    case 3: return u"HKEY_USERS";
    case 4: return u"HKEY_CURRENT_CONFIG";
    default: return u"HKEY_LOCAL_MACHINE";
  }
}

Text field(const std::vector<Text>& record, size_t i) { return i < record.size() ? record[i] : Text(); }

std::optional<std::array<uint16_t, 4>> real_version(const std::optional<FileFacts>& facts) {
  if (!facts || !facts->version || *facts->version == std::array<uint16_t, 4>{0, 0, 0, 0}) return std::nullopt;
  return facts->version;
}

Text version_text(const std::optional<std::array<uint16_t, 4>>& version, const MessageTable& messages) {
  if (!version) return messages.line(kNoVersion);
  return decimal((*version)[0]) + u"." + decimal((*version)[1]) + u"." + decimal((*version)[2]) + u"." +
         decimal((*version)[3]);
}

std::optional<std::string> hex_bytes(TextView text) {
  if (text.size() % 2) return std::nullopt;
  std::string bytes;
  auto digit = [](char16_t c) -> int {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = digit(text[i]), low = digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

Text trim(TextView text) {
  size_t start = text.find_first_not_of(u' '), end = text.find_last_not_of(u' ');
  return start == TextView::npos ? Text() : Text(text.substr(start, end - start + 1));
}

// Cuts the first of the four list forms of `item` out of `list` (", "
// separated as the INI list modes write them); empty when none occurs.
std::optional<Text> cut_list_item(const Text& list, const Text& item) {
  for (const Text& form : {item + u", ", item + u",", u", " + item, u"," + item}) {
    size_t at = find_ignore_case(list, form);
    if (at != Text::npos) return list.substr(0, at) + list.substr(at + form.size());
  }
  return std::nullopt;
}

}  // namespace

RegistryKey registry_key(TextView root_field, TextView path) {
  auto [root, computer] = split_at_bar(root_field);
  RegistryKey key;
  key.root = static_cast<int>(parse_int32(root).value_or(2));
  if ((key.root == 2 || key.root == 3) && !computer.empty())
    key.computer = computer.starts_with(u"\\\\") ? computer : u"\\\\" + computer;
  key.path = Text(path);
  while (!key.path.empty() && key.path.front() == u'\\') key.path.erase(0, 1);
  while (!key.path.empty() && key.path.back() == u'\\') key.path.pop_back();
  return key;
}

Text undo_log_base(const Variables& variables, FileSystem& files) {
  Text logging = variables.value_of(u"NATIVE_LOGGING");
  if (!logging.empty() && !equals_ignore_case(logging, u"FALSE") && UndoLog::ensure(files, logging, false))
    return logging;
  return with_backslash(variables.value_of(u"ENGINECACHE")) + variables.value_of(u"PRODUCTCODE");
}

Text NativeEngine::log_base() const { return undo_log_base(c_.variables, c_.log_files); }

bool NativeEngine::logging_off() const { return equals_ignore_case(setting(u"NATIVE_LOGGING"), u"FALSE"); }

Text NativeEngine::log_folder() const { return folder_of(log_base()); }

void NativeEngine::note_undo(TextView action, const std::vector<Text>& fields) {
  c_.state.undo.record(action, fields, mode64_, logging_off());
}

// The first "stem" + n (n from 0) that names nothing yet.
Text NativeEngine::free_name(const Text& stem) {
  for (int n = 0;; ++n)
    if (!c_.machine.exists(stem + decimal(n))) return stem + decimal(n);
}

bool NativeEngine::progress_step(TextView text, int64_t weight) {
  int64_t progress = parse_int64(setting(u"NATIVE_PROGRESS")).value_or(0) + weight;
  c_.variables.store().set(u"NATIVE_PROGRESS", decimal(progress));
  int64_t position = rolling_back_ ? progress_max_ - progress : progress;
  report_progress(c_.variables, c_.host, text, 0, progress_max_, position);
  return !stop_requested();
}

NativeEngine::ErrorDecision NativeEngine::error_processor(TextView message, uint32_t code) {
  if (code == 0) return {};
  log(u"        <NATIVE ERROR>");
  log(u"          < " + Text(message) + u" >");
  log(u"        </NATIVE ERROR>");
  Text mode = to_upper(setting(u"NATIVE_ERROR"));
  auto cancel = [&] {
    c_.variables.set_variable(u"ZEKO_IsCancelled", u"TRUE", u"Native Error Abort");
    return ErrorDecision{false, true};
  };
  if (mode == u"ABORT") return cancel();
  // A retry that can never succeed would loop for ever: a cancel ends it.
  if (mode == u"RETRY") return stop_requested() ? cancel() : ErrorDecision{true, false};
  if (mode == u"IGNORE") return {};
  if (c_.variables.silent() || is_true(setting(u"ABORTEDONERROR")) || !c_.ask) return {};
  Answer answer = c_.ask(c_.messages.line(kErrorCaption), Text(message) + u"\r\r" + c_.messages.line(kTryAgain));
  switch (settle(answer, u"NATIVE_ERROR", u"RETRY", u"IGNORE", u"Native Error Dialog")) {
    case Answer::yes: return {true, false};
    case Answer::cancel: return cancel();
    default: return {};
  }
}

// The "to all" answers become the setting for the rest of the run; what
// remains is yes, no or cancel.
Answer NativeEngine::settle(Answer answer, TextView setting_name, TextView all_yes, TextView all_no,
                            TextView source) {
  if (answer == Answer::yes_to_all) c_.variables.set_variable(setting_name, all_yes, source);
  if (answer == Answer::no_to_all) c_.variables.set_variable(setting_name, all_no, source);
  return answer == Answer::yes_to_all ? Answer::yes : answer == Answer::no_to_all ? Answer::no : answer;
}

NativeEngine::OverwriteDecision NativeEngine::overwrite_processor(const Text& source, const Text& destination,
                                                                  std::optional<bool> destination_exists) {
  if (!destination_exists.value_or(c_.machine.exists(destination))) return {true, false};
  Text mode = to_upper(setting(u"NATIVE_OVERWRITE"));
  bool older_too = is_true(setting(u"NATIVE_OVERWRITE_OLDER"));
  if (mode == u"NEVER") return {};
  if (mode == u"ALWAYS" && older_too) return {true, false};

  auto source_facts = c_.machine.facts(source), target_facts = c_.machine.facts(destination);
  if (source_facts) source_facts->version = c_.machine.file_version(source);
  if (target_facts) target_facts->version = c_.machine.file_version(destination);
  auto source_version = real_version(source_facts), target_version = real_version(target_facts);
  bool newer;
  if (source_version && target_version)
    newer = *source_version > *target_version;
  else if (target_version)
    newer = false;
  else
    newer = source_facts && target_facts && source_facts->time > target_facts->time;

  if (newer && mode == u"ALWAYS") return {true, false};
  if (!newer && !older_too) return {};
  // Nobody to ask in a silent run: a newer file replaces the old one, an
  // older one does not.
  if (c_.variables.silent() || !c_.ask) return {newer, false};
  auto date = [&](const std::optional<FileFacts>& facts) {
    if (!facts || facts->time <= 0) return c_.messages.line(kUnknownDate);
    auto [day, time] = c_.host.date_and_time(facts->time / 10000000);
    return day + u" " + time;
  };
  Text text = destination + u"\r\r" + c_.messages.line(kOldVersion) + version_text(target_version, c_.messages) +
              u"\r" + c_.messages.line(kOldDate) + date(target_facts) + u"\r\r" + c_.messages.line(kNewVersion) +
              version_text(source_version, c_.messages) + u"\r" + c_.messages.line(kNewDate) + date(source_facts) +
              u"\r\r" + c_.messages.line(kOverwriteQuestion);
  Answer answer = c_.ask(c_.messages.line(kOverwriteCaption), text);
  switch (settle(answer, u"NATIVE_OVERWRITE", u"ALWAYS", u"NEVER", u"Native Overwrite Dialog")) {
    case Answer::yes:
      return {true, false};
    case Answer::cancel:
      c_.variables.set_variable(u"ZEKO_IsCancelled", u"TRUE", u"Native Overwrite Cancel");
      return {false, true};
    default:
      return {};
  }
}

bool NativeEngine::attempt(const std::function<uint32_t()>& change, TextView object, const Text* failure) {
  while (true) {
    uint32_t code = change();
    if (code == 0) return true;
    Text reason = failure && !failure->empty() ? *failure : c_.machine.error_text(code);
    ErrorDecision decision = error_processor(reason + u"\r\r" + Text(object), code);
    if (decision.retry) continue;
    if (decision.abort) aborted_ = true;
    return false;
  }
}

// For changes that fail with a text of their own (the shell, the ODBC
// installer): the error processor sees that text and the code -1.
bool NativeEngine::attempt_text(const std::function<Text()>& change, TextView object) {
  Text failure;
  return attempt(
      [&]() -> uint32_t {
        failure = change();
        return failure.empty() ? 0 : 0xFFFFFFFFu;
      },
      object, &failure);
}

template <class Object>
void TakenSecurity::take(const Variables& variables, const Object& object) {
  if (!is_true(variables.value_of(u"NATIVE_OVERRIDE_PERMISSIONS"))) return;
  auto kept = machine_.read_security(object);
  if (!kept && !is_true(variables.value_of(u"NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS"))) return;
  if (machine_.take_ownership(object) != 0) return;
  taken_ = true;
  kept_ = std::move(kept);
}

TakenSecurity::TakenSecurity(Machine& machine, const Variables& variables, const Text& file) : machine_(machine) {
  if (is_true(variables.value_of(u"NATIVE_OVERRIDE_PERMISSIONS")) && machine.exists(file)) take(variables, file);
  if (taken_) file_ = file;
}

TakenSecurity::TakenSecurity(Machine& machine, const Variables& variables, const RegistryKey& key)
    : machine_(machine) {
  if (is_true(variables.value_of(u"NATIVE_OVERRIDE_PERMISSIONS")) && machine.key_exists(key)) take(variables, key);
  if (taken_) key_ = key;
}

TakenSecurity::~TakenSecurity() {
  if (!kept_) return;
  if (file_ && machine_.exists(*file_)) machine_.write_security(*file_, *kept_);
  if (key_ && machine_.key_exists(*key_)) machine_.write_security(*key_, *kept_);
}

bool NativeEngine::run_action(TextView command, const std::vector<Text>& record, TextView mode64) {
  log(u"      <NATIVE INSTALL>");
  bool ok = execute(command, record, mode64);
  log(u"      </NATIVE INSTALL>");
  return ok;
}

int NativeEngine::run_queue() {
  log(u"      <NATIVE DELAYEDINSTALL>");
  progress_max_ = c_.state.queued_weight;
  int status = 1;
  for (size_t i = 0; i + 3 < c_.state.queue.size(); i += 4) {
    if (!execute(c_.state.queue[i], from_comma_text(c_.state.queue[i + 2]), c_.state.queue[i + 3])) {
      status = 0;
      break;
    }
  }
  log(u"      </NATIVE DELAYEDINSTALL>");
  return status;
}

bool NativeEngine::execute(TextView command, const std::vector<Text>& record, TextView mode64) {
  log(u"        <" + Text(command) + u">");
  mode64_ = Text(mode64);
  aborted_ = false;
  c_.machine.enter_mode(mode64_);
  bool ok = true;
  if (command == u"Write Registry") ok = write_registry(record);
  else if (command == u"Create Folder") ok = create_folder(collapse_backslashes(field(record, 0)), true);
  else if (command == u"Install Files") ok = install_files(record);
  else if (command == u"Delete Files") ok = delete_files(record);
  else if (command == u"Edit INI File") ok = edit_ini_file(record);
  else if (command == u"Set Environment") ok = set_environment(record);
  else if (command == u"Create File Type") ok = create_file_type(record);
  else if (command == u"Create Shortcut") ok = create_shortcut(record);
  else if (command == u"Copy/Move Local Files") ok = copy_local_files(record);
  else if (command == u"Install Service") ok = install_service(record);
  else if (command == u"Create ODBC DSN") ok = create_data_source(record);
  else if (command == u"Install ODBC Driver") ok = install_odbc_driver(record);
  else if (command == u"Install Assembly") ok = install_assembly(record);
  else if (command == u"Control Service") ok = control_service(record);
  c_.machine.leave_mode();
  log(u"        </" + Text(command) + u">");
  return ok && !aborted_;
}

bool NativeEngine::write_registry(const std::vector<Text>& record, bool* written) {
  bool permanent = field(record, 0) == u"TRUE";
  RegistryKey key = registry_key(field(record, 1), field(record, 2));
  Text name = field(record, 3), data = field(record, 4), kind = field(record, 5);
  if (!progress_step(root_name(key.root) + u"\\" + key.path + u"\\" + name + u"\\" + data, 512)) return false;

  RegistryValue value;
  std::optional<uint32_t> invalid;
  if (kind == u"INTEGER") {
    auto number = parse_int32(data);
    if (number) value = {kRegDword, {}, {}, static_cast<uint32_t>(*number)};
    else invalid = kErrorInvalidDataType;
  } else if (kind == u"EXPANDSTRING") {
    value = {kRegExpandSz, data};
  } else if (kind == u"APPEND" || kind == u"PREPEND") {
    value.type = kRegMultiSz;
    std::vector<Text> strings;
    if (auto old = c_.machine.read_value(key, name); old && old->type == kRegMultiSz) {
      strings = old->strings;
      if (!strings.empty() && strings.back().empty()) strings.pop_back();
    }
    if (kind == u"APPEND") strings.push_back(data);
    else strings.insert(strings.begin(), data);
    value.strings = std::move(strings);
  } else if (kind == u"BINARY") {
    auto bytes = hex_bytes(data);
    if (bytes) value = {kRegBinary, {}, {}, 0, *bytes};
    else invalid = kErrorInvalidData;
  } else {
    value = {kRegSz, data};
  }

  // The keys this write creates, deepest first, so that removal can stop
  // at the first one something else has filled.
  std::vector<Text> fields = {field(record, 1), key.path, name};
  for (RegistryKey part = key; !part.path.empty() && !c_.machine.key_exists(part);) {
    fields.push_back(part.path);
    size_t slash = part.path.find_last_of(u'\\');
    part.path = slash == Text::npos ? Text() : part.path.substr(0, slash);
  }
  if (!permanent) note_undo(u"Write Registry", fields);
  Text object = root_name(key.root) + u"\\" + key.path + u"\\" + name;
  TakenSecurity taken(c_.machine, c_.variables, key);
  bool ok = attempt([&] { return invalid ? *invalid : c_.machine.write_value(key, name, value); }, object);
  if (!ok && !permanent) c_.state.undo.withdraw_last(logging_off());
  if (ok) log(u"        < " + object + u" >");
  if (written) *written = ok;
  return true;
}

// The folders on the path that do not exist yet, deepest first.
std::vector<Text> NativeEngine::missing_folders(const Text& folder) { return kyt::missing_folders(c_.machine, folder); }

bool NativeEngine::folder_present(const Text& folder) {
  Text key = to_lower(folder);
  while (!key.empty() && key.back() == u'\\') key.pop_back();
  if (present_folders_.contains(key)) return true;
  if (!c_.machine.is_folder(folder)) return false;
  present_folders_.insert(key);
  return true;
}

bool NativeEngine::create_folder(const Text& folder, bool record_undo) {
  std::vector<Text> missing = missing_folders(folder);
  if (!progress_step(folder, 1024)) return false;
  if (missing.empty()) return true;
  // The entry stays even when a level fails: its undo passes over folders
  // that were never made and removes the ones that were.
  if (record_undo) note_undo(u"Create Folder", missing);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!attempt([&] { return c_.machine.create_folder(*it); }, *it)) return false;
    log(u"        < " + *it + u" >");
  }
  return true;
}

// The log folder also holds the files kept for a rollback and the copies
// waiting for a restart; a folder made for them goes with a rollback.
bool NativeEngine::ensure_log_folder() {
  Text folder = log_folder();
  std::vector<Text> missing = missing_folders(folder);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (!attempt([&] { return c_.machine.create_folder(*it); }, *it)) return false;
  if (!missing.empty()) c_.state.log_folder_created = true;
  return true;
}

bool NativeEngine::keep_aside(const Text& destination) {
  if (!ensure_log_folder()) return false;
  Text kept = free_name(with_backslash(log_folder()) + u"kept.");
  if (!attempt([&] { return c_.machine.copy_file(destination, kept, nullptr); }, kept)) return false;
  c_.state.kept_files.emplace_back(destination, kept);
  return true;
}

bool NativeEngine::for_each_group_file(const Text& header,
                                       const std::function<bool(const Text& stored, const Text& sub)>& visit) {
  // The file group: the header, "NEWHEADER", then (stored path, sub-folder)
  // pairs up to the next header.
  const StringList& table = c_.payload.header_file_table;
  size_t at = table.index_of(header);
  while (at != StringList::npos && table.at_or_empty(at + 1) != u"NEWHEADER") at = StringList::npos;
  if (at == StringList::npos) return true;
  for (size_t i = at + 2; i + 1 < table.size(); i += 2) {
    if (table.at_or_empty(i + 1) == u"NEWHEADER") break;
    if (!visit(table.at_or_empty(i), table.at_or_empty(i + 1))) return false;
  }
  return true;
}

bool NativeEngine::install_files(const std::vector<Text>& record) {
  Text target = with_backslash(field(record, 1));
  Text media = with_backslash(setting(u"DATADIR"));
  bool skip_rest = false;
  FileFlags flags = install_flags(record);
  bool ok = true;
  for_each_group_file(field(record, 0), [&](const Text& stored, const Text& sub) {
    Text destination = target + (sub.empty() ? Text() : with_backslash(sub)) + file_name_of(stored);
    ok = install_one_file(media + stored, destination, flags, skip_rest);
    return ok && !skip_rest;
  });
  return ok;
}

// The record: header, target folder, into the assembly cache. Without the
// cache the files are installed like Install Files installs them.
bool NativeEngine::install_assembly(const std::vector<Text>& record) {
  if (!is_true(field(record, 2))) return install_files({field(record, 0), field(record, 1)});
  Text media = with_backslash(setting(u"DATADIR"));
  bool force = is_true(setting(u"NATIVE_OVERWRITE_OLDER"));
  return for_each_group_file(field(record, 0), [&](const Text& stored, const Text&) {
    Text source = media + stored, name = file_name_of(stored);
    auto facts = c_.machine.facts(source);
    if (!progress_step(u"GAC: " + name, facts ? static_cast<int64_t>(facts->size) : 0)) return false;
    note_undo(u"Install Assembly", {stored, name});
    if (!attempt_text([&] { return c_.machine.install_assembly(source, force); }, name)) {
      c_.state.undo.withdraw_last(logging_off());
      return !aborted_;
    }
    log(u"        < GAC: " + name + u" >");
    return true;
  });
}

NativeEngine::FileFlags NativeEngine::install_flags(const std::vector<Text>& record) {
  FileFlags flags;
  flags.read_only = is_true(field(record, 2));
  flags.hidden = is_true(field(record, 3));
  flags.system = is_true(field(record, 4));
  flags.stop_on_skip = is_true(field(record, 5));
  flags.shared = is_true(field(record, 7));
  flags.permanent = is_true(field(record, 8));
  flags.only_if_missing = is_true(field(record, 9));
  flags.self_register = is_true(field(record, 6));
  return flags;
}

bool NativeEngine::install_one_file(const Text& source, const Text& destination, const FileFlags& flags,
                                    bool& skip_rest) {
  const bool read_only = flags.read_only, hidden = flags.hidden, system = flags.system;
  const bool stop_on_skip = flags.stop_on_skip, shared = flags.shared, permanent = flags.permanent;
  const bool only_if_missing = flags.only_if_missing;
  Machine& machine = c_.machine;

  if (!progress_step(destination, 0)) return false;
  bool existed = machine.exists(destination);
  if (only_if_missing && existed) return true;
  OverwriteDecision decision = overwrite_processor(source, destination, existed);
  if (decision.cancelled) return false;
  if (!decision.overwrite) {
    // The product relies on the file it kept: its share counts.
    if (shared && existed) share(destination, existed, permanent, flags.self_register);
    skip_rest = stop_on_skip;
    return true;
  }
  if (!folder_present(folder_of(destination)) && !create_folder(folder_of(destination), true)) return false;

  TakenSecurity taken(c_.machine, c_.variables, destination);
  bool in_use = existed && machine.in_use(destination);
  bool recorded = !permanent && !shared && !logging_off();
  if (!permanent && !shared) note_undo(u"Create File", {destination});
  // What this run replaces comes back on rollback.
  if (existed && !in_use && !keep_aside(destination)) {
    if (recorded) c_.state.undo.withdraw_last(false);
    return !aborted_;
  }
  Text written = destination;
  if (in_use) {
    // Copied beside the log and swapped in at the next restart.
    if (!ensure_log_folder()) return !aborted_;
    Text placeholder = free_name(with_backslash(log_folder()) + u"move.");
    written = placeholder;
  }
  auto source_facts = machine.facts(source);
  uint64_t size = source_facts ? source_facts->size : 0;
  auto copy = [&]() -> uint32_t {
    if (!flags.move && is_true(setting(u"NATIVE_HARDLINK")) && machine.same_drive(source, written)) {
      if (machine.exists(written)) {
        machine.set_attributes(written, kAttributeNormal);
        machine.delete_file(written);
      }
      if (machine.hard_link(source, written) == 0) {
        progress_step(u"$IGNORE$", static_cast<int64_t>(size));
        return 0;
      }
    }
    if (flags.move) {
      if (machine.exists(written)) {
        machine.set_attributes(written, kAttributeNormal);
        machine.delete_file(written);
      }
      uint32_t code = machine.move_file(source, written);
      if (code == 0) progress_step(u"$IGNORE$", static_cast<int64_t>(size));
      return code;
    }
    Text backup = setting(u"NATIVE_PROGRESS");
    c_.variables.store().set(u"NATIVE_PROGRESS_BACKUP", backup);
    uint64_t reported = 0;
    uint32_t code = machine.copy_file(source, written, [&](uint64_t copied) {
      bool go_on = progress_step(u"$IGNORE$", static_cast<int64_t>(copied - reported));
      reported = copied;
      return go_on;
    });
    if (code == 0 || code == kErrorRequestAborted) return code;
    // Once more without progress, counting the file in one step.
    c_.variables.store().set(u"NATIVE_PROGRESS", backup);
    progress_step(u"$IGNORE$", static_cast<int64_t>(size));
    code = machine.copy_file(source, written, nullptr);
    // A new file that arrived despite the error counts as copied.
    if (code != 0 && !existed && machine.exists(written)) return 0;
    return code;
  };
  if (!attempt(copy, destination) || stop_requested()) {
    if (recorded) c_.state.undo.withdraw_last(false);
    skip_rest = stop_on_skip;
    return !aborted_ && !stop_requested();
  }
  // A copy is made plain; a hard link shares its attributes with the data
  // folder's file and keeps them.
  if (in_use) {
    machine.at_restart(written, destination);
    c_.state.restart_needed = true;
  }
  if (flags.self_register) {
    if (!permanent && !shared) note_undo(u"Register File", {destination});
    if (in_use) {
      // The new file arrives at the restart: so does its registration.
      RegistryKey run_once{2, {}, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"};
      Text command = u"\"" + machine.system_program(u"regsvr32.exe", mode64_) + u"\" /s \"" + destination + u"\"";
      machine.write_value(run_once, file_name_of(destination), {kRegSz, command});
    } else if (!register_file(destination, false) && !permanent && !shared) {
      c_.state.undo.withdraw_last(logging_off());
    }
  }
  if (shared) share(destination, existed, permanent, flags.self_register);
  if (read_only || hidden || system)
    machine.set_attributes(destination, kAttributeNormal | (read_only ? kAttributeReadOnly : 0) |
                                            (hidden ? kAttributeHidden : 0) | (system ? kAttributeSystem : 0));
  log(u"        < " + destination + u" >");
  return true;
}

void NativeEngine::share(const Text& destination, bool existed, bool permanent, bool self_register) {
  RegistryKey key{2, {}, Text(kSharedDlls)};
  auto count = c_.machine.read_value(key, destination);
  uint32_t next = count && count->type == kRegDword ? count->number + 1 : existed ? 2 : 1;
  if (!permanent) note_undo(self_register ? u"Share Self Registering File" : u"Share File", {destination});
  if (!attempt([&] { return c_.machine.write_value(key, destination, {kRegDword, {}, {}, next}); },
               u"HKEY_LOCAL_MACHINE\\" + Text(kSharedDlls) + u"\\" + destination) &&
      !permanent)
    c_.state.undo.withdraw_last(logging_off());
}

bool NativeEngine::register_file(const Text& path, bool unregister) {
  if (!progress_step(Text(unregister ? u"unregsvr32 " : u"regsvr32 ") + path, 0)) return false;
  Machine& machine = c_.machine;
  Text folder = folder_of(path);
  bool program = to_upper(path).ends_with(u".EXE");
  // A library is registered by the regsvr32 of its own bitness.
  auto image = machine.image_machine(path);
  Text mode = image && (*image == 0x8664 || *image == 0x0200 || *image == 0xAA64) ? u"x64" : u"Win32";
  Text tool = program ? path : machine.system_program(u"regsvr32.exe", mode);
  Text arguments = program ? Text(unregister ? u"/UnregServer" : u"/RegServer")
                           : Text(unregister ? u"/u /s \"" : u"/s \"") + path + u"\"";
  return attempt(
      [&]() -> uint32_t {
        auto code = machine.run_program(tool, arguments, folder, mode);
        return !code ? kErrorFileNotFound : *code;
      },
      tool + u" " + arguments);
}

bool NativeEngine::delete_files(const std::vector<Text>& record) {
  Text folder = with_backslash(field(record, 0)), pattern = field(record, 1);
  if (!progress_step(folder + pattern, 102400)) return false;
  std::vector<Text> names = c_.machine.list_files(folder, pattern);
  std::sort(names.begin(), names.end());
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    c_.machine.set_attributes(folder + *it, kAttributeNormal);
    c_.machine.delete_file(folder + *it);  // failures are ignored
  }
  return true;
}

bool NativeEngine::edit_ini_file(const std::vector<Text>& record) {
  Text file = field(record, 0), section = field(record, 1), key = field(record, 2), value = field(record, 3);
  Text mode = field(record, 4);
  if (!progress_step(file + u": [" + section + u"] " + key + u"=" + value, 10240)) return false;
  Machine& machine = c_.machine;
  std::optional<Text> current = machine.ini_read(file, section, key);
  bool has_value = current && !current->empty();
  Text object = file + u": [" + section + u"] " + key;
  bool records = mode == u"0" || mode == u"1" || mode == u"3";
  // An INI file this action brings into being goes again at uninstall,
  // after its entry (entries are undone last first).
  bool creates_file = records && !(mode == u"1" && has_value) && !machine.exists(file);
  if (creates_file) note_undo(u"Create File", {file});
  if (records) note_undo(u"Edit INI File", {file, section, key, mode == u"3" ? value : Text()});
  auto write = [&](const Text& text) {
    return attempt([&] { return text.empty() ? machine.ini_delete(file, section, key)
                                             : machine.ini_write(file, section, key, text); },
                   object);
  };
  bool ok = true;
  if (mode == u"1" && has_value) {
    c_.state.undo.withdraw_last(logging_off());
    return true;
  }
  auto withdraw = [&] {
    c_.state.undo.withdraw_last(logging_off());
    if (creates_file) c_.state.undo.withdraw_last(logging_off());
  };
  if (mode == u"0" || mode == u"1") ok = write(value);
  else if (mode == u"2") ok = attempt([&] { return machine.ini_delete(file, section, key); }, object);
  else if (mode == u"3") ok = write(has_value ? value + u", " + *current : value);
  else if (mode == u"4" && has_value && find_ignore_case(*current, value) != Text::npos) {
    if (auto rest = cut_list_item(*current, value)) ok = write(*rest);
    else if (equals_ignore_case(trim(*current), value)) ok = write(u"");
  }
  if (!ok && records) withdraw();
  return true;
}

bool NativeEngine::set_environment(const std::vector<Text>& record) {
  Text name = field(record, 0), value = field(record, 1), operation = field(record, 2), position = field(record, 3);
  bool remove_at_uninstall = is_true(field(record, 4)), system = is_true(field(record, 5));
  RegistryKey key{system ? 2 : 1, {}, Text(system ? kSystemEnvironment : kUserEnvironment)};
  Machine& machine = c_.machine;
  auto old = machine.read_value(key, name);
  if (operation == u"1" && old) return progress_step(name + u"=" + old->text, 1024);
  if (operation == u"2") {
    if (!progress_step(name + u"=", 1024)) return false;
    if (old) attempt([&] { return machine.delete_value(key, name); }, name);
    machine.environment_changed();
    return true;
  }
  uint32_t type = old && old->type == kRegExpandSz ? kRegExpandSz : kRegSz;
  Text text = value;
  if (position != u"2" && old) text = position == u"1" ? old->text + value : value + old->text;
  if (!progress_step(name + u"=" + text, 1024)) return false;
  if (remove_at_uninstall)
    note_undo(u"Set Environment", {Text(system ? kMachineHandle : kUserHandle), key.path, name, value,
                                type == kRegExpandSz ? u"2" : u"1", position == u"2" ? u"TRUE" : u"FALSE"});
  if (!attempt([&] { return machine.write_value(key, name, {type, text}); }, name)) {
    if (remove_at_uninstall) c_.state.undo.withdraw_last(logging_off());
    return true;
  }
  machine.environment_changed();
  return true;
}

// Every value is a nested "Write Registry" of a string under
// HKEY_CLASSES_ROOT with its own undo entry; the first failure ends the
// action.
bool NativeEngine::create_file_type(const std::vector<Text>& record) {
  Text prog_id = field(record, 0), program = field(record, 1), description = field(record, 2);
  Text icon = field(record, 3), icon_index = field(record, 4);
  if (!progress_step(prog_id + u": " + description + u"/" + program, 5120)) return false;
  auto write = [&](const Text& key, const Text& data) {
    bool written = false;
    return write_registry({u"FALSE", u"0", key, u"", data, u"STRING"}, &written) && written;
  };
  if (!write(prog_id, description)) return false;
  if (!icon.empty() && !write(prog_id + u"\\DefaultIcon", icon_index.empty() ? icon : icon + u"," + icon_index))
    return false;
  for (const Text& extension : from_comma_text(field(record, 5)))
    if (!extension.empty() && !write(extension, prog_id)) return false;
  for (const Text& verb_text : from_comma_text(field(record, 6))) {
    // verb|arguments|DDE text|DDE application|DDE topic
    std::vector<Text> verb;
    for (Text rest = verb_text;;) {
      auto [head, tail] = split_at_bar(rest);
      verb.push_back(head);
      if (rest.find(u'|') == Text::npos) break;
      rest = tail;
    }
    if (verb.empty() || verb[0].empty()) continue;
    Text shell = prog_id + u"\\Shell\\" + verb[0];
    Text arguments = field(verb, 1);
    if (!write(shell + u"\\Command", u"\"" + program + u"\" " + arguments)) return false;
    if (!field(verb, 2).empty()) {
      if (!write(shell + u"\\ddeexec", field(verb, 2)) ||
          !write(shell + u"\\ddeexec\\application", field(verb, 3)) ||
          !write(shell + u"\\ddeexec\\topic", field(verb, 4)))
        return false;
    }
  }
  return true;
}

bool NativeEngine::create_shortcut(const std::vector<Text>& record) {
  Text name = field(record, 0), description = field(record, 1), folder = field(record, 2), target = field(record, 3);
  Text arguments = field(record, 4), working = field(record, 5), icon = field(record, 6);
  int icon_index = parse_int32(field(record, 7)).value_or(0);
  int show = parse_int32(field(record, 8)).value_or(0);
  Text link = with_backslash(folder) + name + u".lnk";
  if (!progress_step(link, 10240)) return false;
  if (!c_.machine.is_folder(folder) && !create_folder(folder, true)) return false;
  note_undo(u"Create File", {link});
  bool ok = attempt_text(
      [&] { return c_.machine.create_shortcut(link, target, working, arguments, description, icon, icon_index, show); },
      link);
  if (!ok) c_.state.undo.withdraw_last(logging_off());
  else log(u"        < " + link + u" >");
  return true;
}

bool NativeEngine::copy_local_files(const std::vector<Text>& record) {
  Text source = with_backslash(field(record, 0)), pattern = field(record, 1);
  Text target = with_backslash(field(record, 2)), name = field(record, 5);
  bool copy = field(record, 3) == u"TRUE", recurse = is_true(field(record, 4));
  if (!progress_step(source + pattern + u" -> " + target, 1048576)) return false;
  bool wildcards = pattern.find_first_of(u"*?") != Text::npos || name.find_first_of(u"*?") != Text::npos;
  FileFlags flags;
  flags.move = !copy;
  bool skip_rest = false;
  return for_each_file(c_.machine, source, pattern, recurse, [&](const Text& relative, const Text& file) {
    Text destination = target + relative + (wildcards || name.empty() ? file : name);
    return install_one_file(source + relative + file, destination, flags, skip_rest);
  });
}

// The record: header, name, display name, description, program (the file
// of the group that runs the service), dependencies, target folder, type,
// interactive, start type, error control, account, password, arguments.
bool NativeEngine::install_service(const std::vector<Text>& record) {
  // The files first, as Install Files does (without its flags).
  if (!install_files({field(record, 0), field(record, 6)})) return false;
  if (aborted_) return false;
  Text name = field(record, 1), display = field(record, 2), description = field(record, 3);
  if (!progress_step(name + u", " + display + u", " + description, 0)) return false;
  ServiceConfig config;
  config.name = name;
  config.display_name = display;
  config.binary_path = u"\"" + with_backslash(field(record, 6)) + field(record, 4) + u"\"";
  if (!field(record, 13).empty()) config.binary_path += u" " + field(record, 13);
  Text dependencies = field(record, 5);
  if (dependencies != u"$NULL$")
    for (const Text& dependency : from_comma_text(dependencies))
      if (!dependency.empty()) config.dependencies.push_back(dependency);
  config.type = (field(record, 7) == u"0" ? 16u : 32u) | (is_true(field(record, 8)) ? 0x100u : 0u);
  config.start_type = field(record, 9) == u"0" ? 2 : field(record, 9) == u"1" ? 3 : 4;
  config.error_control = field(record, 10) == u"0" ? 0 : field(record, 10) == u"1" ? 1 : 2;
  config.account = field(record, 11);
  config.password = field(record, 12);
  note_undo(u"Create Service", {name});
  if (!attempt([&] { return c_.machine.create_service(config); }, name)) {
    c_.state.undo.withdraw_last(logging_off());
    return true;
  }
  log(u"        < " + name + u" >");
  if (!description.empty())
    write_registry({u"FALSE", u"2", u"SYSTEM\\CurrentControlSet\\Services\\" + name, u"Description", description,
                    u"STRING"});
  return true;
}

// The record: name, start argument, operation (0 start, 1 stop, 2 stop
// and delete), wait, start type code (10 automatic, 20 on demand, 30
// disabled; below 10 unchanged). Nothing is recorded.
bool NativeEngine::control_service(const std::vector<Text>& record) {
  Text name = field(record, 0), argument = field(record, 1);
  int operation = parse_int32(field(record, 2)).value_or(0) % 3;
  bool wait = is_true(field(record, 3));
  int start_code = parse_int32(field(record, 4)).value_or(0);
  if (!progress_step(name, 0)) return false;
  Machine& machine = c_.machine;
  constexpr uint32_t kAlreadyRunning = 1056, kNotActive = 1062;
  if (operation == 0) {
    attempt([&] {
      uint32_t code = machine.start_service(name, argument, wait);
      return code == kAlreadyRunning ? 0u : code;
    }, name);
  } else {
    attempt([&] {
      uint32_t code = machine.stop_service(name, wait);
      return code == kNotActive ? 0u : code;
    }, name);
  }
  if (start_code > 9)
    attempt([&] { return machine.set_service_start(name, start_code >= 30 ? 4 : start_code >= 20 ? 3 : 2); },
            name);
  if (operation == 2) attempt([&] { return machine.delete_service(name); }, name);
  return true;
}

// The record: name, driver, system data source, attributes (one key=value
// per line).
bool NativeEngine::create_data_source(const std::vector<Text>& record) {
  Text name = field(record, 0), driver = field(record, 1);
  bool system = is_true(field(record, 2));
  if (!progress_step(name + u": " + driver, 5120)) return false;
  std::vector<Text> attributes = {u"DSN=" + name};
  for (const Text& line : split_lines(field(record, 3)))
    if (!line.empty()) attributes.push_back(line);
  note_undo(u"Create ODBC DSN", {name, driver, system ? u"TRUE" : u"FALSE"});
  bool ok = attempt_text([&] { return c_.machine.configure_data_source(system ? 4 : 1, driver, attributes); }, name);
  if (!ok) c_.state.undo.withdraw_last(logging_off());
  return true;
}

// The record: header, target folder, driver file, driver name, attributes,
// setup file. A driver may serve several products: its driver and setup
// files and its values carry no entries of their own; one "Install ODBC
// Driver" entry takes them away when the last product that counted it goes.
bool NativeEngine::install_odbc_driver(const std::vector<Text>& record) {
  Text target = with_backslash(field(record, 1));
  Text driver_path = target + field(record, 2), name = field(record, 3);
  Text setup_path = field(record, 5).empty() ? driver_path : target + field(record, 5);
  if (!install_files({field(record, 0), field(record, 1)}) || aborted_) return false;
  c_.state.undo.forget(u"Delete File", to_comma_text({driver_path}));
  c_.state.undo.forget(u"Delete File", to_comma_text({setup_path}));
  if (!progress_step(u"ODBC: " + name, 0)) return false;
  Text key = u"SOFTWARE\\ODBC\\ODBCINST.INI\\" + name;
  RegistryKey driver_key{2, {}, key};
  auto count = c_.machine.read_value(driver_key, u"UsageCount");
  uint32_t usage = count && count->type == kRegDword ? count->number + 1 : 1;
  note_undo(u"Install ODBC Driver", {name, driver_path, setup_path});
  bool ok = attempt([&] { return c_.machine.write_value(driver_key, u"UsageCount", {kRegDword, {}, {}, usage}); },
                    u"HKEY_LOCAL_MACHINE\\" + key);
  if (!ok) {
    c_.state.undo.withdraw_last(logging_off());
    return true;
  }
  write_registry({u"TRUE", u"2", key, u"Driver", driver_path, u"STRING"});
  write_registry({u"TRUE", u"2", key, u"Setup", setup_path, u"STRING"});
  for (const Text& line : split_lines(field(record, 4))) {
    size_t equals = line.find(u'=');
    if (equals != Text::npos)
      write_registry({u"TRUE", u"2", key, line.substr(0, equals), line.substr(equals + 1), u"STRING"});
  }
  write_registry({u"TRUE", u"2", u"SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers", name, u"Installed", u"STRING"});
  return true;
}

int NativeEngine::replay(bool uninstall) {
  Text base = log_base();
  bool created = c_.state.undo.flush(c_.log_files, base);
  std::vector<UndoEntry> entries = UndoLog::load(c_.log_files, base);
  int64_t total = 0;
  for (const auto& entry : entries) total += entry.weight;
  Text saved_progress = setting(u"NATIVE_PROGRESS");
  c_.variables.store().set(u"NATIVE_PROGRESS", u"0");
  Text saved_mode = mode64_;
  int64_t saved_max = progress_max_;
  progress_max_ = total;
  rolling_back_ = !uninstall;
  aborted_ = false;
  int result = 1;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    log(u"        <" + it->element + u">");
    mode64_ = it->bitness;
    c_.machine.enter_mode(mode64_);
    log(u"        < " + it->data + u" >");
    undo(*it, uninstall);
    c_.machine.leave_mode();
    if (aborted_) {
      result = 0;
      break;
    }
    bool go_on = progress_step(it->element + u": " + it->data, it->weight);
    log(u"        </" + it->element + u">");
    if (!go_on && uninstall) {
      result = 0;
      break;
    }
  }
  if (!uninstall) {
    // Files the run replaced return to where they were.
    for (auto it = c_.state.kept_files.rbegin(); it != c_.state.kept_files.rend(); ++it) {
      if (!c_.machine.exists(it->first)) c_.machine.move_file(it->second, it->first);
      else c_.machine.delete_file(it->second);
    }
    c_.state.kept_files.clear();
  }
  c_.variables.store().set(u"NATIVE_PROGRESS", saved_progress);
  mode64_ = saved_mode;
  progress_max_ = saved_max;
  rolling_back_ = false;
  if (created || (!uninstall && c_.state.log_folder_created)) {
    // A rollback of a first installation leaves no log behind.
    UndoLog::remove(c_.log_files, base);
    c_.machine.remove_folder(log_folder());
  }
  return result;
}

bool NativeEngine::undo(const UndoEntry& entry, bool uninstall) {
  std::vector<Text> fields = from_comma_text(entry.data);
  if (entry.element == u"Delete Registry") return undo_registry(fields);
  if (entry.element == u"Delete File") return undo_file(field(fields, 0));
  if (entry.element == u"Unshare File") return undo_share(field(fields, 0), false);
  if (entry.element == u"Unshare Self Registering File") return undo_share(field(fields, 0), true);
  if (entry.element == u"Unregister File")
    return !c_.machine.exists(field(fields, 0)) || register_file(field(fields, 0), true);
  if (entry.element == u"Delete Folder") return undo_folders(fields);
  if (entry.element == u"Remove ODBC DSN") {
    return attempt_text(
        [&] {
          return c_.machine.configure_data_source(is_true(field(fields, 2)) ? 6 : 3, field(fields, 1),
                                                  {u"DSN=" + field(fields, 0)});
        },
        field(fields, 0));
  }
  if (entry.element == u"Delete ODBC Driver") {
    Text name = field(fields, 0), key = u"SOFTWARE\\ODBC\\ODBCINST.INI\\" + name;
    RegistryKey driver_key{2, {}, key};
    auto count = c_.machine.read_value(driver_key, u"UsageCount");
    uint32_t left = count && count->type == kRegDword && count->number > 0 ? count->number - 1 : 0;
    if (left > 0)
      return attempt([&] { return c_.machine.write_value(driver_key, u"UsageCount", {kRegDword, {}, {}, left}); },
                     key);
    for (const Text& value : c_.machine.value_names(driver_key)) c_.machine.delete_value(driver_key, value);
    c_.machine.delete_key(driver_key);
    c_.machine.delete_value({2, {}, u"SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers"}, name);
    bool ok = undo_file(field(fields, 1));
    return (field(fields, 2) == field(fields, 1) || undo_file(field(fields, 2))) && ok;
  }
  if (entry.element == u"Delete Service") {
    constexpr uint32_t kServiceMissing = 1060;
    return attempt([&] {
      uint32_t code = c_.machine.delete_service(field(fields, 0));
      return code == kServiceMissing ? 0u : code;
    }, field(fields, 0));
  }
  if (entry.element == u"Remove Assembly") {
    Text name = field(fields, 1);
    if (size_t dot = name.rfind(u'.'); dot != Text::npos) name.resize(dot);
    if (!progress_step(u"GAC: " + name, 0)) return false;
    return attempt_text([&] { return c_.machine.uninstall_assembly(name); }, name);
  }
  if (entry.element == u"Remove INI Entry") return undo_ini(fields);
  if (entry.element == u"Delete Environment") return undo_environment(fields);
  log(u"        < not undone here: " + entry.element + u" >");
  return true;
}

bool NativeEngine::undo_registry(const std::vector<Text>& fields) {
  RegistryKey key = registry_key(field(fields, 0), field(fields, 1));
  Text name = field(fields, 2);
  Text object = root_name(key.root) + u"\\" + key.path + u"\\" + name;
  TakenSecurity taken(c_.machine, c_.variables, key);
  if (c_.machine.read_value(key, name) && !attempt([&] { return c_.machine.delete_value(key, name); }, object))
    return false;
  for (size_t i = 3; i < fields.size(); ++i) {
    RegistryKey created = registry_key(field(fields, 0), fields[i]);
    if (!c_.machine.key_exists(created)) continue;
    if (!c_.machine.key_is_empty(created)) break;
    if (!attempt([&] { return c_.machine.delete_key(created); }, root_name(created.root) + u"\\" + created.path))
      return false;
  }
  return true;
}

bool NativeEngine::undo_file(const Text& path) {
  Machine& machine = c_.machine;
  auto facts = machine.facts(path);
  // A folder (or a link to one) now stands where the file was: not ours.
  constexpr uint32_t kDirectory = 0x10;
  if (!facts || (facts->attributes & kDirectory)) return true;
  TakenSecurity taken(machine, c_.variables, path);
  if (facts->attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem))
    machine.set_attributes(path, kAttributeNormal);
  return attempt(
      [&]() -> uint32_t {
        uint32_t code = machine.delete_file(path);
        if (code == 0 || !machine.exists(path)) return 0;
        if (!machine.in_use(path)) return code;
        // In use: renamed out of the way and deleted at the next restart.
        Text renamed = free_name(path + u".");
        if (machine.move_file(path, renamed) == 0) machine.at_restart(u"", renamed);
        else machine.at_restart(u"", path);
        c_.state.restart_needed = true;
        return 0;
      },
      path);
}

bool NativeEngine::undo_share(const Text& path, bool self_register) {
  RegistryKey key{2, {}, Text(kSharedDlls)};
  auto count = c_.machine.read_value(key, path);
  if (!count) return true;
  uint32_t left = count->type == kRegDword && count->number > 0 ? count->number - 1 : 0;
  Text object = u"HKEY_LOCAL_MACHINE\\" + Text(kSharedDlls) + u"\\" + path;
  if (left > 0) return attempt([&] { return c_.machine.write_value(key, path, {kRegDword, {}, {}, left}); }, object);
  if (!attempt([&] { return c_.machine.delete_value(key, path); }, object)) return false;
  if (self_register && c_.machine.exists(path)) register_file(path, true);
  return undo_file(path);
}

bool NativeEngine::undo_folders(const std::vector<Text>& folders) {
  for (const Text& folder : folders) {
    if (!c_.machine.exists(folder)) continue;
    if (!c_.machine.is_folder(folder) || !c_.machine.folder_is_empty(folder)) break;
    if (!attempt([&] { return c_.machine.exists(folder) ? c_.machine.remove_folder(folder) : 0u; }, folder))
      return false;
  }
  return true;
}

bool NativeEngine::undo_ini(const std::vector<Text>& fields) {
  Text file = field(fields, 0), section = field(fields, 1), key = field(fields, 2), text = field(fields, 3);
  Text object = file + u": [" + section + u"] " + key;
  auto remove = [&] { return attempt([&] { return c_.machine.ini_delete(file, section, key); }, object); };
  if (text.empty()) return remove();
  std::optional<Text> current = c_.machine.ini_read(file, section, key);
  if (!current) return true;
  if (auto rest = cut_list_item(*current, text))
    return attempt([&] { return c_.machine.ini_write(file, section, key, *rest); }, object);
  if (equals_ignore_case(trim(*current), text)) return remove();
  return true;
}

bool NativeEngine::undo_environment(const std::vector<Text>& fields) {
  bool machine_wide = field(fields, 0) == kMachineHandle;
  RegistryKey key{machine_wide ? 2 : 1, {}, field(fields, 1)};
  Text name = field(fields, 2), text = field(fields, 3);
  auto current = c_.machine.read_value(key, name);
  if (!current) return true;
  bool ok;
  if (field(fields, 5) == u"TRUE") {
    ok = attempt([&] { return c_.machine.delete_value(key, name); }, name);
  } else {
    size_t at = current->text.find(text);
    if (text.empty() || at == Text::npos) return true;
    Text rest = current->text.substr(0, at) + current->text.substr(at + text.size());
    uint32_t type = field(fields, 4) == u"1" ? kRegSz : kRegExpandSz;
    ok = rest.empty() ? attempt([&] { return c_.machine.delete_value(key, name); }, name)
                      : attempt([&] { return c_.machine.write_value(key, name, {type, rest}); }, name);
  }
  c_.machine.environment_changed();
  return ok;
}

}  // namespace kyt
