#pragma once

#include <chrono>
#include <mutex>
#include <optional>

namespace ov {

// Decides when a download's progress goes to its queue, so that the queue sees
// at most one report per interval, never more than one waiting report, none
// while the request is suspended, and always the final fraction. Thread-safe:
// the producer (the multi thread), the delivering queue and the caller of
// suspend/resume use it together. Each delivery reads the latest fraction, so
// a report that waited in the queue is never stale.
class HttpProgressCoalescer {
 public:
  using Clock = std::chrono::steady_clock;
  explicit HttpProgressCoalescer(std::chrono::milliseconds interval) : interval_(interval) {}

  // Producer: the latest fraction. True when the caller must post a delivery now.
  bool update(double fraction, Clock::time_point now);
  // Producer: the last fraction there will be. True when the caller must post a delivery now.
  bool finish(double fraction);

  // Delivery task: the fraction to report now, or nothing (suspended, or no news).
  std::optional<double> beginDelivery();
  // Delivery task, after the handler: true when another delivery must be posted
  // (the final fraction arrived meanwhile).
  bool endDelivery();

  // Any thread. True when resuming must post a delivery (a final fraction waits).
  bool setSuspended(bool suspended);

 private:
  bool shouldPost(Clock::time_point now, bool ignoreInterval);

  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  double latest_ = 0;
  std::optional<double> delivered_;
  bool final_ = false;
  bool finalDelivered_ = false;
  bool inFlight_ = false;
  bool suspended_ = false;
  std::optional<Clock::time_point> lastPost_;
};

}  // namespace ov
