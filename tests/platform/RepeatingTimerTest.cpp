#include <gtest/gtest.h>

#include <QEventLoop>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>

#include "platform/Dispatch.h"
#include "platform/RepeatingTimer.h"
#include "tests/support/EventLoop.h"

namespace ov {
namespace {

using namespace std::chrono_literals;

TEST(RepeatingTimer, KeepsFiringInsideAModalLoop) {
  int ticks = 0;
  int ticksInsideModal = 0;
  bool inModal = false;
  bool modalEnded = false;
  auto timer = RepeatingTimer::scheduled(0.01, [&] {
    ++ticks;
    if (inModal) ++ticksInsideModal;
  });
  mainQueue().async([&] {
    QEventLoop modal;
    auto watcher = RepeatingTimer::scheduled(0.005, [&] {
      if (ticksInsideModal >= 3) modal.quit();
    });
    inModal = true;
    modal.exec();
    inModal = false;
    modalEnded = true;
  });
  ASSERT_TRUE(test::runEventLoopUntil([&] { return modalEnded; }));
  EXPECT_GE(ticksInsideModal, 3);
  timer->invalidate();
}

TEST(RepeatingTimer, InvalidateFromInsideItsOwnActionStopsIt) {
  int ticks = 0;
  std::shared_ptr<RepeatingTimer> timer;
  timer = RepeatingTimer::scheduled(0.005, [&] {
    ++ticks;
    timer->invalidate();
  });
  ASSERT_TRUE(test::runEventLoopUntil([&] { return ticks > 0; }));
  test::runEventLoopFor(50ms);
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(timer->isValid());
}

// The action may drop the last reference to its own timer; what it captured
// must stay alive until it returns.
TEST(RepeatingTimer, ActionMayDestroyItsTimerAndStillUseItsCaptures) {
  auto payload = std::make_shared<int>(41);
  int seen = 0;
  std::shared_ptr<RepeatingTimer> timer;
  timer = RepeatingTimer::scheduled(0.005, [&, payload] {
    timer.reset();
    seen = ++*payload;
  });
  payload.reset();
  ASSERT_TRUE(test::runEventLoopUntil([&] { return seen != 0; }));
  test::runEventLoopFor(30ms);
  EXPECT_EQ(seen, 42);
  EXPECT_EQ(timer, nullptr);
}

TEST(RepeatingTimer, StopsWhenDestroyed) {
  std::atomic<int> ticks{0};
  auto timer = RepeatingTimer::scheduled(0.005, [&] { ++ticks; });
  ASSERT_TRUE(test::runEventLoopUntil([&] { return ticks > 0; }));
  timer.reset();
  const int atReset = ticks;
  test::runEventLoopFor(40ms);
  EXPECT_EQ(ticks, atReset);
}

TEST(RepeatingTimer, ScheduledFromAWorkerFiresOnTheMainThreadAndStopsFromThere) {
  std::atomic<int> ticks{0};
  std::atomic<int> offMain{0};
  std::shared_ptr<RepeatingTimer> timer;
  Semaphore created;
  globalUtilityQueue().async([&] {
    timer = RepeatingTimer::scheduled(0.005, [&] {
      if (!isMainThread()) ++offMain;
      ++ticks;
    });
    created.signal();
  });
  ASSERT_TRUE(created.waitFor(10s));
  ASSERT_TRUE(test::runEventLoopUntil([&] { return ticks >= 3; }));
  EXPECT_EQ(offMain, 0);

  Semaphore invalidated;
  globalUtilityQueue().async([&] {
    timer->invalidate();
    invalidated.signal();
  });
  ASSERT_TRUE(invalidated.waitFor(10s));
  const int atInvalidate = ticks;
  test::runEventLoopFor(40ms);
  EXPECT_EQ(ticks, atInvalidate);
}

struct PeriodCase {
  double requested;
  double expected;
};

class RepeatingTimerPeriodTest : public ::testing::TestWithParam<PeriodCase> {};

TEST_P(RepeatingTimerPeriodTest, UnsoundPeriodsUseTheFallback) {
  auto timer = RepeatingTimer::scheduled(
      GetParam().requested, [] {}, 7.0);
  EXPECT_DOUBLE_EQ(timer->interval(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Periods, RepeatingTimerPeriodTest,
                         ::testing::Values(PeriodCase{0.0, 7.0}, PeriodCase{-1.0, 7.0},
                                           PeriodCase{-0.0001, 7.0},
                                           PeriodCase{std::numeric_limits<double>::quiet_NaN(), 7.0},
                                           PeriodCase{std::numeric_limits<double>::infinity(), 7.0},
                                           PeriodCase{0.3, 0.3}, PeriodCase{30.0, 30.0}));

TEST(RepeatingTimer, FallbackDefaultsToThirtySeconds) {
  EXPECT_DOUBLE_EQ(RepeatingTimer::scheduled(0, [] {})->interval(), 30.0);
}

}  // namespace
}  // namespace ov
