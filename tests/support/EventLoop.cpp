#include "tests/support/EventLoop.h"

#include <QEventLoop>
#include <QTimer>

namespace ov::test {

bool runEventLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  if (condition()) return true;
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(std::chrono::milliseconds(5));
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (condition()) loop.quit();
  });
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  poll.start();
  deadline.start(timeout);
  loop.exec();
  return condition();
}

void runEventLoopFor(std::chrono::milliseconds duration) {
  QEventLoop loop;
  QTimer::singleShot(duration, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace ov::test
