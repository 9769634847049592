// Structured conditions of If, Else If, While and Until.
#pragma once

#include "script/interpreter.h"

namespace kyt {

// Parameters: 1 variable (NAME or $NAME$), 2 operator code, 3 value,
// 4 negation flag.
bool evaluate_condition(CommandContext& command);

// Compares two operands with operator codes "0" to "4" (numbers when both
// are 32-bit integers, else texts). Codes outside "0".."6" are false.
bool compare_operands(TextView code, TextView left, TextView right);

// Splits a dotted version into four numbers; false when a part followed by a
// dot is not a number.
bool parse_version(TextView text, uint64_t parts[4]);

}  // namespace kyt
