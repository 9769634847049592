// Names of the engine's predefined variables.
#pragma once

#include <vector>

#include "base/text.h"

namespace kyt {

// The names the script check treats as always defined.
const std::vector<TextView>& check_time_names();

}  // namespace kyt
