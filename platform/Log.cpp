#include "platform/Log.h"

#include <syslog.h>
#include <unistd.h>

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

LogEchoes& echoes() {
  static LogEchoes e;
  return e;
}

void echo(std::FILE* stream, const QByteArray& utf8) {
  if (stream == nullptr) return;
  std::fprintf(stream, "%s\n", utf8.constData());
  std::fflush(stream);
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
  echo(echoes().system, utf8);
  if (observer()) observer()(LogChannel::System, line);
}

void outputLine(const QString& line) {
  const QByteArray utf8 = line.toUtf8();
  std::lock_guard lk(logMutex());
  echo(echoes().output, utf8);
  if (observer()) observer()(LogChannel::Output, line);
}

void setLogEchoes(LogEchoes e) {
  std::lock_guard lk(logMutex());
  echoes() = e;
}

bool isTerminal(std::FILE* stream) {
  return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

void setLogObserver(LogObserver o) {
  std::lock_guard lk(logMutex());
  observer() = std::move(o);
}

}  // namespace ov
