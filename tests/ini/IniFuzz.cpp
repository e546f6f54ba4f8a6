// libFuzzer target for the INI reader (`./dev fuzz ini`). Any bytes go in
// twice: decoded as a file would be (falling back to lenient UTF-8 when they
// are not valid text) and taken raw as UTF-16, which reaches lone surrogates.
// Whatever parses is written out and parsed again. ParseError and
// IniReadError are ordinary outcomes; a crash, a hang, a bad memory access
// or an error position outside the text is a finding.

#include <cstdint>
#include <cstdlib>

#include "ini/IniReader.h"
#include "ini/IniWriter.h"

using namespace ov;

namespace {

// Parses `text` and, when it parses, what it is written out as; an error
// must describe itself and point inside the text.
void parse(const QString& text, bool again = true) {
  try {
    const Config config = parseINI(text);
    if (again) parse(formatINI(config), false);
  } catch (const ParseError& error) {
    const TextRange line = error.line;
    const bool sound = error.row >= 1 && error.pos >= 1 && 0 <= line.lowerBound &&
                       line.lowerBound <= line.upperBound && line.upperBound <= text.size() &&
                       error.pos - 1 <= line.upperBound - line.lowerBound && !error.description().isEmpty();
    if (!sound) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  QString text;
  try {
    text = decodeText(bytes);
  } catch (const IniReadError&) {
    text = QString::fromUtf8(bytes);
  }
  parse(text);
  parse(QString(reinterpret_cast<const QChar*>(data), qsizetype(size / 2)));
  return 0;
}
