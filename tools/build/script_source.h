// Reader of the readable script source format (see docs/script-format.md):
// the text the build tool compiles into a setup payload.
//
//   source     := (blank | comment | directive | command | parameter)*
//   comment    := blanks? "#" any
//   directive  := blanks? "%" key (blanks name)? blanks? "=" blanks? value
//   command    := blanks? "~"? command-name
//   parameter  := blanks? key blanks? "=" blanks? value
//   key        := letter (letter | digit | "_")* | digit+
//   value      := '"' (any but '"' | '""')* '"' blanks? | any (trimmed)
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"

namespace kyt::build {

struct Diagnostic {
  std::string file;
  int line = 0;  // 1-based
  std::string message;
  bool warning = false;
  std::string to_string() const;
};

struct SourceCommand {
  Text name;
  bool disabled = false;
  std::vector<Text> parameters;  // parameter k at index k - 1
  std::string file;               // source script path
  int line = 0;                   // 1-based
  int depth = 0;                  // include depth
  Text result_variable = u"0";    // include map text before "*"
};

struct ProjectSettings {
  std::map<std::string, Text> fields;       // %title, %guid, ...
  std::vector<std::pair<Text, Text>> build_settings;  // %setting NAME = value, in order
};

struct SourceProgram {
  ProjectSettings project;
  std::vector<SourceCommand> commands;
};

// Reads a file's bytes; empty when it cannot be read.
using ReadFile = std::function<std::optional<std::string>(const std::string& path)>;

// Parses the main script and, recursively, every "Include Script". Errors and
// warnings are appended to `diagnostics`; the result is usable only when no
// error was reported.
SourceProgram parse_program(const std::string& main_script, const ReadFile& read_file,
                            std::vector<Diagnostic>& diagnostics);

// The value syntax, both ways: `quote_value` gives the shortest form that
// reads back as exactly `value`.
std::optional<Text> parse_value(TextView text, std::string& error);
Text quote_value(TextView value);

}  // namespace kyt::build
