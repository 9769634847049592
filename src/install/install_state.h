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
  // Windows Installer mode: the properties the commands pass to the
  // package ("A" + header switches a command's rows on, "P" + header + "_"
  // + n carries a run-time value), the same pairs appended to the
  // maintenance property list, and the commands that ran.
  std::vector<Text> property_names, property_values;
  std::vector<Text> maintenance_properties;  // name, value, name, value, ...
  std::vector<size_t> used_commands;
  // Shortcuts to pin when the installation commits: (link, "taskbar" or
  // "startmenu").
  std::vector<std::pair<Text, Text>> pinned;
};

}  // namespace kyt
