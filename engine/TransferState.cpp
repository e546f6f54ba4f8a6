#include "engine/TransferState.h"

#include <QUrl>

#include "ini/Config.h"
#include "ini/IniReader.h"
#include "ini/IniWriter.h"
#include "ini/ParseError.h"
#include "ini/TextFile.h"
#include "platform/FileOps.h"

namespace ov {

namespace {

const QString kSection = QStringLiteral("Transfer");
constexpr std::int64_t kLargestState = std::int64_t{64} * 1024;

// The reader takes a "=" inside a value for the start of the next setting,
// and links carry "=" in their queries: every value travels percent-encoded.
QString encoded(const QString& value) {
  return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString decoded(const QString& value) {
  return QUrl::fromPercentEncoding(value.toLatin1());
}

std::optional<std::int64_t> number(const Section& section, const QString& key) {
  bool ok = false;
  const std::int64_t value = section[key].value_or(QString()).toLongLong(&ok);
  return ok && value >= 0 ? std::optional(value) : std::nullopt;
}

}  // namespace

std::optional<TransferState> TransferState::load(const QString& path) {
  // A state is a few hundred bytes: anything else at its place (a FIFO, a
  // link, a huge file) is no state of ours and is not read.
  QString error;
  const auto bytes = readRegularFile(path, kLargestState, error);
  if (!bytes) return std::nullopt;
  Config config;
  try {
    config = parseINI(decodeText(*bytes, path));
  } catch (const IniReadError&) {
    return std::nullopt;
  } catch (const ParseError&) {
    return std::nullopt;
  }
  const std::optional<Section> section = config[kSection];
  if (!section) return std::nullopt;
  const auto size = number(*section, QStringLiteral("size"));
  const auto appended = number(*section, QStringLiteral("appended"));
  const auto link = (*section)[QStringLiteral("link")];
  const auto etag = (*section)[QStringLiteral("etag")];
  if (!size || !appended || !link || !etag) return std::nullopt;
  return TransferState{decoded(*link), *size, decoded(*etag), *appended};
}

bool TransferState::save(const QString& path, QString& error) const {
  Config config;
  config.set(kSection, QStringLiteral("link"), encoded(link));
  config.set(kSection, QStringLiteral("size"), QString::number(size));
  config.set(kSection, QStringLiteral("etag"), encoded(etag));
  config.set(kSection, QStringLiteral("appended"), QString::number(appendedParts));
  // Only the user may read it: the link it records may be a signed one.
  return writeFileDurably(path, formatINI(config).toUtf8(), 0600, error);
}

bool TransferState::describes(const QString& otherLink, std::int64_t otherSize,
                              const QString& otherEtag) const {
  const QUrl mine(link);
  const QUrl theirs(otherLink);
  return mine.isValid() && theirs.isValid() && mine.scheme() == theirs.scheme() &&
         mine.host() == theirs.host() && mine.port() == theirs.port() && mine.path() == theirs.path() &&
         size == otherSize && isStrongEtag(etag) && etag == otherEtag;
}

bool isStrongEtag(const QString& etag) {
  return etag.size() >= 2 && etag.startsWith(u'"') && etag.endsWith(u'"');
}

}  // namespace ov
