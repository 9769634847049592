#include "script/worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kyt {

void report_progress(Variables& variables, Host& host, TextView text, int64_t min, int64_t max, int64_t position) {
  auto& store = variables.store();
  store.set(u"ZEKO_LastDelegateTick", decimal(static_cast<int64_t>(host.tick_count())));
  Text status(text);
  if (text == u"$ZEKO$") {
    status = store.get(u"ZEKO_thProgressText");
    position = parse_int64(store.get(u"ZEKO_thProgress")).value_or(0);
    max = parse_int64(store.get(u"ZEKO_thMax")).value_or(100);
    min = parse_int64(store.get(u"ZEKO_thMin")).value_or(0);
  }
  if (position != -1) {
    store.set(u"ZEKO_thMax", decimal(max));
    store.set(u"ZEKO_thMin", decimal(min));
    store.set(u"ZEKO_thProgress", decimal(position));
  }
  if (text != u"$IGNORE$") store.set(u"ZEKO_thProgressText", status);
}

bool run_worker(CommandContext& command, TextView cancel_label,
                const std::function<void(const std::atomic<bool>& stop)>& work) {
  Variables& variables = command.variables();
  Host& host = command.host();
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable finished_signal;
  bool finished = false;
  std::thread worker([&] {
    try {
      work(stop);
    } catch (...) {
      // A worker reports failures through its own result; nothing escapes
      // the thread.
    }
    std::lock_guard lock(mutex);
    finished = true;
    finished_signal.notify_all();
  });
  bool cancelled = false;
  while (true) {
    {
      std::unique_lock lock(mutex);
      // Silent runs wait for the worker; otherwise the window messages are
      // pumped between short waits.
      finished_signal.wait_for(lock, std::chrono::milliseconds(variables.silent() ? 100 : 15), [&] { return finished; });
      if (finished) break;
    }
    if (!variables.silent()) host.process_messages();
    if (!cancelled && is_true(variables.value_of(u"ZEKO_IsCancelled"))) {
      cancelled = true;
      variables.store().set(u"ZEKO_LastActiveTick", variables.value_of(u"ZEKO_LastDelegateTick"));
      stop = true;
    }
  }
  worker.join();
  if (!is_true(variables.value_of(u"ZEKO_IsCancelled"))) return true;
  if (!is_true(variables.value_of(u"ABORTEDONERROR")) && !variables.silent())
    host.show_message(command.interpreter().window_title(), u"Setup cancelled", MessageIcon::error);
  if (is_true(variables.value_of(u"ABORTONERROR"))) {
    command.interpreter().end_script();
  } else {
    variables.set_variable(u"ABORTEDONERROR", u"TRUE", cancel_label);
  }
  return false;
}

}  // namespace kyt
