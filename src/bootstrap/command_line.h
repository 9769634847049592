// The engine's command line.
#pragma once

#include <utility>
#include <vector>

#include "base/text.h"

namespace kyt {

struct CommandLine {
  bool silent = false;      // "s" or "qn"
  bool no_splash = false;   // "update" or "updatesetup"
  bool out_of_process_extract = false;
  Text control_file;        // with out_of_process_extract
  Text gpo_path;            // "/g="
  Text sfx_path;            // "/m="
  Text log_path;            // "/l=" or "-l="
  Text sources_override;    // "/p=" or "-p="
  Text rest;                // the command line without the program name
  std::vector<std::pair<Text, Text>> pairs;  // NAME (upper case) = VALUE
};

// `arguments` excludes the program name; `raw` is the whole command line as
// the process received it.
CommandLine parse_command_line(const std::vector<Text>& arguments, TextView raw);

// Splits a Windows command line into arguments (the program name first) by
// the rules of the Windows shell: blanks separate, double quotes group, 2n
// backslashes before a quote give n and the quote groups, 2n+1 give n and a
// literal quote, "" inside a group gives a literal quote.
std::vector<Text> split_command_line(TextView raw);

// The command line without its first element: up to the closing quote and
// one more character when it begins with a quote, else up to and including
// the first space.
Text command_line_rest(TextView raw);

}  // namespace kyt
