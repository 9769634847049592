// The expression evaluator and its syntax check on arbitrary text: they must
// end with TRUE, FALSE or ERROR (or the number-range error), never crash.
#include <cstdint>
#include <cstdlib>

#include "base/text.h"
#include "script/expression.h"
#include "script/interpreter.h"

using namespace kyt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Text text = from_utf8(std::string_view(reinterpret_cast<const char*>(data), size));
  (void)expression_syntax_valid(text);
  try {
    Text result = evaluate_expression(text);
    if (result != u"TRUE" && result != u"FALSE" && result != u"ERROR") abort();
  } catch (const ScriptError&) {
  }
  return 0;
}
