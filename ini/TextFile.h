#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>

namespace ov {

// Why a text file could not be read: it could not be opened or read (the
// reason is the system's), or its bytes are not valid text in the encoding
// they announce. what() holds "cannot read <path>: <reason>" as UTF-8.
class IniReadError : public std::runtime_error {
 public:
  IniReadError(const QString& path, const QString& reason);

  QString path;
  QString reason;
};

// Decodes a text file's bytes as the platform's text reader does: a UTF-32 or
// UTF-16 byte-order mark (either byte order) selects that encoding, anything
// else is UTF-8 (an initial UTF-8 mark is dropped too). Bytes that are not
// valid in the selected encoding (malformed or truncated sequences, lone
// surrogates, code points beyond U+10FFFF) throw IniReadError naming `path`;
// nothing is ever replaced or guessed.
QString decodeText(const QByteArray& bytes, const QString& path = QString());

// Reads the whole file at `path` and decodes it with decodeText. Throws
// IniReadError when the file cannot be opened or read, or is not valid text.
QString readTextFile(const QString& path);

}  // namespace ov
