#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace ov {

using Task = std::function<void()>;

// A place to run work later. `async` never runs the task on the calling
// thread before returning, so callers may block waiting for what the task does.
class DispatchQueue {
 public:
  virtual ~DispatchQueue() = default;
  virtual void async(Task task) = 0;
  virtual const std::string& label() const = 0;
};

// The Qt main thread's event loop. Needs a QCoreApplication (or a subclass);
// tasks posted before it exists run once its event loop starts.
DispatchQueue& mainQueue();
std::shared_ptr<DispatchQueue> mainQueueHandle();  // the same queue, for APIs that take a shared queue
bool isMainThread();
// Whether the calling code runs as a task of a queue with this label
// ("main" for the main queue).
bool isOnQueue(std::string_view label);

// The process-wide concurrent queue of utility priority.
DispatchQueue& globalUtilityQueue();

// A private concurrent queue with a label, such as "DownloadMgrTaskQueue".
// Tasks may run at the same time; a task never waits for a thread while others
// are blocked, because the worker pool grows on demand (up to a generous cap).
std::shared_ptr<DispatchQueue> makeConcurrentQueue(std::string label);

// A private serial queue: tasks run one after the other, in posting order, on
// the shared worker pool.
std::shared_ptr<DispatchQueue> makeSerialQueue(std::string label);

// How many worker threads the shared pool holds right now (for tests).
int workerThreadCount();

// A counting semaphore in the dispatch style: signal() adds one, wait() takes
// one. (std::counting_semaphore would do, but clang's tools cannot read
// libstdc++'s.)
class Semaphore {
 public:
  explicit Semaphore(int initial = 0) : count_(initial) {}
  void signal() {
    // Notified under the lock: a waiter that returns may destroy the
    // semaphore at once, and must not find the signal still touching it.
    std::lock_guard lk(mutex_);
    ++count_;
    available_.notify_one();
  }
  void wait() {
    std::unique_lock lk(mutex_);
    available_.wait(lk, [this] { return count_ > 0; });
    --count_;
  }
  bool waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lk(mutex_);
    if (!available_.wait_for(lk, timeout, [this] { return count_ > 0; })) return false;
    --count_;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable available_;
  int count_;
};

}  // namespace ov
