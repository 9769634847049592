// The engine from process start to exit code.
#pragma once

#include "base/text.h"

namespace kyt {

// Exit codes of the start-up.
enum ExitCode : int {
  kExitSuccess = 0,
  kExitEscapedError = 11,
  kExitNoPayload = 13,
  kExitNoResources = 14,
  kExitResourcesDamaged = 15,
  kExitScriptCheckFailed = 314,
};

// Runs the engine for this process's command line; returns the exit code.
int run_engine();

// The support folder: temporary folder + "kyt" + N + "\\" for the first free
// N, created by this call (never an existing one). Elevated, its access list
// admits only the current user, SYSTEM and Administrators.
Text create_support_folder(const Text& temp_folder);
// Deletes a folder tree (three attempts); links inside are removed as links,
// their targets are never entered.
void remove_folder_tree(const Text& folder);
bool process_is_elevated();
// The support folder's access list as security-descriptor text; empty when
// the engine is not elevated and the folder inherits its list.
Text support_folder_access_list();

}  // namespace kyt
