// Commands that compute values into variables and read and write text files.
#include <algorithm>

#include "install/native_engine.h"
#include "base/text_file.h"
#include "script/catalog.h"
#include "script/expression.h"
#include "script/interpreter.h"

namespace kyt {

namespace {

constexpr TextView kPersistMarker = u"$ZEKO$ZEKO$";

// Stores `value` in the variable parameter 1 names, with its persist flag
// and the side effects of the engine's own variables.
void assign(CommandContext& command, const Text& value) {
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
  FileSystem& files = command.host().files();
  bool new_log = name == u"NATIVE_LOGGING" && value != variables.value_of(name);
  // The entries so far belong to the log in use until now.
  if (new_log) command.session().install.undo.flush(files, undo_log_base(variables, files));
  variables.set_variable(name, value, source);
  // A log path is kept only where a log is or can be made.
  if (new_log && !value.empty() && !equals_ignore_case(value, u"FALSE") && !UndoLog::ensure(files, value, true))
    variables.set_variable(name, u"", source);
  if (persist && !command.session().persisted_variables.contains(name)) command.session().persisted_variables.add(name);
  if (name == u"ABORT") {
    variables.set_variable(u"ZEKO_IsCancelled", value, u"Set Variable Tricke");
  } else if (name == u"ZEKO_TIMEOUT") {
    command.session().timeout_seconds = parse_int32(value).value_or(10);
  }
}

void set_variable(CommandContext& command) { assign(command, command.expanded(2)); }

// Like Set Variable; with a language active the value is the translation
// stored under "TELLURAX$" + name + "$TELLURAX".
void localization_variable(CommandContext& command) {
  Text value = command.raw(2);
  if (Translator* translator = command.session().translator)
    if (auto translated = translator->key(u"TELLURAX$" + variable_name(command.raw(1)) + u"$TELLURAX", value))
      value = *translated;
  assign(command, command.variables().expand(value));
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

void read_from_text_file(CommandContext& command) {
  constexpr TextView kReadAll = u"#READALL\\";
  Text path = command.path(1);
  bool read_all = starts_with_ignore_case(path, kReadAll);
  if (read_all) path = path.substr(kReadAll.size());
  Session& session = command.session();
  if (!session.read_file || !equals_ignore_case(session.read_file->path, path)) {
    session.read_file.reset();
    auto bytes = command.host().files().read_file(path);
    if (!bytes) throw ScriptError(u"Cannot open file \"" + path + u"\"");
    session.read_file = Session::OpenReadFile{path, read_utf8_lines(*bytes), 0};
  }
  Text line_variable = command.variable(2);
  Text end_variable = command.variable(3);
  Variables& variables = command.variables();
  if (!variables.is_defined(line_variable)) variables.define_variable(to_upper(line_variable), u"", command.source());
  if (!end_variable.empty() && !variables.is_defined(end_variable))
    variables.define_variable(to_upper(end_variable), u"", command.source());
  auto& file = *session.read_file;
  if (file.next < file.lines.size()) {
    Text text;
    if (read_all) {
      std::vector<Text> rest(file.lines.begin() + static_cast<std::ptrdiff_t>(file.next), file.lines.end());
      file.next = file.lines.size();
      for (size_t i = 0; i < rest.size(); ++i) text += (i ? u"$NEWLINE$" : u"") + rest[i];
    } else {
      text = file.lines[file.next++];
    }
    command.store(line_variable, text);
  }
  bool at_end = file.next >= file.lines.size();
  if (at_end) session.read_file.reset();
  if (!end_variable.empty()) command.store(end_variable, bool_text(at_end));
}

void convert_case(CommandContext& command) {
  Text name = command.raw(1);
  Text value = collapse_backslashes(command.variables().expand(command.variables().value_of(name)));
  command.store(name, is_true(command.expanded(2)) ? to_upper(value) : to_lower(value));
}

void replace_string(CommandContext& command) {
  Text name = command.variable(1);
  Variables& variables = command.variables();
  Text value = escape_line_breaks(variables.value_of(name));
  Text search = escape_line_breaks(command.expanded(2));
  Text replacement = escape_line_breaks(command.expanded(3));
  bool ignore_case = is_true(command.expanded(4));
  bool all = is_true(command.expanded(5));
  if (!search.empty()) {
    if (all) {
      value = ignore_case ? replace_all_ignore_case(value, search, replacement) : replace_all(value, search, replacement);
    } else {
      size_t at = ignore_case ? find_ignore_case(value, search) : value.find(search);
      if (at != Text::npos) value.replace(at, search.size(), replacement);
    }
  }
  command.store(name, value);
}

// Copy of up to `count` characters from 1-based `start`, as text functions
// of the script language count: a start below 1 counts as 1, a negative
// count as 0.
Text copy_from(TextView text, int64_t start, int64_t count) {
  if (start < 1) start = 1;
  if (count <= 0 || start > static_cast<int64_t>(text.size())) return {};
  return Text(text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
}

Text trim_spaces(TextView text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return Text(text);
}

void parse_string(CommandContext& command) {
  Text source = command.path(1);
  Text pattern = command.path(2);
  Text first_variable = command.variable(3), second_variable = command.variable(4);
  Text mode = command.expanded(5);
  bool trim = is_true(command.expanded(6));
  bool ignore_case = is_true(command.expanded(7));
  Text search_in = ignore_case ? to_lower(source) : source;
  Text search_for = ignore_case ? to_lower(pattern) : pattern;
  const int64_t length = static_cast<int64_t>(source.size());
  int64_t p = 0, l = 0, a = 0;
  auto count = [&] {
    auto number = parse_int64(pattern);
    if (!number) throw ScriptError(u"'" + pattern + u"' is not a valid integer value");
    return *number;
  };
  if (mode == u"0") {
    size_t at = search_for.empty() ? Text::npos : search_in.find(search_for);
    p = at == Text::npos ? length + 1 : static_cast<int64_t>(at) + 1;
    l = static_cast<int64_t>(pattern.size());
    a = 1;
  } else if (mode == u"1") {
    size_t at = search_for.empty() ? Text::npos : search_in.rfind(search_for);
    if (at == Text::npos) {
      p = 1;
      l = 0;
    } else {
      p = static_cast<int64_t>(at) + 1;
      l = static_cast<int64_t>(pattern.size());
    }
    a = 1;
  } else if (mode == u"2") {
    p = count();
    l = 1;
    a = 0;
    if (p == 0) {
      p = 1;
      l = -1;
      a = 1;
    }
  } else if (mode == u"3") {
    p = length - count();
    l = 1;
    a = 0;
  } else {
    return;
  }
  Text first, second;
  if (p != 0) {
    first = copy_from(source, 1, p - a);
    second = copy_from(source, p + std::max<int64_t>(l, 0), length);
  }
  if (trim) {
    first = trim_spaces(first);
    second = trim_spaces(second);
  }
  if (!first_variable.empty()) command.store(first_variable, first);
  if (!second_variable.empty()) command.store(second_variable, second);
}

int64_t number_parameter(CommandContext& command, size_t k) {
  Text text = command.expanded(k);
  auto number = parse_int64(text);
  if (!number) throw ScriptError(u"'" + text + u"' is not a valid integer value");
  return *number;
}

void mathematics(CommandContext& command) {
  int64_t code = number_parameter(command, 3);
  int64_t a = 0, b = 0;
  if (code != 11) a = number_parameter(command, 1);
  if ((code >= 0 && code <= 9) || code == 13) b = number_parameter(command, 2);
  auto ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
  auto& random = command.session().random;
  Text result;
  switch (code) {
    case 0: result = decimal(static_cast<int64_t>(ua + ub)); break;
    case 1: result = decimal(static_cast<int64_t>(ua - ub)); break;
    case 2: result = decimal(static_cast<int64_t>(ua * ub)); break;
    case 3:
    case 4:
      if (b == 0) throw ScriptError(u"Division by zero");
      if (b == -1) result = decimal(code == 3 ? static_cast<int64_t>(0 - ua) : 0);  // INT64_MIN / -1 wraps
      else result = decimal(code == 3 ? a / b : a % b);
      break;
    case 5: result = decimal(static_cast<int64_t>(ua & ub)); break;
    case 6: result = decimal(static_cast<int64_t>(ua | ub)); break;
    case 7: result = decimal(static_cast<int64_t>(ua ^ ub)); break;
    case 8: result = decimal(static_cast<int64_t>(ua << (ub & 63))); break;
    case 9: result = decimal(static_cast<int64_t>(ua >> (ub & 63))); break;
    case 10: result = decimal(static_cast<int64_t>(~ua)); break;
    case 11: {
      Text text = command.expanded(1);
      result = decimal(text.empty() ? 0 : text[0]);
      break;
    }
    case 12: result = Text(1, static_cast<char16_t>(ua & 0xFFFF)); break;
    case 13:
      random.multiplier = static_cast<int32_t>(static_cast<uint32_t>(ua));
      random.increment = static_cast<int32_t>(static_cast<uint32_t>(ub));
      result = decimal(static_cast<int64_t>(ua + ub));
      break;
    case 14:
      random.state = static_cast<int32_t>(static_cast<uint32_t>(ua));
      result = decimal(a);
      break;
    case 15: {
      if (a == 0) throw ScriptError(u"Division by zero");
      auto v = static_cast<int32_t>(static_cast<uint32_t>(random.multiplier) * static_cast<uint32_t>(random.state) +
                                    static_cast<uint32_t>(random.increment));
      result = decimal(static_cast<int64_t>(v) % a);
      random.state = v % 32767;
      break;
    }
    default: break;  // undefined codes store an empty value
  }
  Text target = command.variable(4);
  if (!target.empty()) command.store(target, result);
}

void evaluate_expression_command(CommandContext& command) {
  Text expression = command.variables().expand_quoted(command.raw(1));
  command.store(command.variable(2), evaluate_expression(expression));
}

}  // namespace

void add_text_commands(Catalog& catalog) {
  catalog.add({u"Set Variable", set_variable, Builtin::none,
               {{u"variable", kResult | kPersistFlag}, {u"value", kTranslatable}}});
  catalog.add({u"Localization Variable", localization_variable, Builtin::none,
               {{u"variable", kResult}, {u"value", kPlain}}});
  catalog.add({u"Write to Text File", write_to_text_file, Builtin::none,
               {{u"file", kPlain}, {u"text", kPlain}, {u"at_top", kPlain}}});
  catalog.add({u"Read from Text File", read_from_text_file, Builtin::none,
               {{u"file"}, {u"variable", kResult}, {u"end_variable", kResult | kOptional}}});
  catalog.add({u"Convert Case", convert_case, Builtin::none, {{u"variable", kInPlace}, {u"upper"}}});
  catalog.add({u"Replace String", replace_string, Builtin::none,
               {{u"variable", kInPlace}, {u"search"}, {u"replacement"}, {u"ignore_case"}, {u"all"}}});
  catalog.add({u"Parse String", parse_string, Builtin::none,
               {{u"source"}, {u"pattern"}, {u"first", kResult | kOptional}, {u"second", kResult | kOptional},
                {u"mode"}, {u"trim"}, {u"ignore_case"}}});
  catalog.add({u"Mathematics", mathematics, Builtin::none,
               {{u"a"}, {u"b"}, {u"operation"}, {u"variable", kResult | kOptional}}});
  catalog.add({u"Evaluate Expression", evaluate_expression_command, Builtin::none,
               {{u"expression", kExpression}, {u"variable", kResult}}});
}

}  // namespace kyt
