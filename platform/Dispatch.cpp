#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace ov {
namespace {

// Blocking is normal here (preparation, reports and the round end wait on
// semaphores), so a fixed pool the size of the machine would deadlock on two
// cores. Workers are started whenever no idle one can take a task, and leave
// after a while without work.
class WorkerPool {
 public:
  static WorkerPool& instance() {
    static auto* pool = new WorkerPool;  // never destroyed: workers may outlive main()
    return *pool;
  }

  void submit(Task task) {
    std::unique_lock lk(mutex_);
    tasks_.push_back(std::move(task));
    if (idle_ >= static_cast<int>(tasks_.size()) || threads_ >= kMaxThreads) {
      lk.unlock();
      wake_.notify_one();
      return;
    }
    ++threads_;
    lk.unlock();
    std::thread([this] { run(); }).detach();
  }

  int threadCount() {
    std::lock_guard lk(mutex_);
    return threads_;
  }

 private:
  static constexpr int kMaxThreads = 512;
  static constexpr auto kIdleExit = std::chrono::seconds(15);

  void run() {
    std::unique_lock lk(mutex_);
    for (;;) {
      if (tasks_.empty()) {
        ++idle_;
        bool woke = wake_.wait_for(lk, kIdleExit, [this] { return !tasks_.empty(); });
        --idle_;
        if (!woke) {
          --threads_;
          return;
        }
      }
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      lk.unlock();
      task();
      task = nullptr;  // release captures outside the lock
      lk.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  int threads_ = 0;
  int idle_ = 0;
};

class ConcurrentQueue final : public DispatchQueue {
 public:
  explicit ConcurrentQueue(std::string label) : label_(std::move(label)) {}
  void async(Task task) override { WorkerPool::instance().submit(std::move(task)); }
  const std::string& label() const override { return label_; }

 private:
  std::string label_;
};

class MainQueue final : public DispatchQueue {
 public:
  void async(Task task) override {
    // The hand-off goes through our own mutex rather than only Qt's event
    // queue, so ThreadSanitizer (which cannot see into Qt's futex-based locks)
    // sees the ordering between the poster and the task.
    {
      std::lock_guard lk(mutex_);
      pending_.push_back(std::move(task));
    }
    // A queued call on the application object runs on its thread's event loop,
    // nested (modal) loops included.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [this] { runOne(); }, Qt::QueuedConnection);
  }
  const std::string& label() const override { return label_; }

 private:
  void runOne() {
    Task task;
    {
      std::lock_guard lk(mutex_);
      if (pending_.empty()) return;
      task = std::move(pending_.front());
      pending_.pop_front();
    }
    task();
  }

  std::string label_ = "main";
  std::mutex mutex_;
  std::deque<Task> pending_;
};

}  // namespace

DispatchQueue& mainQueue() {
  static MainQueue queue;
  return queue;
}

bool isMainThread() {
  auto* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

DispatchQueue& globalUtilityQueue() {
  static ConcurrentQueue queue("global.utility");
  return queue;
}

std::shared_ptr<DispatchQueue> makeConcurrentQueue(std::string label) {
  return std::make_shared<ConcurrentQueue>(std::move(label));
}

int workerThreadCount() { return WorkerPool::instance().threadCount(); }

}  // namespace ov
