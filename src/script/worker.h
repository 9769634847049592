// Long work on a worker thread while the main thread keeps the user
// interface alive, and the progress protocol between the two.
#pragma once

#include <atomic>
#include <functional>

#include "script/interpreter.h"

namespace kyt {

// Report (any thread): the heartbeat, then range and position unless the
// position is -1, then the status text unless it is "$IGNORE$". "$ZEKO$" as
// text re-reports the values already published.
void report_progress(Variables& variables, Host& host, TextView text, int64_t min, int64_t max, int64_t position);

// Runs `work` on a worker thread and waits for it, pumping window messages
// (or, in a silent run, simply waiting). When the user cancels, the worker
// is asked to stop through `stop`. After the wait the cancellation outcome
// applies: "Setup cancelled" (unless already aborted or silent), then the
// script ends when ABORTONERROR is TRUE, else ABORTEDONERROR becomes TRUE
// with `cancel_label` as its source. Returns false when the run was
// cancelled.
//
// After a cancel a watchdog checks the worker's heartbeat
// (ZEKO_LastDelegateTick) every `kWatchdogInterval` ms: a worker that still
// reports is waited for; one that has not reported since the last check is
// ended by force and no longer waited for.
constexpr uint64_t kWatchdogInterval = 5000;
// The wait alone, without the outcome.
void wait_for_worker(Variables& variables, Host& host,
                     const std::function<void(const std::atomic<bool>& stop)>& work);

bool run_worker(CommandContext& command, TextView cancel_label,
                const std::function<void(const std::atomic<bool>& stop)>& work);

}  // namespace kyt
