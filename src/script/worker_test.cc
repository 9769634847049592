#include "script/worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "script/test_host.h"

namespace kyt {
namespace {

using testing_support::RecordingHost;

// A cancelled worker that ignores the request to stop: the watchdog ends it
// only when its heartbeat has stopped for a whole interval.
TEST(Watchdog, EndsOnlyAWorkerThatStoppedReporting) {
  for (bool keeps_reporting : {true, false}) {
    SCOPED_TRACE(keeps_reporting ? "reporting" : "silent");
    Variables variables;
    variables.define_variable(u"SILENT", u"TRUE", u"Test");
    RecordingHost host;
    host.tick_step = 700;  // each look at the clock: 0.7 s later
    variables.store().set(u"ZEKO_IsCancelled", u"TRUE");
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto reports = std::make_shared<std::atomic<int>>(0);
    wait_for_worker(variables, host, [&variables, &host, release, reports, keeps_reporting](const std::atomic<bool>&) {
      // Ignores `stop`. When reporting, it reports for a while (past
      // several watchdog intervals) and then finishes by itself.
      while (!*release) {
        if (keeps_reporting) {
          if (++*reports > 60) return;
          report_progress(variables, host, u"busy", 0, 100, *reports);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    if (keeps_reporting) {
      EXPECT_EQ(host.threads_ended_by_force, 0);
      EXPECT_GT(*reports, 60);
    } else {
      EXPECT_EQ(host.threads_ended_by_force, 1);
      EXPECT_EQ(variables.store().get(u"ZEKO_LastActiveTick"), variables.store().get(u"ZEKO_LastDelegateTick"));
    }
    // The thread given up on ends once released and touches nothing of the
    // finished wait.
    *release = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace
}  // namespace kyt
