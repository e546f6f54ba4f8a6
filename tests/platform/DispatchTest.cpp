#include <gtest/gtest.h>

#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"
#include "tests/support/EventLoop.h"

namespace ov {
namespace {

using namespace std::chrono_literals;

struct QueueCase {
  const char* name;
  std::function<DispatchQueue&()> queue;
};

class ConcurrentQueueTest : public ::testing::TestWithParam<QueueCase> {};

// Preparation, reports and the end of a round block worker threads on
// semaphores; on two cores a pool sized to the machine would stall here.
TEST_P(ConcurrentQueueTest, TasksBlockedOnTheLastOneAllFinish) {
  constexpr int kTasks = 64;
  DispatchQueue& queue = GetParam().queue();
  Semaphore gate;
  Semaphore finished;
  for (int i = 0; i < kTasks - 1; ++i) {
    queue.async([&] {
      gate.wait();
      finished.signal();
    });
  }
  queue.async([&] {
    for (int i = 0; i < kTasks - 1; ++i) gate.signal();
    finished.signal();
  });
  int done = 0;
  while (done < kTasks && finished.waitFor(30s)) ++done;
  EXPECT_EQ(done, kTasks);
}

TEST_P(ConcurrentQueueTest, TaskNeverRunsOnThePostingThreadNorBeforeAsyncReturns) {
  DispatchQueue& queue = GetParam().queue();
  Semaphore posted;
  Semaphore ran;
  std::atomic<bool> sawPosted{false};
  std::thread::id runner;
  queue.async([&] {
    runner = std::this_thread::get_id();
    // Had async() run the task in place, `posted` could never be signalled in time.
    sawPosted = posted.waitFor(5s);
    ran.signal();
  });
  posted.signal();
  ASSERT_TRUE(ran.waitFor(10s));
  EXPECT_TRUE(sawPosted);
  EXPECT_NE(runner, std::this_thread::get_id());
}

INSTANTIATE_TEST_SUITE_P(Queues, ConcurrentQueueTest,
                         ::testing::Values(QueueCase{"GlobalUtility",
                                                     []() -> DispatchQueue& { return globalUtilityQueue(); }},
                                           QueueCase{"Labelled",
                                                     []() -> DispatchQueue& {
                                                       static auto q =
                                                           makeConcurrentQueue("DownloadMgrTaskQueue");
                                                       return *q;
                                                     }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConcurrentQueue, KeepsItsLabel) {
  EXPECT_EQ(makeConcurrentQueue("orvalen")->label(), "orvalen");
  EXPECT_EQ(mainQueue().label(), "main");
}

TEST(MainQueue, TasksFromManyThreadsRunOnTheMainThreadInTheirPostingOrder) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 100;
  std::mutex mutex;
  std::map<int, std::vector<int>> seen;  // poster -> sequence numbers, in the order they ran
  std::atomic<int> offMain{0};
  std::atomic<int> ran{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        mainQueue().async([&, t, i] {
          if (!isMainThread()) ++offMain;
          {
            std::lock_guard lk(mutex);
            seen[t].push_back(i);
          }
          ++ran;
        });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(test::runEventLoopUntil([&] { return ran == kThreads * kPerThread; }));
  EXPECT_EQ(offMain, 0);
  std::vector<int> expected(kPerThread);
  for (int i = 0; i < kPerThread; ++i) expected[i] = i;
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], expected) << "poster " << t;
}

TEST(MainQueue, PostingFromTheMainThreadRunsLaterNotInPlace) {
  std::vector<int> order;
  mainQueue().async([&] { order.push_back(2); });
  mainQueue().async([&] { order.push_back(3); });
  order.push_back(1);
  ASSERT_TRUE(test::runEventLoopUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(MainQueue, RunsInsideANestedLoopStartedByAMainQueueTask) {
  bool innerRan = false;
  bool loopEnded = false;
  mainQueue().async([&] {
    // As a modal dialog does: a nested loop that only ends when later work runs.
    QEventLoop modal;
    mainQueue().async([&] {
      innerRan = true;
      modal.quit();
    });
    modal.exec();
    loopEnded = true;
  });
  ASSERT_TRUE(test::runEventLoopUntil([&] { return loopEnded; }));
  EXPECT_TRUE(innerRan);
}

TEST(MainQueue, IsMainThreadIsFalseOnWorkers) {
  EXPECT_TRUE(isMainThread());
  std::atomic<bool> onWorker{true};
  Semaphore done;
  globalUtilityQueue().async([&] {
    onWorker = isMainThread();
    done.signal();
  });
  ASSERT_TRUE(done.waitFor(10s));
  EXPECT_FALSE(onWorker);
}

TEST(Semaphore, CountsSignalsAndTimesOut) {
  Semaphore semaphore(1);
  EXPECT_TRUE(semaphore.waitFor(0ms));
  EXPECT_FALSE(semaphore.waitFor(10ms));
  semaphore.signal();
  semaphore.signal();
  EXPECT_TRUE(semaphore.waitFor(0ms));
  EXPECT_TRUE(semaphore.waitFor(0ms));
  EXPECT_FALSE(semaphore.waitFor(0ms));
}

}  // namespace
}  // namespace ov
