#include <gtest/gtest.h>

#include "platform/HttpProgressCoalescer.h"

namespace {

using namespace std::chrono_literals;
using Clock = ov::HttpProgressCoalescer::Clock;

// Plays the delivering queue: runs a posted delivery and answers what the
// handler saw and whether the delivery asked to be posted again.
std::pair<std::optional<double>, bool> deliver(ov::HttpProgressCoalescer& coalescer) {
  const auto fraction = coalescer.beginDelivery();
  return {fraction, coalescer.endDelivery()};
}

TEST(HttpProgressCoalescerTest, PostsAtMostOncePerIntervalAndNeverTwiceAtATime) {
  ov::HttpProgressCoalescer coalescer(100ms);
  const auto t0 = Clock::now();
  EXPECT_FALSE(coalescer.update(0.0, t0)) << "nothing to report yet";
  EXPECT_TRUE(coalescer.update(0.1, t0));
  EXPECT_FALSE(coalescer.update(0.2, t0 + 150ms)) << "one delivery already waits";
  EXPECT_EQ(deliver(coalescer), std::pair(std::optional(0.2), false)) << "it reads the latest fraction";
  EXPECT_TRUE(coalescer.update(0.25, t0 + 160ms));
  deliver(coalescer);
  EXPECT_FALSE(coalescer.update(0.3, t0 + 259ms)) << "less than an interval since the last post";
  EXPECT_TRUE(coalescer.update(0.3, t0 + 260ms));
  deliver(coalescer);
  EXPECT_FALSE(coalescer.update(0.3, t0 + 500ms)) << "no news";
}

TEST(HttpProgressCoalescerTest, TheFinalFractionIsAlwaysDeliveredOnce) {
  const auto t0 = Clock::now();
  ov::HttpProgressCoalescer idle(1s);
  EXPECT_TRUE(idle.update(0.5, t0));
  deliver(idle);
  EXPECT_TRUE(idle.finish(1.0)) << "the final fraction ignores the interval";
  EXPECT_EQ(deliver(idle), std::pair(std::optional(1.0), false));
  EXPECT_FALSE(idle.update(1.0, t0 + 10s));

  ov::HttpProgressCoalescer waiting(1s);
  EXPECT_TRUE(waiting.update(0.5, t0));
  EXPECT_FALSE(waiting.finish(1.0)) << "a delivery is already on its way";
  EXPECT_EQ(deliver(waiting), std::pair(std::optional(1.0), false)) << "and picks up the final fraction";

  ov::HttpProgressCoalescer racing(1s);
  EXPECT_TRUE(racing.update(0.5, t0));
  ASSERT_EQ(racing.beginDelivery(), 0.5);
  EXPECT_FALSE(racing.finish(1.0));
  EXPECT_TRUE(racing.endDelivery()) << "the final fraction arrived during the handler: post once more";
  EXPECT_EQ(deliver(racing), std::pair(std::optional(1.0), false));
}

TEST(HttpProgressCoalescerTest, NothingIsDeliveredWhileSuspendedAndTheFinalWaitsForResume) {
  ov::HttpProgressCoalescer coalescer(10ms);
  const auto t0 = Clock::now();
  EXPECT_TRUE(coalescer.update(0.25, t0));
  coalescer.setSuspended(true);
  EXPECT_EQ(deliver(coalescer).first, std::nullopt) << "a report queued before the suspension is dropped";
  EXPECT_FALSE(coalescer.update(0.5, t0 + 1s));
  EXPECT_FALSE(coalescer.finish(1.0));
  EXPECT_TRUE(coalescer.setSuspended(false));
  EXPECT_EQ(deliver(coalescer).first, 1.0);
  EXPECT_FALSE(coalescer.setSuspended(false));
}

}  // namespace
