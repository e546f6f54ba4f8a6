#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "platform/TerminationSignals.h"
#include "tests/support/EventLoop.h"

namespace {

using namespace std::chrono_literals;

TEST(TerminationSignals, ArriveOnTheMainLoopInOrder) {
  TerminationSignals signalsReceived;
  ASSERT_TRUE(signalsReceived.isActive());
  std::vector<int> seen;
  QObject::connect(&signalsReceived, &TerminationSignals::received,
                   [&](int number) { seen.push_back(number); });
  ASSERT_EQ(std::raise(SIGTERM), 0);
  ASSERT_EQ(std::raise(SIGINT), 0);
  // Nothing runs inside the handler itself.
  EXPECT_TRUE(seen.empty());
  ASSERT_TRUE(ov::test::runEventLoopUntil([&] { return seen.size() == 2; }, 5s));
  EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGINT}));
}

TEST(TerminationSignals, TheDestructorPutsBackThePreviousHandler) {
  struct sigaction before {};
  ::sigaction(SIGTERM, nullptr, &before);
  {
    TerminationSignals signalsReceived;
    struct sigaction during {};
    ::sigaction(SIGTERM, nullptr, &during);
    EXPECT_NE(during.sa_handler, before.sa_handler);
  }
  struct sigaction after {};
  ::sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
