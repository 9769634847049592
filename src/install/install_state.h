// What the native apply engine keeps between the commands of one run.
#pragma once

#include <vector>

#include "install/undo_log.h"

namespace kyt {

// What the engine keeps between commands of one run.
struct InstallState {
  // Four entries per queued action: command name, script line, the
  // record's comma-text, the 64-bit mode word.
  std::vector<Text> queue;
  int64_t queued_weight = 0;
  UndoLog undo;
  bool committed = false;
  bool restart_needed = false;
  Text last_failure;
  // Files an installation replaced, kept in the log folder until the run
  // commits, so that a rollback can put them back: (original, kept copy).
  std::vector<std::pair<Text, Text>> kept_files;
  // This run made the log folder (for kept files or restart copies).
  bool log_folder_created = false;
};

}  // namespace kyt
