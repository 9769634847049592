// Commands that ask the system: environment, file versions, temporary files,
// paths and well-known folders.
#include "script/catalog.h"
#include "script/condition.h"
#include "script/interpreter.h"

namespace kyt {

namespace {

constexpr size_t kEnvironmentLimit = 266240;

void get_environment(CommandContext& command) {
  Text name = command.expanded(1);
  SystemQueries& system = command.host().system();
  Text value;
  if (name.empty()) {
    auto entries = system.environment_block();
    for (size_t i = 0; i < entries.size(); ++i) value += (i ? u"$NEWLINE$" : u"") + entries[i];
  } else {
    value = system.expand_environment(u"%" + name + u"%");
    if (value.size() > kEnvironmentLimit) value.resize(kEnvironmentLimit);
  }
  command.store(command.variable(2), value);
}

std::array<uint16_t, 4> version_of(CommandContext& command, const Text& path) {
  return command.host().system().file_version(path).value_or(std::array<uint16_t, 4>{0, 0, 0, 0});
}

void get_file_version(CommandContext& command) {
  auto v = version_of(command, command.path(1));
  command.store(command.variable(2), decimal(v[0]) + u"." + decimal(v[1]) + u"." + decimal(v[2]) + u"." + decimal(v[3]));
}

void check_file_version(CommandContext& command) {
  auto mine = version_of(command, command.path(2));
  std::array<uint16_t, 4> other{};
  if (is_true(command.expanded(3))) {
    other = version_of(command, command.path(4));
  } else {
    Text text = command.expanded(5);
    uint64_t parts[4];
    if (!parse_version(text, parts)) throw ScriptError(u"'" + text + u"' is not a valid version");
    for (int i = 0; i < 4; ++i) other[static_cast<size_t>(i)] = static_cast<uint16_t>(parts[i]);
  }
  command.store(command.raw(1), bool_text(mine > other));
}

void get_temporary_file(CommandContext& command) {
  Text folder = command.variables().value_of(u"TEMPDIR");
  auto path = command.host().system().create_temporary_file(folder, u"kyt");
  if (!path) throw ScriptError(u"Unable to create a temporary file in \"" + folder + u"\"");
  command.store(command.variable(1), *path);
}

bool has_drive(TextView path) {
  return (path.size() >= 2 && path[1] == u':') || path.starts_with(u"\\\\");
}

void convert_path(CommandContext& command) {
  Text name = command.raw(1);
  Variables& variables = command.variables();
  SystemQueries& system = command.host().system();
  Text path = system.expand_environment(collapse_backslashes(variables.expand(variables.value_of(name))));
  if (!has_drive(path)) {
    Text base = variables.expand(variables.value_of(u"SETUPPATH"));
    if (!base.empty() && base.back() != u'\\') base.push_back(u'\\');
    path = base + path;
  }
  path = system.full_path(path);
  Text result;
  if (system.path_exists(path)) result = is_true(command.expanded(2)) ? system.short_path(path) : system.long_path(path);
  command.store(name, result);
}

void get_folder_location(CommandContext& command) {
  auto code = parse_int64(command.expanded(2));
  Text folder;
  if (code && *code >= 0 && *code <= 28)
    folder = command.host().system().folder_location(static_cast<int>(*code), is_true(command.expanded(3)),
                                                     command.session().mode64);
  command.store(command.variable(1), folder);
}

}  // namespace

void add_environment_commands(Catalog& catalog) {
  catalog.add({u"Get Environment", get_environment, Builtin::none, {{u"name"}, {u"variable", kResult}}});
  catalog.add({u"Get File Version", get_file_version, Builtin::none, {{u"file"}, {u"variable", kResult}}});
  catalog.add({u"Check File Version", check_file_version, Builtin::none,
               {{u"variable", kResult}, {u"file"}, {u"compare_file"}, {u"other_file"}, {u"version"}}});
  catalog.add({u"Get Temporary File", get_temporary_file, Builtin::none, {{u"variable", kResult}}});
  catalog.add({u"Convert Path", convert_path, Builtin::none, {{u"variable", kInPlace}, {u"short"}}});
  catalog.add({u"Get Folder Location", get_folder_location, Builtin::none,
               {{u"variable", kResult}, {u"folder"}, {u"all_users"}}});
}

}  // namespace kyt
