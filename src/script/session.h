// Engine state that lives for one run and that several command families
// share.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "base/string_list.h"
#include "install/components.h"
#include "install/install_state.h"
#include "ui/messages.h"

namespace kyt {

// Translations of the active language; absent while no language is active.
class Translator {
 public:
  virtual ~Translator() = default;
  // The translation of parameter k of a command, or empty to keep `text`.
  virtual std::optional<Text> parameter(TextView identifier, size_t k, TextView text) = 0;
  // The translation stored under a key (Localization Variable), or empty.
  virtual std::optional<Text> key(TextView key, TextView text) = 0;
};

struct Session {
  // The active language's translations; null while none is active.
  Translator* translator = nullptr;
  // The engine's own texts, translated when a language carries them.
  MessageTable messages;
  ComponentModel components;
  // Variables whose values are saved with the installation.
  StringList persisted_variables{true};
  // The native apply engine's queue, pending undo entries and run state.
  InstallState install;
  // The setup log (the start-up trace); empty when none is written.
  std::function<void(TextView)> setup_log;
  // "Win32", "ia64" or "x64": the registry view and file-system redirection
  // used by commands that touch the machine.
  Text mode64 = u"Win32";
  // The text file "Read from Text File" keeps open between commands.
  struct OpenReadFile {
    Text path;
    std::vector<Text> lines;
    size_t next = 0;
  };
  std::optional<OpenReadFile> read_file;
  // Seconds the engine waits for an unresponsive worker (ZEKO_TIMEOUT).
  int64_t timeout_seconds = 10;
  // The small random generator of "Mathematics".
  struct Random {
    int32_t multiplier = 0;
    int32_t increment = 0;
    int32_t state = 0;
  } random;
  // The last method code and mode of "Compress 7Zip Archive".
  struct ArchiveSettings {
    int32_t method = 0;
    int32_t mode = 0;
  } archive;
};

}  // namespace kyt
