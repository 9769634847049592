#include "build/script_source.h"

#include <algorithm>
#include <set>

#include "base/text_file.h"
#include "script/catalog.h"

namespace kyt::build {

std::string Diagnostic::to_string() const {
  return file + ":" + std::to_string(line) + ": " + (warning ? "warning: " : "") + message;
}

namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

TextView trim(TextView text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

bool is_key(TextView key) {
  if (key.empty()) return false;
  bool digits = key.find_first_not_of(u"0123456789") == TextView::npos;
  if (digits) return true;
  auto letter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  if (!letter(key[0])) return false;
  for (char16_t c : key)
    if (!letter(c) && !(c >= u'0' && c <= u'9') && c != u'_') return false;
  return true;
}

std::string directory_of(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool is_absolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() > 1 && path[1] == ':');
}

class Parser {
 public:
  Parser(const ReadFile& read_file, std::vector<Diagnostic>& diagnostics)
      : read_file_(read_file), diagnostics_(diagnostics) {}

  SourceProgram program;

  void parse_file(const std::string& path, int depth, const Text& result_variable, const std::string& from_file,
                  int from_line) {
    if (std::count(active_.begin(), active_.end(), path)) {
      error(from_file, from_line, "\"" + path + "\" includes itself");
      return;
    }
    auto bytes = read_file_(path);
    if (!bytes) {
      if (from_file.empty()) diagnostics_.push_back({path, 0, "cannot read the script", false});
      else error(from_file, from_line, "cannot read the included script \"" + path + "\"");
      return;
    }
    active_.push_back(path);
    std::vector<Text> lines = read_utf8_lines(*bytes);
    SourceCommand* current = nullptr;
    std::vector<std::pair<size_t, int>> pending_includes;  // command index in `program`, line
    for (size_t n = 0; n < lines.size(); ++n) {
      int line = static_cast<int>(n) + 1;
      TextView text = trim(lines[n]);
      if (text.empty() || text.front() == u'#') continue;
      if (text.front() == u'%') {
        if (depth > 0) error(path, line, "project settings belong in the main script");
        else directive(path, line, text.substr(1));
        current = nullptr;
        continue;
      }
      size_t equals = text.find(u'=');
      if (equals != TextView::npos && is_key(trim(text.substr(0, equals)))) {
        if (!current) {
          error(path, line, "parameter outside of a command");
          continue;
        }
        parameter(path, line, *current, trim(text.substr(0, equals)), text.substr(equals + 1));
        continue;
      }
      SourceCommand command;
      command.disabled = text.front() == u'~';
      if (command.disabled) text = trim(text.substr(1));
      command.name = Text(text);
      command.file = path;
      command.line = line;
      command.depth = depth;
      command.result_variable = result_variable;
      if (command.name == u"Include Script") {
        include_commands_.push_back(std::move(command));
        current = &include_commands_.back();
        pending_include_ = true;
        continue;
      }
      flush_include();
      if (!command.name.empty() && !Catalog::instance().find(command.name) && !known_marker(command.name))
        warning(path, line, "unknown command \"" + to_utf8(command.name) + "\" will do nothing when run");
      program.commands.push_back(std::move(command));
      current = &program.commands.back();
    }
    flush_include();
    active_.pop_back();
  }

  void finish() { flush_include(); }

 private:
  // Commands the script check knows but the catalog does not list yet.
  static bool known_marker(TextView name) { return name == u"Wizard Loop"; }

  // An "Include Script" is expanded once its parameters have been read.
  void flush_include() {
    if (!pending_include_) return;
    pending_include_ = false;
    SourceCommand include = std::move(include_commands_.back());
    include_commands_.pop_back();
    if (include.disabled) return;
    Text file = include.parameters.empty() ? Text() : include.parameters[0];
    Text variable = include.parameters.size() > 1 ? include.parameters[1] : Text();
    if (file.empty()) {
      error(include.file, include.line, "Include Script needs a file");
      return;
    }
    std::string name = to_utf8(file);
    std::string path = is_absolute(name) ? name : directory_of(include.file) + name;
    parse_file(path, include.depth + 1, to_upper(variable_name_of(variable)), include.file, include.line);
  }

