#include "platform/Clock.h"

#include <mutex>

namespace ov {
namespace {
std::mutex clockMutex;
std::function<QDateTime()> testClock;
}  // namespace

QDateTime now() {
  std::lock_guard lk(clockMutex);
  return testClock ? testClock() : QDateTime::currentDateTimeUtc();
}

void setClockForTesting(std::function<QDateTime()> clock) {
  std::lock_guard lk(clockMutex);
  testClock = std::move(clock);
}

}  // namespace ov
