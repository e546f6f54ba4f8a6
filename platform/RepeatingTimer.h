#pragma once

#include <functional>
#include <memory>

class QTimer;

namespace ov {

// A repeating timer on the main event loop. It keeps firing while a modal
// dialog or a menu runs its own nested loop. Create, invalidate and destroy it
// on the main thread only.
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

  double interval_;
  std::unique_ptr<QTimer> timer_;
  std::shared_ptr<std::function<void()>> action_;
};

}  // namespace ov
