#include "script/worker.h"

#include <chrono>
#include <condition_variable>
#include <memory>
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

void wait_for_worker(Variables& variables, Host& host,
                     const std::function<void(const std::atomic<bool>& stop)>& work) {
  // What the thread itself touches lives on the heap, so that a thread the
  // watchdog gave up on never reaches into this frame.
  struct Shared {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished_signal;
    bool finished = false;
  };
  auto shared = std::make_shared<Shared>();
  std::thread worker([shared, work] {
    try {
      work(shared->stop);
    } catch (...) {
      // A worker reports failures through its own result; nothing escapes
      // the thread.
    }
    std::lock_guard lock(shared->mutex);
    shared->finished = true;
    shared->finished_signal.notify_all();
  });
  bool cancelled = false;
  uint64_t armed_at = 0;
  auto& store = variables.store();
  while (true) {
    {
      std::unique_lock lock(shared->mutex);
      // Silent runs wait for the worker; otherwise the window messages are
      // pumped between short waits.
      shared->finished_signal.wait_for(lock, std::chrono::milliseconds(variables.silent() ? 100 : 15),
                                       [&] { return shared->finished; });
      if (shared->finished) break;
    }
    if (!variables.silent()) host.process_messages();
    if (!cancelled && is_true(variables.value_of(u"ZEKO_IsCancelled"))) {
      cancelled = true;
      store.set(u"ZEKO_LastActiveTick", store.get(u"ZEKO_LastDelegateTick"));
      shared->stop = true;
      armed_at = host.tick_count();
    } else if (cancelled && host.tick_count() - armed_at >= kWatchdogInterval) {
      Text heartbeat = store.get(u"ZEKO_LastDelegateTick");
      if (heartbeat == store.get(u"ZEKO_LastActiveTick")) {
        host.end_thread_by_force(worker);
        if (worker.joinable()) worker.detach();
        break;
      }
      store.set(u"ZEKO_LastActiveTick", heartbeat);
      armed_at = host.tick_count();
    }
  }
  if (worker.joinable()) worker.join();
}

bool run_worker(CommandContext& command, TextView cancel_label,
                const std::function<void(const std::atomic<bool>& stop)>& work) {
  Variables& variables = command.variables();
  Host& host = command.host();
  wait_for_worker(variables, host, work);
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
