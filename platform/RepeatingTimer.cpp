#include "platform/RepeatingTimer.h"

#include <QTimer>
#include <cmath>

namespace ov {

std::shared_ptr<RepeatingTimer> RepeatingTimer::scheduled(double intervalSeconds, std::function<void()> action,
                                                          double fallbackSeconds) {
  if (!(intervalSeconds > 0) || !std::isfinite(intervalSeconds)) intervalSeconds = fallbackSeconds;
  return std::shared_ptr<RepeatingTimer>(new RepeatingTimer(intervalSeconds, std::move(action)));
}

RepeatingTimer::RepeatingTimer(double interval, std::function<void()> action)
    : interval_(interval),
      timer_(std::make_unique<QTimer>()),
      action_(std::make_shared<std::function<void()>>(std::move(action))) {
  timer_->setTimerType(Qt::PreciseTimer);
  // QTimer takes an int of milliseconds; a month is a longer period than any caller means.
  const double ms = std::min(interval * 1000.0, 30.0 * 24 * 3600 * 1000);
  timer_->setInterval(static_cast<int>(std::llround(ms)));
  // The action is shared, not captured by reference, so a tick that destroys
  // this timer from inside the action never runs freed code.
  QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [action = action_] {
    auto keep = action;
    if (*keep) (*keep)();
  });
  timer_->start();
}

RepeatingTimer::~RepeatingTimer() { invalidate(); }

void RepeatingTimer::invalidate() {
  if (!timer_) return;
  timer_->stop();
  timer_->disconnect();
  // deleteLater: this may run inside the timer's own timeout signal.
  timer_.release()->deleteLater();
  *action_ = nullptr;
}

bool RepeatingTimer::isValid() const { return timer_ != nullptr; }

}  // namespace ov
