#include "script/condition.h"

namespace kyt {

bool parse_version(TextView text, uint64_t parts[4]) {
  for (int i = 0; i < 4; ++i) parts[i] = 0;
  size_t start = 0;
  for (int i = 0; i < 4 && start <= text.size(); ++i) {
    size_t dot = text.find(u'.', start);
    TextView part = text.substr(start, dot == TextView::npos ? TextView::npos : dot - start);
    auto number = parse_int64(part);
    bool digits_only = !part.empty() && part.find_first_not_of(u"0123456789") == TextView::npos;
    if (dot != TextView::npos) {
      if (!number || !digits_only) return false;
      parts[i] = static_cast<uint64_t>(*number);
      start = dot + 1;
    } else {
      // The last part counts as 0 when it is not a number.
      parts[i] = number && digits_only ? static_cast<uint64_t>(*number) : 0;
      break;
    }
  }
  return true;
}

bool compare_operands(TextView code, TextView left, TextView right) {
  if (code.size() != 1) return false;
  auto l = parse_int32(left), r = parse_int32(right);
  bool numbers = l && r;
  switch (code[0]) {
    case u'0':
      return numbers ? *l == *r : left == right;
    case u'1':
      return numbers ? *l == *r : left.find(right) != TextView::npos;
    case u'2':
      return numbers ? *l > *r : left > right;
    case u'3':
      return numbers ? *l == *r : to_upper(left).find(to_upper(right)) != Text::npos;
    case u'4':
      return numbers ? *l == *r : equals_ignore_case(left, right);
    default:
      return false;
  }
}

bool evaluate_condition(CommandContext& command) {
  Text variable = command.text(1);
  Text value = command.text(3);
  Text code = command.raw(2);
  bool negate = is_true(command.raw(4));
  Variables& variables = command.variables();
  bool result = false;
  if (code == u"5") {
    result = variables.is_defined(variable);
  } else if (code.size() == 1 && code[0] >= u'0' && code[0] <= u'6') {
    Text left = variables.expand(variables.value_of(variable_name(variable)));
    Text right = variables.expand(value);
    if (code == u"6") {
      uint64_t a[4], b[4];
      if (!parse_version(left, a)) throw ScriptError(u"'" + left + u"' is not a valid version");
      if (!parse_version(right, b)) throw ScriptError(u"'" + right + u"' is not a valid version");
      result = false;
      for (int i = 0; i < 4; ++i) {
        if (a[i] != b[i]) {
          result = a[i] > b[i];
          break;
        }
      }
    } else {
      result = compare_operands(code, left, right);
    }
  }
  return negate ? !result : result;
}

}  // namespace kyt
