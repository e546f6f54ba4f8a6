#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "platform/Dispatch.h"
#include "platform/RepeatingTimer.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Rows.h"

namespace ov::test {
namespace {

using test::PrintTo;

using namespace std::chrono_literals;

enum class Stop { InvalidatedByItsAction, DroppedByItsAction, InvalidatedFromAWorker, Dropped };

void PrintTo(Stop stop, std::ostream* out) {
  constexpr const char* kNames[] = {"InvalidatedByItsAction", "DroppedByItsAction", "InvalidatedFromAWorker",
                                    "Dropped"};
  *out << kNames[static_cast<int>(stop)];
}

class RepeatingTimerStopTest : public ::testing::TestWithParam<Stop> {};

// Scheduled from a worker, as the manager does; it fires on the main thread.
TEST_P(RepeatingTimerStopTest, FiresOnTheMainThreadUntilStopped) {
  const Stop stop = GetParam();
  const bool byAction = stop == Stop::InvalidatedByItsAction || stop == Stop::DroppedByItsAction;
  auto payload = std::make_shared<int>(0);  // what the action captured must outlive its last tick
  std::atomic<int> ticks{0};
  std::atomic<int> offMain{0};
  std::shared_ptr<RepeatingTimer> timer;
  Semaphore created;
  globalUtilityQueue().async([&, payload] {
    timer = RepeatingTimer::scheduled(0.005, [&, payload] {
      offMain += !isMainThread();
      if (stop == Stop::InvalidatedByItsAction) timer->invalidate();
      if (stop == Stop::DroppedByItsAction) timer.reset();
      ticks = ++*payload;
    });
    created.signal();
  });
  ASSERT_TRUE(created.waitFor(10s));
  ASSERT_TRUE(runEventLoopUntil([&] { return ticks >= (byAction ? 1 : 3); }));
  if (stop == Stop::Dropped) timer.reset();
  if (stop == Stop::InvalidatedFromAWorker) {
    globalUtilityQueue().async([&] {
      timer->invalidate();
      created.signal();
    });
    ASSERT_TRUE(created.waitFor(10s));
  }
  const int atStop = ticks;
  runEventLoopFor(50ms);
  EXPECT_EQ(ticks, atStop);
  EXPECT_EQ(offMain, 0);
  EXPECT_TRUE(!timer || !timer->isValid());
}

INSTANTIATE_TEST_SUITE_P(Ways, RepeatingTimerStopTest,
                         ::testing::Values(Stop::InvalidatedByItsAction, Stop::DroppedByItsAction,
                                           Stop::InvalidatedFromAWorker, Stop::Dropped),
                         ::testing::PrintToStringParamName());

}  // namespace
}  // namespace ov::test
