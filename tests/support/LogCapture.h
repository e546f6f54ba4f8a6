#pragma once

#include <QString>
#include <QStringList>
#include <mutex>

#include "platform/Log.h"

namespace ov::test {

// Records every line of both log channels while it lives (the lines still go
// to the real streams too). Lines may come from any thread.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();

  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  QStringList systemLines() const;  // the system log
  QStringList outputLines() const;  // standard output
  void clear();

 private:
  mutable std::mutex mutex_;
  QStringList system_;
  QStringList output_;
};

}  // namespace ov::test
