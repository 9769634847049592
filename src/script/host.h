// What the interpreter needs from the world around it: message boxes, the
// message pump, the clock and files. The engine's Windows host implements it;
// tests use a recording host.
#pragma once

#include <thread>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "base/text.h"
#include "install/machine.h"
#include "system/file_system.h"
#include "system/system_queries.h"

namespace kyt {

class ArchiveWrappers;

enum class MessageIcon { error, warning, information };

// The texts of the language dialog, from the engine's message table.
struct LanguageDialogTexts {
  Text caption, prompt, ok, cancel;
};

class Host {
 public:
  virtual ~Host() = default;
  virtual void show_message(TextView title, TextView text, MessageIcon icon) = 0;
  // Lets the user interface handle pending window messages.
  virtual void process_messages() {}
  // Milliseconds since some fixed start.
  virtual uint64_t tick_count() = 0;
  virtual FileSystem& files() = 0;
  // The wall-clock time in whole seconds (cheap: read every command), and
  // the user's short date and long time for such a second (formatted only
  // when the second changes). Hosts without a clock keep both empty.
  virtual int64_t current_second() { return 0; }
  virtual std::pair<Text, Text> date_and_time(int64_t second) { return {}; }
  // Hosts that answer no system questions (tests of pure script logic)
  // leave this; a command that asks then fails.
  // The archive library's wrappers; nullptr when this host has none.
  virtual ArchiveWrappers* archives() { return nullptr; }
  // Extracts in a second engine process (after the library ran out of
  // resources twice); the error text, or empty optional when it could not
  // start.
  virtual std::optional<Text> extract_out_of_process(const Text& archive, const Text& password,
                                                     const Text& destination, const std::vector<Text>& items,
                                                     bool keep_paths, bool overwrite) {
    return std::nullopt;
  }
  // The user's Windows language as a locale identifier: the language of
  // the user's locale, or with `default_language` the user's default
  // language. Hosts without one answer English.
  virtual int user_locale(bool default_language) { return 1033; }
  // The language dialog: the index of the chosen name, or empty when the
  // user cancelled. Hosts without windows take the preselection.
  virtual std::optional<size_t> choose_language(const std::vector<Text>& names, size_t preselected,
                                                const LanguageDialogTexts& texts) {
    return preselected;
  }
  // The machine installation actions change.
  virtual Machine& machine() { throw std::logic_error("this host changes no machine"); }
  // A question with the buttons Yes, No, Cancel, No to All and Yes to All
  // (any thread); hosts without windows answer No.
  virtual int ask_five(TextView title, TextView text) { return 1; }
  virtual SystemQueries& system() { throw std::logic_error("this host answers no system queries"); }
  // The watchdog's last resort for a cancelled worker that stopped
  // reporting: ends the thread without its cooperation. Hosts that cannot
  // leave it running; either way the engine stops waiting for it.
  virtual void end_thread_by_force(std::thread& thread) {}
};

}  // namespace kyt
