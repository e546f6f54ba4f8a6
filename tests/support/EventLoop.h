#pragma once

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>

namespace ov::test {

// Runs the main thread's event loop (main-queue tasks, timers, queued calls)
// until `condition` holds or `timeout` has passed; answers the condition.
// Call it on the main thread.
inline bool runEventLoopUntil(const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  if (condition()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (condition()) loop.quit();
  });
  QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
  poll.start(std::chrono::milliseconds(5));
  loop.exec();
  return condition();
}

// Runs the main thread's event loop for `duration`.
inline void runEventLoopFor(std::chrono::milliseconds duration) {
  runEventLoopUntil([] { return false; }, duration);
}

}  // namespace ov::test