  static Text variable_name_of(TextView text) {
    if (text.size() >= 2 && text.front() == u'$' && text.back() == u'$' && text.find(u'$', 1) == text.size() - 1)
      return Text(text.substr(1, text.size() - 2));
    return Text(text);
  }

  void directive(const std::string& path, int line, TextView text) {
    size_t equals = text.find(u'=');
    if (equals == TextView::npos) return error(path, line, "a project setting needs \"=\"");
    TextView head = trim(text.substr(0, equals));
    std::string message;
    auto value = parse_value(text.substr(equals + 1), message);
    if (!value) return error(path, line, message);
    if (head.starts_with(u"setting")) {
      TextView name = trim(head.substr(7));
      if (name.empty() || head.size() == 7 || !is_blank(head[7]))
        return error(path, line, "write a build setting as %setting NAME = value");
      program.project.build_settings.emplace_back(Text(name), *value);
      return;
    }
    static const std::set<std::string> keys = {
        "guid",    "title",     "publisher",  "contact",   "help_link",     "update_info_link", "comments",
        "version", "cache_guid", "media_mode", "code_page", "language_dialog", "default_language"};
    std::string key = to_utf8(head);
    if (!keys.contains(key)) return error(path, line, "unknown project setting %" + key);
    if (program.project.fields.contains(key)) return error(path, line, "project setting %" + key + " given twice");
    program.project.fields[key] = *value;
  }

  void parameter(const std::string& path, int line, SourceCommand& command, TextView key, TextView text) {
    std::string message;
    auto value = parse_value(text, message);
    if (!value) return error(path, line, message);
    size_t index = 0;
    if (key.find_first_not_of(u"0123456789") == TextView::npos) {
      index = static_cast<size_t>(parse_int64(key).value_or(0));
      if (index == 0 || index > 1000) return error(path, line, "parameter numbers run from 1 to 1000");
    } else {
      index = named_parameter(command.name, key);
      if (index == 0) {
        return error(path, line, "\"" + to_utf8(command.name) + "\" has no parameter named \"" + to_utf8(key) +
                                     "\"; use its number");
      }
    }
    if (command.parameters.size() < index) command.parameters.resize(index);
    command.parameters[index - 1] = *value;
  }

  static size_t named_parameter(TextView command, TextView key) {
    if (command == u"Include Script") return key == u"file" ? 1 : key == u"variable" ? 2 : 0;
    const CommandSpec* row = Catalog::instance().find(command);
    if (!row) return 0;
    for (size_t i = 0; i < row->parameters.size(); ++i)
      if (row->parameters[i].name == key) return i + 1;
    return 0;
  }

  void error(const std::string& file, int line, std::string message) {
    diagnostics_.push_back({file, line, std::move(message), false});
  }
  void warning(const std::string& file, int line, std::string message) {
    diagnostics_.push_back({file, line, std::move(message), true});
  }

  const ReadFile& read_file_;
  std::vector<Diagnostic>& diagnostics_;
  std::vector<std::string> active_;
  std::vector<SourceCommand> include_commands_;
  bool pending_include_ = false;
};

}  // namespace

std::optional<Text> parse_value(TextView text, std::string& error) {
  text = trim(text);
  if (text.empty() || text.front() != u'"') return Text(text);
  Text value;
  size_t i = 1;
  for (; i < text.size(); ++i) {
    if (text[i] != u'"') {
      value.push_back(text[i]);
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == u'"') {
      value.push_back(u'"');
      ++i;
      continue;
    }
    break;
  }
  if (i >= text.size()) {
    error = "a quoted value needs its closing quote";
    return std::nullopt;
  }
  if (i + 1 != text.size()) {
    error = "text after a quoted value";
    return std::nullopt;
  }
  return value;
}

Text quote_value(TextView value) {
  bool plain = !value.empty() && !is_blank(value.front()) && !is_blank(value.back()) && value.front() != u'"';
  if (plain) return Text(value);
  if (value.empty()) return u"\"\"";
  return u"\"" + replace_all(value, u"\"", u"\"\"") + u"\"";
}

SourceProgram parse_program(const std::string& main_script, const ReadFile& read_file,
                            std::vector<Diagnostic>& diagnostics) {
  Parser parser(read_file, diagnostics);
  parser.parse_file(main_script, 0, u"0", "", 0);
  parser.finish();
  return std::move(parser.program);
}

}  // namespace kyt::build
