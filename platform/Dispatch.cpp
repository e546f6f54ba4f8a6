#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace ov {
namespace {

// The label of the queue whose task this thread runs, if any.
thread_local const std::string* runningQueue = nullptr;

class QueueScope {
 public:
  explicit QueueScope(const std::string& label) : previous_(std::exchange(runningQueue, &label)) {}
  ~QueueScope() { runningQueue = previous_; }
  QueueScope(const QueueScope&) = delete;
  QueueScope& operator=(const QueueScope&) = delete;

 private:
  const std::string* previous_;
};

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
    try {
      std::thread([this] { run(); }).detach();
    } catch (const std::system_error&) {
      // The system refused another thread: the task waits for a worker that is
      // already running rather than being lost.
      lk.lock();
      --threads_;
      lk.unlock();
      wake_.notify_one();
    }
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
  explicit ConcurrentQueue(std::string label)
      : label_(std::make_shared<const std::string>(std::move(label))) {}
  void async(Task task) override {
    WorkerPool::instance().submit([label = label_, task = std::move(task)]() mutable {
      const QueueScope scope(*label);
      task();
    });
  }
  const std::string& label() const override { return *label_; }

 private:
  // Shared with the tasks in flight, which may outlive the queue object.
  std::shared_ptr<const std::string> label_;
};

// Tasks run one at a time, in the order posted, on the shared worker pool.
class SerialQueue final : public DispatchQueue, public std::enable_shared_from_this<SerialQueue> {
 public:
  explicit SerialQueue(std::string label) : label_(std::move(label)) {}
  void async(Task task) override {
    {
      std::lock_guard lk(mutex_);
      tasks_.push_back(std::move(task));
      if (draining_) return;
      draining_ = true;
    }
    WorkerPool::instance().submit([self = shared_from_this()] { self->drain(); });
  }
  const std::string& label() const override { return label_; }

 private:
  void drain() {
    for (;;) {
      Task task;
      {
        std::lock_guard lk(mutex_);
        if (tasks_.empty()) {
          draining_ = false;
          return;
        }
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      const QueueScope scope(label_);
      task();
    }
  }

  std::string label_;
  std::mutex mutex_;
  std::deque<Task> tasks_;
  bool draining_ = false;
};

class MainQueue final : public DispatchQueue {
 public:
  static MainQueue& instance();

  void async(Task task) override {
    bool beforeApplication = false;
    {
      std::lock_guard lk(mutex_);
      pending_.push_back(std::move(task));
      if (QCoreApplication::instance() != nullptr) {
        postRunOne();
      } else {
        // No application yet: the task waits in pending_ and is scheduled
        // when the application object is constructed.
        ++unscheduled_;
        beforeApplication = true;
      }
    }
    // Outside the lock: qAddPreRoutine runs the routine at once when the
    // application has appeared in the meantime.
    if (beforeApplication)
      std::call_once(preRoutineOnce_, [] { qAddPreRoutine(&MainQueue::scheduleUnscheduled); });
  }
  const std::string& label() const override { return label_; }

 private:
  static void scheduleUnscheduled() {
    MainQueue& queue = instance();
    std::lock_guard lk(queue.mutex_);
    for (; queue.unscheduled_ > 0; --queue.unscheduled_) postRunOne();
  }

  // One queued call on the application object per task: it runs on the main
  // thread's event loop, nested (modal) loops included, in posting order.
  //
  // ThreadSanitizer cannot see into Qt's futex-based locks, so the hand-off
  // must be visible through mutex_ alone: the call is posted while mutex_ is
  // held (so Qt's copy of the functor is made before the unlock that
  // runOne()'s lock follows) and the functor captures nothing (so nothing of
  // the poster's is read before that lock).
  static void postRunOne() {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { instance().runOne(); }, Qt::QueuedConnection);
  }

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
  int unscheduled_ = 0;
  std::once_flag preRoutineOnce_;
};

MainQueue& MainQueue::instance() {
  static MainQueue queue;
  return queue;
}

}  // namespace

DispatchQueue& mainQueue() {
  return MainQueue::instance();
}

std::shared_ptr<DispatchQueue> mainQueueHandle() {
  static std::shared_ptr<DispatchQueue> handle(&mainQueue(), [](DispatchQueue*) {});
  return handle;
}

bool isOnQueue(std::string_view label) {
  if (label == "main") return isMainThread();
  return runningQueue != nullptr && *runningQueue == label;
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

std::shared_ptr<DispatchQueue> makeSerialQueue(std::string label) {
  return std::make_shared<SerialQueue>(std::move(label));
}

int workerThreadCount() {
  return WorkerPool::instance().threadCount();
}

}  // namespace ov
