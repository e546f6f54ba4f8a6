#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <ostream>
#include <string>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace ov::test {

// Deterministic pseudo-random bytes, so a part stored at the wrong offset
// shows as wrong content.
std::string patternBytes(std::int64_t size, std::uint32_t seed = 0x9e3779b9u);

// The whole file; empty when it cannot be read.
QByteArray readWholeFile(const QString& path);
// Writes `bytes` to `path`, creating its folders; throws std::runtime_error when it cannot.
void writeWholeFile(const QString& path, const QByteArray& bytes);
// Whether both files can be read and hold the same bytes.
bool sameFileContents(const QString& a, const QString& b);

}  // namespace ov::test
