#include "unattended/ProgressReport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

#include "frontend/CommandLine.h"

namespace ov {

namespace {

using namespace std::chrono_literals;

// A person reads no faster; a script needs no more.
constexpr auto kRedrawInterval = 250ms;
// The speed is what arrived over this last stretch.
constexpr auto kSpeedWindow = 5s;
constexpr int kLineStep = 5;  // percent

QString sizeText(double bytes) {
  static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024.0 && unit < 4) {
    bytes /= 1024.0;
    ++unit;
  }
  if (unit == 0) return QStringLiteral("%1 B").arg(static_cast<std::int64_t>(bytes));
  return QStringLiteral("%1 %2").arg(bytes, 0, 'f', bytes < 10.0 ? 2 : 1).arg(QLatin1String(units[unit]));
}

QString durationText(double seconds) {
  const auto whole = static_cast<qlonglong>(std::ceil(seconds));
  const qlonglong hours = whole / 3600;
  const QChar zero(u'0');
  const QString minutesAndSeconds = QStringLiteral("%1:%2")
                                        .arg((whole / 60) % 60, hours > 0 ? 2 : 1, 10, zero)
                                        .arg(whole % 60, 2, 10, zero);
  return hours > 0 ? QStringLiteral("%1:%2").arg(hours).arg(minutesAndSeconds) : minutesAndSeconds;
}

}  // namespace

ProgressReport::ProgressReport(Style style, Write out, Write err, Clock clock)
    : style_(style), out_(std::move(out)), err_(std::move(err)), clock_(std::move(clock)) {}

void ProgressReport::preparing(const QString& product) {
  total_ = 0;
  bytes_ = 0;
  samples_.clear();
  stateLine(QStringLiteral("Preparing the download of ") + product);
  json(QStringLiteral("preparing"));
}

void ProgressReport::downloading(std::int64_t total, const QString& destination) {
  total_ = std::max<std::int64_t>(total, 0);
  bytes_ = 0;
  samples_.clear();
  lastStep_ = -1;
  stateLine(QStringLiteral("Downloading %1 to %2").arg(sizeText(static_cast<double>(total_)), destination));
  json(QStringLiteral("downloading"));
  lastShown_ = clock_();
}

void ProgressReport::progress(double fraction) {
  if (finished_) return;
  // The engine's fraction is trusted for neither range nor finiteness.
  const double share = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
  bytes_ = std::llround(share * static_cast<double>(total_));
  const auto now = clock_();
  samples_.emplace_back(now, bytes_);
  while (samples_.size() > 2 && now - samples_.front().first > kSpeedWindow) samples_.pop_front();

  if (style_ == Style::Lines) {
    const int step = total_ > 0 ? static_cast<int>(bytes_ * 100 / total_) / kLineStep : 0;
    if (step <= lastStep_) return;
    lastStep_ = step;
    err_(progressText().toUtf8() + '\n');
    return;
  }
  if (now - lastShown_ < kRedrawInterval) return;
  lastShown_ = now;
  if (style_ == Style::Json) return json(QStringLiteral("downloading"));
  redraw();
}

void ProgressReport::redraw() {
  // Over itself; what a longer earlier text left is blanked out.
  const QString text = progressText();
  err_('\r' + text.leftJustified(static_cast<int>(openLine_)).toUtf8());
  openLine_ = std::max<qsizetype>(text.size(), 1);
}

void ProgressReport::retrying(int retry, int retries, std::chrono::milliseconds wait, ExitCode failure,
                              const QString& why) {
  const double seconds = static_cast<double>(wait.count()) / 1000.0;
  stateLine(QStringLiteral("Retry %1 of %2 in %3 s: %4").arg(retry).arg(retries).arg(seconds).arg(why));
  json(QStringLiteral("retrying"), [&](QJsonObject& object) {
    object[QStringLiteral("retry")] = retry;
    object[QStringLiteral("retries")] = retries;
    object[QStringLiteral("wait")] = seconds;
    object[QStringLiteral("failure")] = QLatin1String(exitCodeEntry(failure).name);
    object[QStringLiteral("message")] = why;
  });
}

void ProgressReport::finish(ExitCode code, const QString& detail) {
  if (finished_) return;
  finished_ = true;
  const bool delivered = code == ExitCode::Delivered;
  if (delivered) bytes_ = total_;
  // The redrawn line ends at 100 % whenever its last redraw came.
  if (delivered && openLine_ > 0) redraw();
  if (openLine_ > 0) {
    err_(QByteArrayLiteral("\n"));
    openLine_ = 0;
  }
  const QString state = delivered                     ? QStringLiteral("delivered")
                        : code == ExitCode::Cancelled ? QStringLiteral("cancelled")
                                                      : QStringLiteral("failed");
  json(state, [&](QJsonObject& object) {
    object[QStringLiteral("exitCode")] = exitStatus(code);
    if (delivered) {
      object[QStringLiteral("path")] = detail;
    } else {
      object[QStringLiteral("failure")] = QLatin1String(exitCodeEntry(code).name);
      object[QStringLiteral("message")] = detail;
    }
  });
  err_((QStringLiteral("OVDownloader: ") + (delivered ? QStringLiteral("delivered ") : QString()) + detail)
           .toUtf8() +
       '\n');
  if (code == ExitCode::Usage) err_(usageHint().toUtf8() + '\n');
}

void ProgressReport::stateLine(const QString& line) {
  if (style_ == Style::Json || finished_) return;
  if (openLine_ > 0) {
    err_(QByteArrayLiteral("\n"));
    openLine_ = 0;
  }
  err_(line.toUtf8() + '\n');
}

void ProgressReport::json(const QString& state, const std::function<void(QJsonObject&)>& more) {
  if (style_ != Style::Json) return;
  QJsonObject object;
  object[QStringLiteral("state")] = state;
  object[QStringLiteral("bytes")] = static_cast<qint64>(bytes_);
  object[QStringLiteral("total")] = static_cast<qint64>(total_);
  object[QStringLiteral("speed")] = static_cast<qint64>(std::llround(speed()));
  if (more) more(object);
  out_(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

QString ProgressReport::progressText() const {
  const int percent = total_ > 0 ? static_cast<int>(bytes_ * 100 / total_) : 0;
  const double perSecond = speed();
  const QString left = perSecond > 0.0 ? durationText(static_cast<double>(total_ - bytes_) / perSecond)
                                       : QStringLiteral("--:--");
  return QStringLiteral("%1%  %2 of %3  %4/s  %5 left")
      .arg(percent, 3)
      .arg(sizeText(static_cast<double>(bytes_)), sizeText(static_cast<double>(total_)), sizeText(perSecond),
           left);
}

double ProgressReport::speed() const {
  if (samples_.size() < 2) return 0.0;
  const auto& [firstTime, firstBytes] = samples_.front();
  const auto& [lastTime, lastBytes] = samples_.back();
  const double seconds = std::chrono::duration<double>(lastTime - firstTime).count();
  return seconds > 0.0 ? std::max(0.0, static_cast<double>(lastBytes - firstBytes) / seconds) : 0.0;
}

}  // namespace ov
