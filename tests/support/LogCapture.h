#pragma once

#include <QStringList>
#include <mutex>

#include "platform/Log.h"

namespace ov::test {

// Records every line of both log channels while it lives (the lines still go
// to the real streams too). Lines may come from any thread.
class LogCapture {
 public:
  LogCapture() {
    setLogObserver([this](LogChannel channel, const QString& line) {
      std::lock_guard lk(mutex_);
      (channel == LogChannel::System ? system_ : output_) << line;
    });
  }
  ~LogCapture() { setLogObserver(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  QStringList systemLines() const { return locked(system_); }  // the system log
  QStringList outputLines() const { return locked(output_); }  // standard output

 private:
  QStringList locked(const QStringList& lines) const {
    std::lock_guard lk(mutex_);
    return lines;
  }
  mutable std::mutex mutex_;
  QStringList system_;
  QStringList output_;
};

}  // namespace ov::test
