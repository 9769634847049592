// Boolean expressions of "Evaluate Expression".
//
//   expression := operand (blanks? word operand)*      words: "and", "or"; left to right
//   operand    := blanks? ( "(" expression blanks? ")" | comparison )
//   comparison := string blanks? operator blanks? string blanks?
//   operator   := "=" | "<>" | "<=" | "<" | ">=" | ">"
//   string     := '"' (any but '"' | '""')* '"'
// Two strings that are whole numbers (an optional sign, then digits only)
// compare as signed 32-bit numbers, other strings by UTF-16 code units.
#pragma once

#include "base/text.h"

namespace kyt {

// "TRUE", "FALSE" or "ERROR". A whole number that does not fit in 32 bits
// throws ScriptError: it ends the script.
Text evaluate_expression(TextView expression);

// The check run on an unexpanded parameter: every "$" becomes a double quote,
// so that $NAME$ counts as a quoted string; valid unless the result is
// "ERROR".
bool expression_syntax_valid(TextView expression);

}  // namespace kyt
