#include "platform/RepeatingTimer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/Dispatch.h"

namespace ov {

// The action lives apart from the QTimer so that invalidating from inside the
// action, or from another thread, never frees code that is still running.
struct RepeatingTimer::Action {
  std::mutex mutex;
  std::function<void()> function;  // empty once invalidated
};

std::shared_ptr<RepeatingTimer> RepeatingTimer::scheduled(double intervalSeconds,
                                                          std::function<void()> action,
                                                          double fallbackSeconds) {
  if (!(intervalSeconds > 0) || !std::isfinite(intervalSeconds)) intervalSeconds = fallbackSeconds;
  return std::shared_ptr<RepeatingTimer>(new RepeatingTimer(intervalSeconds, std::move(action)));
}

RepeatingTimer::RepeatingTimer(double interval, std::function<void()> action)
    : interval_(interval), timer_(std::make_unique<QTimer>()), action_(std::make_shared<Action>()) {
  action_->function = std::move(action);
  timer_->setTimerType(Qt::PreciseTimer);
  // QTimer takes an int of milliseconds; a month is a longer period than any
  // caller means, and a period below 1 ms would make it fire on every pass of
  // the event loop.
  const double ms = std::clamp(interval * 1000.0, 1.0, 30.0 * 24 * 3600 * 1000);
  timer_->setInterval(static_cast<int>(std::llround(ms)));
  QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [action = action_] {
    std::function<void()> function;
    {
      std::lock_guard lk(action->mutex);
      function = action->function;
    }
    if (function) function();
  });

  // The timer belongs to the main loop wherever it was created, so a
  // background task can schedule one and it still fires.
  auto* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() != app->thread()) {
    timer_->moveToThread(app->thread());
    // Through the main queue rather than a queued Qt call, so that
    // ThreadSanitizer sees the hand-off (see Dispatch.cpp).
    mainQueue().async([timer = QPointer<QTimer>(timer_.get())] {
      if (timer) timer->start();
    });
  } else {
    timer_->start();
  }
}

RepeatingTimer::~RepeatingTimer() {
  invalidate();
}

void RepeatingTimer::invalidate() {
  if (!timer_) return;
  std::function<void()> dropped;
  {
    std::lock_guard lk(action_->mutex);
    dropped = std::move(action_->function);
    action_->function = nullptr;
  }
  QTimer* timer = timer_.release();
  if (QThread::currentThread() == timer->thread()) {
    timer->stop();
  } else {
    // A QTimer may only be stopped by its own thread; the emptied action
    // already keeps any later tick from running.
    mainQueue().async([guarded = QPointer<QTimer>(timer)] {
      if (guarded) guarded->stop();
    });
  }
  // deleteLater: this may run inside the timer's own timeout signal.
  timer->deleteLater();
}

bool RepeatingTimer::isValid() const {
  return timer_ != nullptr;
}

}  // namespace ov
