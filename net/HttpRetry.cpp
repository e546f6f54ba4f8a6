#include "net/HttpRetry.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QString>
#include <charconv>

namespace ov {

bool isTransient(const HttpError& error) {
  return error.kind == HttpError::Kind::Connection || error.kind == HttpError::Kind::TimedOut;
}

bool isTransientStatus(int statusCode) {
  switch (statusCode) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
      return true;
    default:
      return false;
  }
}

std::optional<std::chrono::milliseconds> parseRetryAfter(const std::optional<std::string>& value) {
  if (!value || value->empty()) return std::nullopt;
  std::int64_t seconds = 0;
  const char* end = value->data() + value->size();
  const auto [stop, ec] = std::from_chars(value->data(), end, seconds);
  if (ec == std::errc() && stop == end) {
    if (seconds < 0) return std::nullopt;
    return std::chrono::seconds(std::min<std::int64_t>(seconds, std::int64_t{24} * 3600));
  }
  // IMF-fixdate, "Sun, 06 Nov 1994 08:49:37 GMT", is also RFC 2822 text.
  const QDateTime when = QDateTime::fromString(QString::fromStdString(*value), Qt::RFC2822Date);
  if (!when.isValid()) return std::nullopt;
  const qint64 ms = QDateTime::currentDateTimeUtc().msecsTo(when);
  return std::chrono::milliseconds(std::max<qint64>(ms, 0));
}

std::chrono::milliseconds jittered(std::chrono::milliseconds delay) {
  const double factor = 0.8 + 0.4 * QRandomGenerator::global()->generateDouble();
  return std::chrono::milliseconds(static_cast<std::int64_t>(static_cast<double>(delay.count()) * factor));
}

}  // namespace ov
