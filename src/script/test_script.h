// Payloads for the script tests, written as a list of commands the way the
// script editor shows them.
#pragma once

#include <string>
#include <vector>

#include "bootstrap/payload.h"

namespace kyt::testing_support {

struct TestCommand {
  Text name;
  std::vector<Text> parameters;
  bool disabled = false;
};

// A braced identifier unique to the command index.
inline Text test_identifier(size_t index) {
  std::string digits = std::to_string(index);
  digits.insert(0, 12 - digits.size(), '0');
  return u"{0D5C0A11-7E57-4B0B-9C0D-" + ascii(digits) + u"}";
}

// The 0-based source line the payload records for command `index`; reports
// show it plus one.
inline int64_t test_source_line(size_t index) { return static_cast<int64_t>(index) * 10 + 4; }

inline Payload make_payload(const std::vector<TestCommand>& commands,
                            TextView script_path = u"C:\\Projects\\Demo\\Main Script.kys") {
  Payload payload;
  payload.project_guid = u"{12345678-9ABC-DEF0-1234-56789ABCDEF0}";
  payload.product_title = u"Demo";
  payload.product_version = u"1.0";
  payload.publisher = u"Example Ltd";
  StringList parameters;
  for (size_t i = 0; i < commands.size(); ++i) {
    const TestCommand& command = commands[i];
    Text id = test_identifier(i);
    payload.command_names.add(command.name);
    payload.command_ids.add(id);
    payload.command_flags.add(command.disabled ? u"C" : u"");
    payload.media_folders.add(u"");
    payload.source_map.add(Text(script_path) + u"*" + decimal(test_source_line(i)));
    payload.include_map.add(u"0*0");
    if (command.parameters.empty()) continue;
    parameters.add(id);
    for (const Text& parameter : command.parameters) parameters.add(parameter);
  }
  payload.parameters.append(std::move(parameters));
  return payload;
}

}  // namespace kyt::testing_support
