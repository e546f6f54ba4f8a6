#pragma once

#include <functional>
#include <memory>

class QTimer;

namespace ov {

// A repeating timer on the main event loop. It keeps firing while a modal
// dialog or a menu runs its own nested loop. It may be created, invalidated and
// destroyed on any thread (it always fires on the main thread); one object is
// not to be used by two threads at once.
class RepeatingTimer {
 public:
  // Starts at once; the first tick comes one interval later. An interval of
  // zero or less is not a sound period, so it is replaced by `fallbackSeconds`.
  static std::shared_ptr<RepeatingTimer> scheduled(double intervalSeconds, std::function<void()> action,
                                                   double fallbackSeconds = 30.0);
  ~RepeatingTimer();

  RepeatingTimer(const RepeatingTimer&) = delete;
  RepeatingTimer& operator=(const RepeatingTimer&) = delete;

  // Stops the timer for good; a tick already due does not run afterwards.
  void invalidate();
  bool isValid() const;
  double interval() const { return interval_; }

 private:
  RepeatingTimer(double interval, std::function<void()> action);

  struct Action;

  double interval_;
  std::unique_ptr<QTimer> timer_;
  std::shared_ptr<Action> action_;
};

}  // namespace ov
