#include "tests/support/LogCapture.h"

namespace ov::test {

LogCapture::LogCapture() {
  setLogObserver([this](LogChannel channel, const QString& line) {
    std::lock_guard lk(mutex_);
    (channel == LogChannel::System ? system_ : output_) << line;
  });
}

LogCapture::~LogCapture() {
  setLogObserver(nullptr);
}

QStringList LogCapture::systemLines() const {
  std::lock_guard lk(mutex_);
  return system_;
}

QStringList LogCapture::outputLines() const {
  std::lock_guard lk(mutex_);
  return output_;
}

void LogCapture::clear() {
  std::lock_guard lk(mutex_);
  system_.clear();
  output_.clear();
}

}  // namespace ov::test
