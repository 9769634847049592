// The script check: block structure, loops, labels and variables, run before
// the script starts and by the build tool.
#pragma once

#include <cstdint>

#include "bootstrap/payload.h"
#include "script/variables.h"

namespace kyt {

// The failing index of a check that found unequal totals of openers and
// closers.
inline constexpr int64_t kCountMismatchIndex = 2147483644;

struct CheckResult {
  int64_t index = -1;  // -1: well formed
  Text message;
  bool ok() const { return index < 0; }
};

// Uses (and leaves filled) the variable store: the check defines the
// predefined names and every result variable it meets.
CheckResult check_script(const Payload& payload, Variables& variables);

}  // namespace kyt
