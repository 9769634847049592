// The installation commands: each builds its action record and hands it to
// the native apply engine, which runs it at once on its worker thread or
// queues it for "Apply Changes"; and the commands of the family that act
// at once.
#include "base/comma_text.h"
#include "install/native_engine.h"
#include "install/registration.h"
#include "install/xml_edit.h"
#include "script/interpreter.h"
#include "script/worker.h"

namespace kyt {

namespace {

constexpr TextView kNoHeaders = u"Unable to obtain command headers. Please rebuild your project.";
constexpr size_t kGeneralFailure = 19;

NativeContext native_context(CommandContext& command, const std::atomic<bool>* stop) {
  Host& host = command.host();
  NativeContext context{command.variables(), host, host.machine(), host.files(), command.session().install,
                        command.payload(), command.session().messages};
  context.log = command.session().setup_log;
  context.ask = [&host](TextView title, TextView text) {
    int answer = host.ask_five(title, text);
    return answer >= 0 && answer <= 4 ? static_cast<Answer>(answer) : Answer::no;
  };
  context.stop = stop;
  return context;
}

bool delayed(CommandContext& command) { return command.variables().value_of(u"DELAYUNTIL_APPLYCHANGES") == u"TRUE"; }

bool rollback_enabled(CommandContext& command) {
  return !equals_ignore_case(command.variables().value_of(u"NATIVE_ROLLBACK"), u"FALSE") &&
         !command.session().install.committed;
}

// Runs work on the native worker; false when the run was cancelled.
// An exception inside gives status -1 and the general failure text.
bool on_native_worker(CommandContext& command, const std::function<int(NativeEngine&)>& work, int& status) {
  InstallState& state = command.session().install;
  return run_worker(command, u"Cancel at Native Install Time", [&](const std::atomic<bool>& stop) {
    try {
      NativeEngine engine(native_context(command, &stop));
      status = work(engine);
    } catch (const std::exception&) {
      status = -1;
      state.last_failure = command.session().messages.line(kGeneralFailure);
    }
  });
}

// Replays the whole undo log backwards; a rollback cannot be cancelled.
void roll_back(CommandContext& command) {
  Variables& variables = command.variables();
  bool cancelled = is_true(variables.value_of(u"ZEKO_IsCancelled"));
  variables.set_variable(u"ZEKO_IsCancelled", u"FALSE", u"Rollback");
  int status = 0;
  auto& log = command.session().setup_log;
  if (log) log(u"      <NATIVE ROLLBACK>");
  on_native_worker(command, [](NativeEngine& engine) { return engine.replay(false); }, status);
  if (log) log(u"      </NATIVE ROLLBACK>");
  if (cancelled) variables.set_variable(u"ZEKO_IsCancelled", u"TRUE", u"Rollback");
}

// The bytes a Copy/Move Local Files action will move: its weight when queued.
int64_t local_files_size(CommandContext& command, const std::vector<Text>& record) {
  Machine& machine = command.host().machine();
  machine.enter_mode(command.session().mode64);
  int64_t total = 0;
  Text source = with_backslash(record[0]);
  for_each_file(machine, source, record[1], is_true(record[4]), [&](const Text& relative, const Text& name) {
    if (auto facts = machine.facts(source + relative + name)) total += static_cast<int64_t>(facts->size);
    return true;
  });
  machine.leave_mode();
  return total;
}

void set_installer_property(InstallState& state, const Text& name, const Text& value) {
  auto it = std::find(state.property_names.begin(), state.property_names.end(), name);
  if (it == state.property_names.end()) {
    state.property_names.push_back(name);
    state.property_values.push_back(value);
  } else {
    state.property_values[it - state.property_names.begin()] = value;
  }
  // Kept in one-line form for the engine cache's maintenance list.
  state.maintenance_properties.insert(state.maintenance_properties.end(),
                                      {name, replace_all(value, u"\r\n", u"$NEWLINE$")});
}

// Windows Installer mode: the package holds the action; the command only
// switches its rows on and passes the values known at run time.
void pass_to_installer(CommandContext& command, const std::vector<Text>& values) {
  const Payload& payload = command.payload();
  Text header = payload.command_header(command.index());
  if (header.empty()) {
    if (!payload.command_headers.empty()) throw ScriptError(Text(kNoHeaders));
    return;
  }
  InstallState& state = command.session().install;
  state.used_commands.push_back(command.index());
  set_installer_property(state, u"A" + header, u"TRUE");
  for (size_t n = 0; n < values.size(); ++n)
    set_installer_property(state, u"P" + header + u"_" + decimal(static_cast<int64_t>(n + 1)), values[n]);
}

// The values of a record that can differ at run time: all but the header
// fields the payload already knows.
std::vector<Text> runtime_values(CommandContext& command, TextView name, const std::vector<Text>& record) {
  if (name == u"Install Files") return {record[1]};
  if (name == u"Write Registry") {
    std::vector<Text> values;
    for (size_t k = 3; k <= 5; ++k)
      if (command.raw(k).find(u'$') != Text::npos) values.push_back(command.path(k));
    return values;
  }
  if (name == u"Install Service") return std::vector<Text>(record.begin() + 1, record.end());
  if (name == u"Install Assembly") return {record[1], record[2]};
  return record;
}

// Queues the action, or runs it at once with rollback when it fails. A
// failure ends the script run.
void run_native_action(CommandContext& command, TextView name, const std::vector<Text>& record) {
  Session& session = command.session();
  if (command.variables().value_of(u"NATIVE_ENGINE") != u"TRUE")
    return pass_to_installer(command, runtime_values(command, name, record));
  if (delayed(command)) {
    InstallState& state = session.install;
    state.queue.insert(state.queue.end(), {Text(name), decimal(static_cast<int64_t>(command.index())),
                                           to_comma_text(record), session.mode64});
    static const std::pair<TextView, int64_t> kWeights[] = {
        {u"Write Registry", 512},     {u"Create Folder", 1024},     {u"Set Environment", 1024},
        {u"Create File Type", 5120},  {u"Create ODBC DSN", 5120},   {u"Create Shortcut", 10240},
        {u"Edit INI File", 10240},
        {u"Delete Files", 102400},    {u"Control Service", 2097152}};
    for (const auto& [action, weight] : kWeights)
      if (action == name) state.queued_weight += weight;
    if (name == u"Copy/Move Local Files") state.queued_weight += local_files_size(command, record);
    return;
  }
  Text mode64 = session.mode64;
  int status = 1;
  bool finished = on_native_worker(command, [&](NativeEngine& engine) {
    return engine.run_action(name, record, mode64) ? 1 : 0;
  }, status);
  if (!finished && is_true(command.variables().value_of(u"ABORTONERROR"))) {
    if (rollback_enabled(command)) roll_back(command);
    command.interpreter().end_script();
  }
}

void write_registry(CommandContext& command) {
  auto [root, computer] = split_at_bar(command.expanded(2));
  if (root == u"4") root = is_true(command.variables().value_of(u"ALLUSERS")) ? u"2" : u"1";
  Text kind = is_true(command.expanded(6)) ? Text(u"STRING") : is_true(command.expanded(7)) ? Text(u"INTEGER")
                                                                                         : command.expanded(7);
  run_native_action(command, u"Write Registry",
                    {command.raw(1) == u"10" ? u"TRUE" : u"FALSE", computer.empty() ? root : root + u"|" + computer,
                     command.path(3), command.path(4), command.path(5), kind});
}

// The command's file group; a payload with headers must have one for it.
Text file_group_header(CommandContext& command) {
  const Payload& payload = command.payload();
  Text header = payload.command_header(command.index());
  if (header.empty() && !payload.command_headers.empty()) throw ScriptError(Text(kNoHeaders));
  return header;
}

void install_files(CommandContext& command) {
  Text header = file_group_header(command);
  run_native_action(command, u"Install Files",
                    {header, command.path(3), command.raw(4), command.raw(5), command.raw(6), command.raw(7),
                     command.raw(9), command.raw(10), command.raw(11), command.raw(12)});
}

void install_assembly(CommandContext& command) {
  Text header = file_group_header(command);
  run_native_action(command, u"Install Assembly", {header, command.path(3), command.expanded(2)});
}

void create_folder(CommandContext& command) { run_native_action(command, u"Create Folder", {command.path(1)}); }

void delete_files(CommandContext& command) {
  run_native_action(command, u"Delete Files", {command.path(1), command.expanded(2)});
}

void edit_ini_file(CommandContext& command) {
  run_native_action(command, u"Edit INI File",
                    {with_backslash(command.expanded(1)) + command.expanded(2), command.expanded(4),
                     command.expanded(5), command.expanded(6), command.expanded(3)});
}

void set_environment(CommandContext& command) {
  run_native_action(command, u"Set Environment",
                    {command.expanded(1), command.expanded(2), command.raw(3), command.raw(4), command.raw(5),
                     command.raw(6)});
}

void create_file_type(CommandContext& command) {
  run_native_action(command, u"Create File Type",
                    {command.path(1), command.path(2), command.path(3), command.path(4), command.path(5),
                     command.raw(6), command.raw(7)});
}

void create_shortcut(CommandContext& command) {
  // Values before "|"; what follows is an option of the value. The
  // target's option "taskbar" (or "pin") or "startmenu" pins the shortcut
  // when the installation commits.
  auto value = [&](size_t k, bool path) { return split_at_bar(path ? command.path(k) : command.expanded(k)).first; };
  Text pin = to_lower(split_at_bar(command.path(1)).second);
  if (pin == u"pin") pin = u"taskbar";
  if ((pin == u"taskbar" || pin == u"startmenu") && command.variables().value_of(u"NATIVE_ENGINE") == u"TRUE")
    command.session().install.pinned.emplace_back(with_backslash(value(3, true)) + command.expanded(2) + u".lnk", pin);
  run_native_action(command, u"Create Shortcut",
                    {command.expanded(2), command.expanded(4), value(3, true), value(1, true), command.path(5),
                     value(6, true), value(7, true), value(8, false), value(9, false)});
}

void copy_local_files(CommandContext& command) {
  Text subfolders = split_at_bar(command.expanded(6)).first;
  run_native_action(command, u"Copy/Move Local Files",
                    {command.path(1), command.expanded(2), command.path(3), command.raw(5),
                     subfolders.empty() ? Text(u"FALSE") : subfolders, command.path(4)});
}

void install_service(CommandContext& command) {
  Text header = file_group_header(command);
  Text dependencies = command.raw(8) == u"~" ? Text(u"$NULL$") : command.expanded(8);
  run_native_action(command, u"Install Service",
                    {header, command.expanded(4), command.expanded(5), command.expanded(6), command.expanded(7),
                     dependencies, command.path(3), command.raw(9), command.raw(10), command.raw(11), command.raw(12),
                     command.expanded(13), command.expanded(14), command.expanded(15)});
}

void control_service(CommandContext& command) {
  run_native_action(command, u"Control Service",
                    {command.expanded(1), command.path(2), command.raw(3), command.raw(5), command.raw(4)});
}

// ODBC attributes: a name in square brackets stands for a variable.
Text bracketed_attributes(CommandContext& command, size_t k) {
  return command.variables().expand(replace_all(replace_all(command.text(k), u"[", u"$"), u"]", u"$"));
}

void create_odbc_dsn(CommandContext& command) {
  run_native_action(command, u"Create ODBC DSN",
                    {command.expanded(1), command.expanded(2), command.raw(3), bracketed_attributes(command, 4)});
}

void install_odbc_driver(CommandContext& command) {
  Text header = file_group_header(command);
  run_native_action(command, u"Install ODBC Driver",
                    {header, command.path(3), file_name_of(command.path(1)), command.expanded(4),
                     bracketed_attributes(command, 6), file_name_of(command.path(5))});
}

void set_64_bit_mode(CommandContext& command) {
  static const TextView kModes[] = {u"Win32", u"ia64", u"x64"};
  for (size_t k = 1; k <= 3; ++k)
    if (command.raw(k) == u"TRUE") command.session().mode64 = Text(kModes[k - 1]);
}

void delete_registry(CommandContext& command) {
  Machine& machine = command.host().machine();
  RegistryKey key = registry_key(command.expanded(1), command.path(2));
  machine.enter_mode(command.session().mode64);
  TakenSecurity taken(machine, command.variables(), key);
  if (is_true(command.expanded(4))) {
    // The key with everything below it, deepest first.
    std::function<void(const RegistryKey&)> remove = [&](const RegistryKey& k) {
      TakenSecurity taken_below(machine, command.variables(), k);
      for (const Text& child : machine.subkeys(k)) remove({k.root, k.computer, k.path + u"\\" + child});
      for (const Text& value : machine.value_names(k)) machine.delete_value(k, value);
      machine.delete_key(k);
    };
    if (machine.key_exists(key)) remove(key);
  } else {
    machine.delete_value(key, command.path(3));
  }
  machine.leave_mode();
}

void is_file_locked(CommandContext& command) {
  Text file = command.path(1);
  Machine& machine = command.host().machine();
  bool locked = machine.exists(file) && machine.in_use(file);
  if (locked) {
    // Once more with the file's security taken over.
    TakenSecurity taken(machine, command.variables(), file);
    locked = !taken.taken() || machine.in_use(file);
  }
  command.store(command.variable(2), bool_text(locked));
}

void is_msi_setup_installed(CommandContext& command) {
  Text product = command.expanded(1);
  Variables& variables = command.variables();
  // A native installation of this product answers without Windows Installer.
  bool native = equals_ignore_case(product, variables.value_of(u"PRODUCTCODE")) &&
                UndoLog::ensure(command.host().files(),
                                with_backslash(variables.value_of(u"ENGINECACHE")) + variables.value_of(u"PRODUCTCODE"),
                                false);
  bool installed = native || command.host().system().installer_product_state(product) == 5;
  command.store(command.variable(2), bool_text(installed));
}

void edit_xml(CommandContext& command) {
  XmlEdit edit;
  edit.file = command.path(1);
  edit.encoding = command.expanded(2);
  edit.format = static_cast<int>(leading_integer(command.expanded(3)));
  edit.path = command.expanded(4);
  edit.text = command.expanded(5);
  std::vector<Text> attributes;
  for (const Text& item : from_comma_text(command.raw(6))) {
    std::vector<Text> pair = from_comma_text(item);
    for (Text& part : pair) part = command.variables().expand(part);
    attributes.push_back(to_comma_text(pair));
  }
  edit.attributes = to_comma_text(attributes);
  edit.operation = static_cast<int>(leading_integer(command.expanded(7)));
  edit.all = is_true(command.expanded(8));
  edit.preserve_white_space = is_true(command.expanded(9));
  edit.backup = is_true(command.expanded(10));
  Machine& machine = command.host().machine();
  machine.enter_mode(command.session().mode64);
  Text failure;
  XmlEditResult result = edit_xml_file(command.host().files(), edit, failure);
  machine.leave_mode();
  if (result == XmlEditResult::not_saved) command.variables().set_variable(u"LASTERROR", failure, command.source());
}

// The Task Scheduler acts at once; a task is not recorded for uninstall (a
// script removes it with Delete Scheduled Task). LASTERROR tells a failure.
void schedule_task(CommandContext& command) {
  TaskSettings task;
  task.name = command.expanded(1);
  task.program = command.path(2);
  task.arguments = command.expanded(3);
  task.folder = command.path(4);
  task.trigger = static_cast<int>(leading_integer(command.expanded(5)));
  task.start = command.expanded(6);
  task.system = is_true(command.expanded(7));
  task.description = command.expanded(8);
  Text failure = command.host().machine().schedule_task(task);
  if (!failure.empty()) command.variables().set_variable(u"LASTERROR", failure, command.source());
}

void delete_scheduled_task(CommandContext& command) {
  Text failure = command.host().machine().delete_task(command.expanded(1));
  if (!failure.empty()) command.variables().set_variable(u"LASTERROR", failure, command.source());
}

void terminate_program(CommandContext& command) {
  command.host().machine().close_windows(command.path(1), command.path(2));
}

// Pins (or unpins) the shortcuts recorded for pinning; the shell's answer
// does not matter to the installation.
void pin_shortcuts(CommandContext& command, bool pin) {
  Machine& machine = command.host().machine();
  for (const auto& [link, place] : command.session().install.pinned)
    if (machine.exists(link)) machine.pin_shortcut(link, place, pin);
}

void apply_changes(CommandContext& command) {
  Variables& variables = command.variables();
  Session& session = command.session();
  InstallState& state = session.install;
  Text result_variable = command.variable(2);
  if (variables.value_of(u"NATIVE_ENGINE") != u"TRUE") {
    // Installing through Windows Installer is not part of this engine yet.
    variables.set_variable(u"LASTERROR", u"Windows Installer mode is not available", command.source());
    command.store(result_variable, u"ERROR");
    return;
  }
  bool install = is_true(command.expanded(3)), uninstall = is_true(command.expanded(4));
  if (!install && !uninstall) install = true;
  static const TextView kRestored[] = {u"NATIVE_ERROR", u"NATIVE_OVERWRITE", u"NATIVE_OVERWRITE_OLDER",
                                       u"NATIVE_OVERRIDE_PERMISSIONS",
                                       u"NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS"};
  std::vector<Text> saved;
  for (TextView name : kRestored) saved.push_back(variables.value_of(name));

  state.last_failure.clear();
  int result = 1;
  Text logging_setting = variables.value_of(u"NATIVE_LOGGING");
  bool foreign_log = !logging_setting.empty() && !equals_ignore_case(logging_setting, u"FALSE");
  if (!(uninstall && foreign_log)) pin_shortcuts(command, false);
  if (uninstall) {
    int status = 0;
    bool finished = on_native_worker(command, [](NativeEngine& engine) { return engine.replay(true); }, status);
    result = finished ? status : 0;
  }
  if (install && delayed(command) && result == 1) {
    int status = 0;
    bool finished = on_native_worker(command, [](NativeEngine& engine) { return engine.run_queue(); }, status);
    result = finished ? status : 0;
    if (result != 1 && rollback_enabled(command)) roll_back(command);
  }
  Text failure = state.last_failure;
  if (failure.empty() && result == 0) failure = session.messages[Msg::setup_cancelled];
  if (result == 1 && state.restart_needed) result = 2;
  if (!failure.empty()) variables.set_variable(u"LASTERROR", failure, command.source());
  Text outcome = result == -1 ? u"ERROR" : result == 0 ? u"CANCEL" : result == 1 ? u"COMPLETE" : u"REBOOT";
  command.store(result_variable, outcome);
  if (result == 2) variables.set_variable(u"REBOOTCOMPUTER", u"TRUE", command.source());
  if (result != 1 && result != 2) return;

  NativeEngine engine(native_context(command, nullptr));
  Text logging = variables.value_of(u"NATIVE_LOGGING");
  if (uninstall && !logging.empty() && !equals_ignore_case(logging, u"FALSE") && engine.log_base() == logging) {
    // A foreign log has been replayed: it goes, and the settings it may
    // have changed come back.
    UndoLog::remove(command.host().files(), logging);
    for (size_t i = 0; i < std::size(kRestored); ++i) variables.set_variable(kRestored[i], saved[i], command.source());
    return;
  }
  if (install) {
    // Committed: the undo entries join the log, the replaced files kept for
    // a rollback go, and rollback is off for the rest of the run.
    state.undo.flush(command.host().files(), engine.log_base());
    for (const auto& [original, kept] : state.kept_files) command.host().machine().delete_file(kept);
    state.kept_files.clear();
    refresh_engine_cache(command.host().machine(), command.host().files(), variables, session);
    pin_shortcuts(command, true);
    Localization::remember_language(command.host().files(),
                                    with_backslash(variables.value_of(u"ENGINECACHE")) + engine_base_name(variables) + u".lan",
                                    variables.value_of(u"LANGUAGE"));
    state.committed = true;
  }
  if (uninstall && !is_true(variables.value_of(u"SAVEDATA")) && !is_true(variables.value_of(u"MODIFY"))) {
    // The product is gone: so is its engine cache with the log in it.
    Text base = engine.log_base();
    UndoLog::remove(command.host().files(), base);
    remove_engine_cache(command.host().machine(), variables.value_of(u"ENGINECACHE"));
  }
  if (uninstall) unregister_product(command.host().machine(), variables);
  if (install) register_product(command.host().machine(), command.host().files(), variables, command.payload());
}

}  // namespace

void add_install_commands(Catalog& catalog) {
  catalog.add({u"Write Registry", write_registry, Builtin::none,
               {{u"mode"}, {u"root"}, {u"key"}, {u"name"}, {u"data"}, {u"string"}, {u"integer"}}});
  catalog.add({u"Install Files", install_files, Builtin::none,
               {{u"source"}, {u"options"}, {u"target"}, {u"read_only"}, {u"hidden"}, {u"system"},
                {u"stop_on_skip"}, {u"build"}, {u"self_register"}, {u"shared"}, {u"permanent"},
                {u"only_if_missing"}}});
  catalog.add({u"Install Assembly", install_assembly, Builtin::none,
               {{u"source"}, {u"global_cache"}, {u"target"}}});
  catalog.add({u"Create Folder", create_folder, Builtin::none, {{u"folder"}}});
  catalog.add({u"Delete Files", delete_files, Builtin::none, {{u"folder"}, {u"pattern"}}});
  catalog.add({u"Edit INI File", edit_ini_file, Builtin::none,
               {{u"folder"}, {u"file"}, {u"mode"}, {u"section"}, {u"key"}, {u"value"}}});
  catalog.add({u"Set Environment", set_environment, Builtin::none,
               {{u"name"}, {u"value"}, {u"operation"}, {u"position"}, {u"remove_at_uninstall"}, {u"system"}}});
  catalog.add({u"Create File Type", create_file_type, Builtin::none,
               {{u"prog_id", kTranslatable}, {u"program"}, {u"description", kTranslatable}, {u"icon"},
                {u"icon_index"}, {u"extensions"}, {u"verbs"}}});
  const std::vector<ParameterSpec> shortcut = {{u"target"},    {u"name", kTranslatable},
                                               {u"folder"},    {u"description", kTranslatable},
                                               {u"arguments"}, {u"working_folder"},
                                               {u"icon"},      {u"icon_index"},
                                               {u"show"}};
  catalog.add({u"Create Shortcut", create_shortcut, Builtin::none, shortcut});
  // Advertising needs Windows Installer: the native engine writes the
  // plain shortcut; in Windows Installer mode the package advertises it.
  catalog.add({u"Advertised Shortcut", create_shortcut, Builtin::none, shortcut});
  catalog.add({u"Copy/Move Local Files", copy_local_files, Builtin::none,
               {{u"source_folder"}, {u"pattern"}, {u"target_folder"}, {u"target_name"}, {u"copy"},
                {u"subfolders"}}});
  catalog.add({u"Install Service", install_service, Builtin::none,
               {{u"source"}, {u"options"}, {u"target"}, {u"name"}, {u"display_name", kTranslatable},
                {u"description", kTranslatable}, {u"program"}, {u"dependencies"}, {u"type"}, {u"interactive"},
                {u"start_type"}, {u"error_control"}, {u"account"}, {u"password"}, {u"arguments"}}});
  catalog.add({u"Control Service", control_service, Builtin::none,
               {{u"name", kTranslatable}, {u"argument"}, {u"operation"}, {u"start_type"}, {u"wait"}}});
  catalog.add({u"Create ODBC DSN", create_odbc_dsn, Builtin::none,
               {{u"name"}, {u"driver"}, {u"system"}, {u"attributes"}}});
  catalog.add({u"Install ODBC Driver", install_odbc_driver, Builtin::none,
               {{u"source"}, {u"options"}, {u"target"}, {u"name"}, {u"setup"}, {u"attributes"}}});
  catalog.add({u"Set 64 Bit Mode", set_64_bit_mode, Builtin::none, {{u"win32"}, {u"ia64"}, {u"x64"}}});
  catalog.add({u"Delete Registry", delete_registry, Builtin::none,
               {{u"root"}, {u"key"}, {u"name"}, {u"whole_key"}}});
  catalog.add({u"Is File Locked", is_file_locked, Builtin::none, {{u"file"}, {u"variable", kResult}}});
  catalog.add({u"Is MSI Setup Installed", is_msi_setup_installed, Builtin::none,
               {{u"product_code"}, {u"variable", kResult}}});
  catalog.add({u"Edit XML File", edit_xml, Builtin::none,
               {{u"file"}, {u"encoding"}, {u"format"}, {u"path"}, {u"text"}, {u"attributes"}, {u"operation"},
                {u"all_matches"}, {u"preserve_white_space"}, {u"backup"}}});
  catalog.add({u"Schedule Task", schedule_task, Builtin::none,
               {{u"name"}, {u"program"}, {u"arguments"}, {u"folder"}, {u"trigger"}, {u"start"}, {u"system"},
                {u"description", kTranslatable}}});
  catalog.add({u"Delete Scheduled Task", delete_scheduled_task, Builtin::none, {{u"name"}}});
  catalog.add({u"Terminate Program", terminate_program, Builtin::none, {{u"title"}, {u"class"}}});
  catalog.add({u"Apply Changes", apply_changes, Builtin::none,
               {{u"progress_dialog"}, {u"variable", kResult}, {u"install"}, {u"uninstall"}}});
}

}  // namespace kyt
