// Paths of the running process.
#pragma once

#include "base/text.h"

namespace kyt {

// Full path of the running executable.
Text module_path();
// The user's temporary folder in its long form, with a trailing backslash;
// created when missing.
Text temporary_folder();

}  // namespace kyt
