#include "engine/TransferState.h"

#include <QStringList>
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

std::optional<std::int64_t> number(const QString& text) {
  bool ok = false;
  const std::int64_t value = text.toLongLong(&ok);
  return ok && value >= 0 ? std::optional(value) : std::nullopt;
}

std::optional<std::int64_t> number(const Section& section, const QString& key) {
  return number(section[key].value_or(QString()));
}

// "3,4,7": part numbers in ascending order; the empty text (no key) is none.
std::optional<std::vector<std::int64_t>> numbers(const QString& text) {
  std::vector<std::int64_t> list;
  if (text.isEmpty()) return list;
  for (const QString& item : text.split(u',')) {
    const auto value = number(item);
    if (!value || (!list.empty() && *value <= list.back())) return std::nullopt;
    list.push_back(*value);
  }
  return list;
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
  if (number(*section, QStringLiteral("version")) != kVersion) return std::nullopt;
  const auto size = number(*section, QStringLiteral("size"));
  const auto chunk = number(*section, QStringLiteral("chunk"));
  const auto appended = number(*section, QStringLiteral("appended"));
  const auto parts = numbers((*section)[QStringLiteral("flushed")].value_or(QString()));
  const auto link = (*section)[QStringLiteral("link")];
  const auto etag = (*section)[QStringLiteral("etag")];
  if (!size || !chunk || !appended || !parts || !link || !etag) return std::nullopt;
  return TransferState{decoded(*link), *size, decoded(*etag), *chunk, *appended, *parts};
}

bool TransferState::save(const QString& path, QString& error) const {
  QStringList parts;
  for (const std::int64_t part : flushedParts) parts << QString::number(part);
  Config config;
  config.set(kSection, QStringLiteral("version"), QString::number(kVersion));
  config.set(kSection, QStringLiteral("link"), encoded(link));
  config.set(kSection, QStringLiteral("size"), QString::number(size));
  config.set(kSection, QStringLiteral("etag"), encoded(etag));
  config.set(kSection, QStringLiteral("chunk"), QString::number(chunkLength));
  config.set(kSection, QStringLiteral("appended"), QString::number(appendedParts));
  // An empty value would take the next line for its own: no parts, no key.
  if (!parts.isEmpty()) config.set(kSection, QStringLiteral("flushed"), parts.join(u','));
  // Only the user may read it: the link it records may be a signed one.
  return writeFileDurably(path, formatINI(config).toUtf8(), 0600, error);
}

bool TransferState::describes(const QString& otherLink, std::int64_t otherSize, const QString& otherEtag,
                              std::int64_t otherChunkLength) const {
  return sameResource(link, otherLink) && size == otherSize && isStrongEtag(etag) && etag == otherEtag &&
         chunkLength == otherChunkLength;
}

bool sameResource(const QString& link, const QString& other) {
  const QUrl mine(link);
  const QUrl theirs(other);
  return mine.isValid() && theirs.isValid() && mine.scheme() == theirs.scheme() &&
         mine.host() == theirs.host() && mine.port() == theirs.port() && mine.path() == theirs.path();
}

bool isStrongEtag(const QString& etag) {
  return etag.size() >= 2 && etag.startsWith(u'"') && etag.endsWith(u'"');
}

}  // namespace ov
