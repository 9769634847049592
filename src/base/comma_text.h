// Comma-text: the one-line form of a string list.
//
//   comma-text := blanks? (item (blanks? "," blanks?)?)*
//   item       := '"' (any char except '"' | '""')* '"'  |  run of chars > ' ' except ','
//
// Writing quotes an item that is empty or contains a comma, a double quote or
// a character up to the space (inner quotes doubled), so that reading what was
// written gives back exactly the same items. Reading also accepts the
// unquoted empty items of ",," and a trailing "," (one more empty item), and,
// as the one-line form allows, blanks between items as separators.
#pragma once

#include <vector>

#include "base/text.h"

namespace kyt {

Text to_comma_text(const std::vector<Text>& items);
std::vector<Text> from_comma_text(TextView text);

// A "|"-separated list: an item holding a blank, a control character, a
// double quote or "|" is quoted with inner quotes doubled; a list of one
// empty item is written as two double quotes.
Text to_bar_list(const std::vector<Text>& items);

}  // namespace kyt
