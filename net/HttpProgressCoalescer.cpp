#include "net/HttpProgressCoalescer.h"

namespace ov {

bool HttpProgressCoalescer::shouldPost(Clock::time_point now, bool ignoreInterval) {
  if (inFlight_ || suspended_ || finalDelivered_) return false;
  if (delivered_ && *delivered_ == latest_) return false;
  if (!ignoreInterval && lastPost_ && now - *lastPost_ < interval_) return false;
  inFlight_ = true;
  lastPost_ = now;
  return true;
}

bool HttpProgressCoalescer::update(double fraction, Clock::time_point now) {
  std::lock_guard lk(mutex_);
  if (final_) return false;
  latest_ = fraction;
  if (!delivered_ && fraction == 0) return false;
  return shouldPost(now, false);
}

bool HttpProgressCoalescer::finish(double fraction) {
  std::lock_guard lk(mutex_);
  if (final_) return false;
  latest_ = fraction;
  final_ = true;
  return shouldPost(Clock::now(), true);
}

std::optional<double> HttpProgressCoalescer::beginDelivery() {
  std::lock_guard lk(mutex_);
  if (suspended_ || finalDelivered_) {
    inFlight_ = false;
    return std::nullopt;
  }
  delivered_ = latest_;
  if (final_) finalDelivered_ = true;
  return latest_;
}

bool HttpProgressCoalescer::endDelivery() {
  std::lock_guard lk(mutex_);
  inFlight_ = false;
  return final_ && shouldPost(Clock::now(), true);
}

bool HttpProgressCoalescer::setSuspended(bool suspended) {
  std::lock_guard lk(mutex_);
  suspended_ = suspended;
  return !suspended && final_ && shouldPost(Clock::now(), true);
}

}  // namespace ov
