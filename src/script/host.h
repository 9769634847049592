// What the interpreter needs from the world around it: message boxes, the
// message pump, the clock and files. The engine's Windows host implements it;
// tests use a recording host.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "base/text.h"
#include "system/file_system.h"
#include "system/system_queries.h"

namespace kyt {

enum class MessageIcon { error, warning, information };

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
  virtual SystemQueries& system() { throw std::logic_error("this host answers no system queries"); }
};

}  // namespace kyt
