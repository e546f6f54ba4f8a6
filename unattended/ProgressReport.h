#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>

#include "frontend/ExitCode.h"

class QJsonObject;

namespace ov {

// What the unattended mode prints while it works, for a person or a script:
//   Terminal  on stderr, a state line for each change and one progress line
//             redrawn in place (percent, bytes of total, speed, time left), at
//             most four times a second;
//   Lines     on stderr, a line for each change of state and one per 5 %;
//   Json      on stdout, one JSON object per line: "state", "bytes", "total",
//             "speed" (bytes a second), and at the end "exitCode" with "path"
//             or "failure" and "message".
// Whatever the style, the end is one line on stderr: "OVDownloader: " and the
// outcome. Main thread.
class ProgressReport {
 public:
  enum class Style { Terminal, Lines, Json };
  using Write = std::function<void(const QByteArray&)>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  ProgressReport(Style style, Write out, Write err, Clock clock = &std::chrono::steady_clock::now);

  // The preparation of `product` begins (again, after a retry).
  void preparing(const QString& product);
  // The transfer of `total` bytes to `destination` begins (again, after a retry).
  void downloading(std::int64_t total, const QString& destination);
  // The share of the download done, 0 to 1 (the engine's progress).
  void progress(double fraction);
  // Retry `retry` of `retries` follows in `wait`, after `failure`.
  void retrying(int retry, int retries, std::chrono::milliseconds wait, ExitCode failure, const QString& why);
  // The outcome; `detail` is the installer's path when delivered, else the
  // message (a usage mistake adds the --help hint). Only the first call counts.
  void finish(ExitCode code, const QString& detail);

  bool finished() const { return finished_; }

 private:
  void stateLine(const QString& line);
  void redraw();
  void json(const QString& state, const std::function<void(QJsonObject&)>& more = nullptr);
  QString progressText() const;
  double speed() const;  // bytes a second over the last few seconds

  Style style_;
  Write out_;
  Write err_;
  Clock clock_;
  std::int64_t total_ = 0;
  std::int64_t bytes_ = 0;
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::int64_t>> samples_;
  std::chrono::steady_clock::time_point lastShown_{};
  int lastStep_ = -1;       // Lines: the last 5 % step printed
  qsizetype openLine_ = 0;  // Terminal: the length of the line being redrawn, 0 when none
  bool finished_ = false;
};

}  // namespace ov
