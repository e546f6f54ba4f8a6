#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"
#include "tests/support/EventLoop.h"

namespace ov::test {
namespace {

using namespace std::chrono_literals;

class ConcurrentQueueTest : public ::testing::TestWithParam<bool> {};

// Preparation, reports and a failed download block worker threads on
// semaphores; on two cores a pool sized to the machine would stall here.
TEST_P(ConcurrentQueueTest, TasksBlockedOnTheLastOneAllFinishOffThePostingThread) {
  constexpr int kTasks = 64;
  static auto labelled = makeConcurrentQueue("DownloadMgrTaskQueue");
  DispatchQueue& queue = GetParam() ? *labelled : globalUtilityQueue();
  Semaphore gate;
  Semaphore finished;
  std::atomic<int> onPoster{0};
  const auto poster = std::this_thread::get_id();
  for (int i = 0; i < kTasks - 1; ++i) {
    queue.async([&] {
      onPoster += std::this_thread::get_id() == poster;
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
  EXPECT_EQ(onPoster, 0);
}

INSTANTIATE_TEST_SUITE_P(GlobalAndLabelled, ConcurrentQueueTest, ::testing::Bool());

TEST(MainQueue, TasksFromManyThreadsRunLaterOnTheMainThreadInTheirPostingOrder) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 100;
  std::mutex mutex;
  std::map<int, std::vector<int>> seen;  // poster -> sequence numbers, in the order they ran
  std::atomic<int> offMain{0};
  std::atomic<int> ran{0};
  const auto post = [&](int poster, int i) {
    mainQueue().async([&, poster, i] {
      offMain += !isMainThread();
      std::lock_guard lk(mutex);
      seen[poster].push_back(i);
      ++ran;
    });
  };
  post(kThreads, 0);
  EXPECT_EQ(ran, 0) << "posting from the main thread runs later, not in place";
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) post(t, i);
    });
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(runEventLoopUntil([&] { return ran == kThreads * kPerThread + 1; }));
  EXPECT_EQ(offMain, 0);
  std::vector<int> expected(kPerThread);
  for (int i = 0; i < kPerThread; ++i) expected[i] = i;
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], expected) << "poster " << t;
}

}  // namespace
}  // namespace ov::test
