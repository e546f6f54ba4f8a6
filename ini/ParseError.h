#pragma once

#include <QString>
#include <stdexcept>

namespace ov {

// A stretch of the parsed text as UTF-16 offsets [lowerBound, upperBound): the
// stretch itself is text.mid(lowerBound, upperBound - lowerBound).
struct TextRange {
  qsizetype lowerBound = 0;
  qsizetype upperBound = 0;

  friend bool operator==(const TextRange&, const TextRange&) = default;
};

// A place in the parsed text: the whole line that holds it (line break
// included), that line's 1-based number `row`, and the place's 1-based column
// `pos`, counted in characters (code points: one outside the BMP counts once).
struct TextPosition {
  TextRange line;
  qsizetype row = 1;
  qsizetype pos = 1;

  friend bool operator==(const TextPosition&, const TextPosition&) = default;
};

// Why INI text could not be turned into a document. The one error that leaves
// the INI reader; nothing of the partial document comes with it.
//   invalidSyntax:    a section or a setting was begun but is malformed;
//   unsupportedToken: nothing the reader knows starts at that place.
// what() holds description() as UTF-8.
class ParseError : public std::runtime_error {
 public:
  enum class Kind { invalidSyntax, unsupportedToken };

  ParseError(Kind kind, const TextPosition& position);

  Kind kind;
  TextRange line;
  qsizetype row;
  qsizetype pos;

  // "Invalid syntax at row N, position M" or "Unsupported token at row N, position M".
  QString description() const;
};

}  // namespace ov
