#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "tests/support/Rows.h"
#include "tests/support/Sandbox.h"

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace ov::test {

// A Range header's value for the bytes first to last.
inline std::string byteRange(std::int64_t first, std::int64_t last) {
  return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

// Deterministic pseudo-random bytes (xorshift), so a part stored at the wrong
// offset shows as wrong content.
inline std::string patternBytes(std::int64_t size, std::uint32_t seed = 0x9e3779b9u) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  for (auto& byte : bytes) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    byte = static_cast<char>(seed >> 24);
  }
  return bytes;
}

// The whole file; empty when it cannot be read.
inline QByteArray readWholeFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether both files can be read and hold the same bytes.
inline bool sameFileContents(const QString& a, const QString& b) {
  return QFileInfo(a).isFile() && QFileInfo(b).isFile() && readWholeFile(a) == readWholeFile(b);
}

}  // namespace ov::test
