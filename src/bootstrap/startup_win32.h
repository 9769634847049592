// The engine from process start to exit code.
#pragma once

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

}  // namespace kyt
