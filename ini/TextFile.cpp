#include "ini/TextFile.h"

#include <QChar>
#include <QFile>
#include <QStringDecoder>
#include <cstdint>

namespace ov {

namespace {

enum class Encoding { utf8, utf16LittleEndian, utf16BigEndian, utf32LittleEndian, utf32BigEndian };

struct Detected {
  Encoding encoding;
  qsizetype markSize;
};

bool startsWith(const QByteArray& bytes, std::initializer_list<std::uint8_t> mark) {
  if (bytes.size() < qsizetype(mark.size())) return false;
  qsizetype i = 0;
  for (const std::uint8_t b : mark) {
    if (std::uint8_t(bytes[i++]) != b) return false;
  }
  return true;
}

// The UTF-32 little-endian mark begins with the UTF-16 one, so it is tested first.
Detected detectEncoding(const QByteArray& bytes) {
  if (startsWith(bytes, {0xFF, 0xFE, 0x00, 0x00})) return {Encoding::utf32LittleEndian, 4};
  if (startsWith(bytes, {0x00, 0x00, 0xFE, 0xFF})) return {Encoding::utf32BigEndian, 4};
  if (startsWith(bytes, {0xFF, 0xFE})) return {Encoding::utf16LittleEndian, 2};
  if (startsWith(bytes, {0xFE, 0xFF})) return {Encoding::utf16BigEndian, 2};
  return {Encoding::utf8, 0};
}

std::uint32_t unitAt(const QByteArray& bytes, qsizetype offset, int width, bool bigEndian) {
  std::uint32_t unit = 0;
  for (int i = 0; i < width; ++i) {
    const std::uint32_t byte = std::uint8_t(bytes[offset + (bigEndian ? i : width - 1 - i)]);
    unit = (unit << 8) | byte;
  }
  return unit;
}

QString decodeUtf8(const QByteArray& bytes, const QString& path) {
  // Stateless, so a sequence cut off at the end of the file is an error
  // rather than state kept for more input that never comes.
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  QString text = decoder(bytes);
  if (decoder.hasError()) throw IniReadError(path, QStringLiteral("not valid UTF-8 text"));
  return text;
}

QString decodeUtf16(const QByteArray& bytes, qsizetype start, bool bigEndian, const QString& path) {
  const auto invalid = [&] { return IniReadError(path, QStringLiteral("not valid UTF-16 text")); };
  if ((bytes.size() - start) % 2 != 0) throw invalid();
  QString text((bytes.size() - start) / 2, Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(text.data());
  bool expectLow = false;
  for (qsizetype offset = start; offset < bytes.size(); offset += 2) {
    const auto unit = char16_t(unitAt(bytes, offset, 2, bigEndian));
    if (expectLow != QChar::isLowSurrogate(unit)) throw invalid();
    expectLow = QChar::isHighSurrogate(unit);
    *out++ = unit;
  }
  if (expectLow) throw invalid();
  return text;
}

QString decodeUtf32(const QByteArray& bytes, qsizetype start, bool bigEndian, const QString& path) {
  const auto invalid = [&] { return IniReadError(path, QStringLiteral("not valid UTF-32 text")); };
  if ((bytes.size() - start) % 4 != 0) throw invalid();
  QString text;
  text.reserve((bytes.size() - start) / 4);
  for (qsizetype offset = start; offset < bytes.size(); offset += 4) {
    const char32_t c = unitAt(bytes, offset, 4, bigEndian);
    if (c > 0x10FFFF || QChar::isSurrogate(c)) throw invalid();
    const auto units = QChar::fromUcs4(c);
    text.append(QStringView(units));
  }
  return text;
}

}  // namespace

IniReadError::IniReadError(const QString& path, const QString& reason)
    : std::runtime_error(
          (QStringLiteral("cannot read ") + path + QStringLiteral(": ") + reason).toStdString()),
      path(path),
      reason(reason) {}

QString decodeText(const QByteArray& bytes, const QString& path) {
  const Detected detected = detectEncoding(bytes);
  switch (detected.encoding) {
    case Encoding::utf8:
      return decodeUtf8(bytes, path);
    case Encoding::utf16LittleEndian:
    case Encoding::utf16BigEndian:
      return decodeUtf16(bytes, detected.markSize, detected.encoding == Encoding::utf16BigEndian, path);
    case Encoding::utf32LittleEndian:
    case Encoding::utf32BigEndian:
      return decodeUtf32(bytes, detected.markSize, detected.encoding == Encoding::utf32BigEndian, path);
  }
  return {};
}

QString readTextFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw IniReadError(path, file.errorString());
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) throw IniReadError(path, file.errorString());
  return decodeText(bytes, path);
}

}  // namespace ov
