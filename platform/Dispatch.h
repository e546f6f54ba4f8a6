#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <semaphore>
#include <string>

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

// A counting semaphore in the dispatch style: signal() adds one, wait() takes one.
class Semaphore {
 public:
  explicit Semaphore(int initial = 0) : sem_(initial) {}
  void signal() { sem_.release(); }
  void wait() { sem_.acquire(); }
  bool waitFor(std::chrono::milliseconds timeout) { return sem_.try_acquire_for(timeout); }

 private:
  std::counting_semaphore<> sem_;
};

}  // namespace ov
