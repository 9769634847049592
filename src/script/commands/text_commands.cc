// Commands that compute values into variables and read and write text files.
#include "base/text_file.h"
#include "script/catalog.h"
#include "script/interpreter.h"

namespace kyt {

namespace {

constexpr TextView kPersistMarker = u"$ZEKO$ZEKO$";

void set_variable(CommandContext& command) {
  Text value = command.expanded(2);
  Text target = command.raw(1);
  bool persist = false;
  if (size_t marker = target.find(kPersistMarker); marker != Text::npos) {
    persist = target.substr(marker + kPersistMarker.size()) == u"TRUE";
    target.resize(marker);
  }
  Text name = to_upper(variable_name(target));
  if (name.empty()) return;
  Variables& variables = command.variables();
  constexpr TextView source = u"Set Variable Action";
  if (!variables.is_defined(name)) variables.define_variable(name, u"", source);
  variables.set_variable(name, value, source);
  if (persist && !command.session().persisted_variables.contains(name)) command.session().persisted_variables.add(name);
  if (name == u"ABORT") {
    variables.set_variable(u"ZEKO_IsCancelled", value, u"Set Variable Tricke");
  } else if (name == u"ZEKO_TIMEOUT") {
    command.session().timeout_seconds = parse_int32(value).value_or(10);
  }
}

void write_to_text_file(CommandContext& command) {
  Text path = command.path(1);
  Text text = command.expanded(2);
  bool at_top = is_true(command.expanded(3));
  Session& session = command.session();
  if (session.read_file && equals_ignore_case(session.read_file->path, path)) session.read_file.reset();
  FileSystem& files = command.host().files();
  std::vector<Text> lines;
  if (auto bytes = files.read_file(path)) lines = read_utf8_lines(*bytes);
  if (at_top) lines.insert(lines.begin(), text);
  else lines.push_back(text);
  files.set_normal_attributes(path);
  if (!files.write_file(path, write_utf8_lines(lines, true)))
    throw ScriptError(u"Cannot write to text file \"" + path + u"\"");
}

}  // namespace

void add_text_commands(Catalog& catalog) {
  catalog.add({u"Set Variable", set_variable, Builtin::none,
               {{u"variable", kResult | kPersistFlag}, {u"value", kTranslatable}}});
  catalog.add({u"Write to Text File", write_to_text_file, Builtin::none,
               {{u"file", kPlain}, {u"text", kPlain}, {u"at_top", kPlain}}});
}

}  // namespace kyt
