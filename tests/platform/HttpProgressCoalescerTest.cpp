#include <gtest/gtest.h>

#include "platform/HttpProgressCoalescer.h"

namespace {

using namespace std::chrono_literals;
using Clock = ov::HttpProgressCoalescer::Clock;

// Plays the delivering queue: runs a posted delivery and returns what the handler saw.
std::optional<double> deliver(ov::HttpProgressCoalescer& coalescer, bool* postAgain = nullptr) {
  const auto fraction = coalescer.beginDelivery();
  const bool again = coalescer.endDelivery();
  if (postAgain != nullptr) *postAgain = again;
  return fraction;
}

TEST(HttpProgressCoalescerTest, PostsAtMostOncePerIntervalAndNeverTwiceAtATime) {
  ov::HttpProgressCoalescer coalescer(100ms);
  const auto t0 = Clock::now();
  EXPECT_FALSE(coalescer.update(0.0, t0)) << "nothing to report yet";
  EXPECT_TRUE(coalescer.update(0.1, t0));
  EXPECT_FALSE(coalescer.update(0.2, t0 + 150ms)) << "one delivery already waits";
  EXPECT_EQ(deliver(coalescer), 0.2) << "a delivery reads the latest fraction";
  EXPECT_TRUE(coalescer.update(0.25, t0 + 160ms));
  EXPECT_EQ(deliver(coalescer), 0.25);
  EXPECT_FALSE(coalescer.update(0.3, t0 + 259ms)) << "less than an interval since the last post";
  EXPECT_TRUE(coalescer.update(0.3, t0 + 260ms));
  EXPECT_EQ(deliver(coalescer), 0.3);
  EXPECT_FALSE(coalescer.update(0.3, t0 + 500ms)) << "no news";
}

TEST(HttpProgressCoalescerTest, TheFinalFractionIsAlwaysDelivered) {
  ov::HttpProgressCoalescer coalescer(1s);
  const auto t0 = Clock::now();
  EXPECT_TRUE(coalescer.update(0.5, t0));
  EXPECT_EQ(deliver(coalescer), 0.5);
  EXPECT_TRUE(coalescer.finish(1.0)) << "the final fraction ignores the interval";
  EXPECT_EQ(deliver(coalescer), 1.0);
  EXPECT_FALSE(coalescer.update(1.0, t0 + 10s));

  ov::HttpProgressCoalescer busy(1s);
  EXPECT_TRUE(busy.update(0.5, t0));
  EXPECT_FALSE(busy.finish(1.0)) << "a delivery is already on its way";
  EXPECT_EQ(deliver(busy), 1.0) << "and picks up the final fraction";

  ov::HttpProgressCoalescer raced(1s);
  EXPECT_TRUE(raced.update(0.5, t0));
  ASSERT_EQ(raced.beginDelivery(), 0.5);
  EXPECT_FALSE(raced.finish(1.0));
  EXPECT_TRUE(raced.endDelivery()) << "the final fraction arrived during the handler: post once more";
  EXPECT_EQ(deliver(raced), 1.0);
}

TEST(HttpProgressCoalescerTest, NothingIsDeliveredWhileSuspendedAndTheFinalWaitsForResume) {
  ov::HttpProgressCoalescer coalescer(10ms);
  const auto t0 = Clock::now();
  EXPECT_TRUE(coalescer.update(0.25, t0));
  coalescer.setSuspended(true);
  EXPECT_EQ(deliver(coalescer), std::nullopt) << "a report queued before the suspension is dropped";
  EXPECT_FALSE(coalescer.update(0.5, t0 + 1s));
  EXPECT_FALSE(coalescer.finish(1.0));
  EXPECT_TRUE(coalescer.setSuspended(false));
  EXPECT_EQ(deliver(coalescer), 1.0);
  EXPECT_FALSE(coalescer.setSuspended(false));
}

}  // namespace
