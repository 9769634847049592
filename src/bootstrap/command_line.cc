#include "bootstrap/command_line.h"

namespace kyt {

Text command_line_rest(TextView raw) {
  if (!raw.empty() && raw.front() == u'"') {
    size_t close = raw.find(u'"', 1);
    if (close == TextView::npos) return {};
    return Text(raw.substr(std::min(raw.size(), close + 2)));
  }
  size_t space = raw.find(u' ');
  return space == TextView::npos ? Text() : Text(raw.substr(space + 1));
}

std::vector<Text> split_command_line(TextView raw) {
  std::vector<Text> arguments;
  size_t i = 0;
  const size_t n = raw.size();
  // The program name: quotes group, backslashes are plain characters.
  Text program;
  if (i < n && raw[i] == u'"') {
    size_t close = raw.find(u'"', 1);
    program = Text(raw.substr(1, close == TextView::npos ? TextView::npos : close - 1));
    i = close == TextView::npos ? n : close + 1;
  } else {
    while (i < n && raw[i] != u' ' && raw[i] != u'\t') program.push_back(raw[i++]);
  }
  arguments.push_back(std::move(program));
  while (true) {
    while (i < n && (raw[i] == u' ' || raw[i] == u'\t')) ++i;
    if (i >= n) break;
    Text argument;
    bool quoted = false;
    while (i < n && (quoted || (raw[i] != u' ' && raw[i] != u'\t'))) {
      if (raw[i] == u'\\') {
        size_t backslashes = 0;
        while (i < n && raw[i] == u'\\') ++backslashes, ++i;
        if (i < n && raw[i] == u'"') {
          argument.append(backslashes / 2, u'\\');
          if (backslashes % 2) {
            argument.push_back(u'"');
            ++i;
          }
        } else {
          argument.append(backslashes, u'\\');
        }
      } else if (raw[i] == u'"') {
        if (quoted && i + 1 < n && raw[i + 1] == u'"') {
          argument.push_back(u'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument.push_back(raw[i++]);
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

namespace {
bool is_switch(TextView argument, TextView name) {
  return argument.size() == name.size() + 1 && (argument[0] == u'/' || argument[0] == u'-') &&
         equals_ignore_case(argument.substr(1), name);
}
// "/x=value" (also "-x=" where allowed): the lower-cased argument without its
// first three characters.
bool value_switch(TextView argument, TextView prefixes, Text& value) {
  Text lower = to_lower(argument);
  for (size_t i = 0; i + 3 <= prefixes.size(); i += 3) {
    if (TextView(lower).starts_with(prefixes.substr(i, 3))) {
      value = lower.substr(3);
      return true;
    }
  }
  return false;
}
}  // namespace

CommandLine parse_command_line(const std::vector<Text>& arguments, TextView raw) {
  CommandLine line;
  line.rest = command_line_rest(raw);
  if (!arguments.empty() && arguments[0] == u"OutOfProcessExtract") {
    line.out_of_process_extract = true;
    if (arguments.size() > 1) line.control_file = arguments[1];
    return line;
  }
  for (const Text& argument : arguments) {
    if (is_switch(argument, u"s") || is_switch(argument, u"qn")) line.silent = true;
    else if (is_switch(argument, u"update") || is_switch(argument, u"updatesetup")) line.no_splash = true;
    else if (value_switch(argument, u"/g=", line.gpo_path)) continue;
    else if (value_switch(argument, u"/m=", line.sfx_path)) continue;
    else if (value_switch(argument, u"/l=-l=", line.log_path)) continue;
    else if (value_switch(argument, u"/p=-p=", line.sources_override)) continue;
    else if (!argument.empty() && argument[0] != u'/' && argument[0] != u'-') {
      size_t equals = argument.find(u'=');
      if (equals != Text::npos && equals > 0)
        line.pairs.emplace_back(to_upper(argument.substr(0, equals)), argument.substr(equals + 1));
    }
  }
  return line;
}

}  // namespace kyt
