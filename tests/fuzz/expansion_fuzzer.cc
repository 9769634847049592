// Expansion on arbitrary variables and texts: it must end, and never crash,
// whatever the values refer to (themselves, each other, in long chains).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "base/text_file.h"
#include "script/variables.h"

using namespace kyt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Lines "NAME=VALUE" define variables; the last line is expanded.
  std::vector<Text> lines = read_utf8_lines(std::string_view(reinterpret_cast<const char*>(data), size));
  if (lines.empty()) return 0;
  Variables variables;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    size_t equals = lines[i].find(u'=');
    if (equals == Text::npos) continue;
    variables.define_variable(lines[i].substr(0, equals), lines[i].substr(equals + 1), u"Fuzz");
  }
  Text plain = variables.expand(lines.back());
  Text quoted = variables.expand_quoted(lines.back());
  if (plain.size() > (size_t(1) << 25) || quoted.size() > (size_t(1) << 25)) abort();
  (void)variables.snapshot();
  return 0;
}
