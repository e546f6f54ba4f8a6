#include "platform/Log.h"

#include <syslog.h>

#include <cstdio>
#include <mutex>

namespace ov {
namespace {

std::mutex& logMutex() {
  static std::mutex m;
  return m;
}

LogObserver& observer() {
  static LogObserver o;
  return o;
}

}  // namespace

void systemLog(const QString& line) {
  const QByteArray utf8 = line.toUtf8();
  std::lock_guard lk(logMutex());
  static const bool opened = [] {
    openlog("OVDownloader", LOG_PID, LOG_USER);
    return true;
  }();
  (void)opened;
  syslog(LOG_NOTICE, "%s", utf8.constData());
  std::fprintf(stderr, "%s\n", utf8.constData());
  std::fflush(stderr);
  if (observer()) observer()(LogChannel::System, line);
}

void outputLine(const QString& line) {
  const QByteArray utf8 = line.toUtf8();
  std::lock_guard lk(logMutex());
  std::fprintf(stdout, "%s\n", utf8.constData());
  std::fflush(stdout);
  if (observer()) observer()(LogChannel::Output, line);
}

void setLogObserver(LogObserver o) {
  std::lock_guard lk(logMutex());
  observer() = std::move(o);
}

}  // namespace ov
