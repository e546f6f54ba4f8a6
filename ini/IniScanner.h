#pragma once

#include <QStringView>
#include <optional>

#include "ini/ParseError.h"

namespace ov {

// A set of characters, as a membership test on Unicode code points.
using CharacterSet = bool (*)(char32_t);

namespace CharacterSets {
bool blanks(char32_t c);               // tab and the Unicode space separators (Zs)
bool lineBreaks(char32_t c);           // LF, CR, U+2028 LINE and U+2029 PARAGRAPH SEPARATOR
bool blanksAndLineBreaks(char32_t c);  // the union of the two
bool alphanumerics(char32_t c);        // Unicode letters, marks and numbers (L*, M*, N*)
}  // namespace CharacterSets

// A text scanner with a movable position, modelled on Foundation's Scanner
// (NSScanner). Every scan first skips the characters of
// `charactersToBeSkipped`; when the scan then fails, the position stays where
// it was before the skip. Successful scans return views into the text, which
// must outlive the scanner and every view it hands out. Positions are UTF-16
// offsets; surrogate pairs are never split by a scan. Not thread-safe.
class IniScanner {
 public:
  explicit IniScanner(QStringView text) : text_(text) {}

  QStringView string() const { return text_; }
  qsizetype currentIndex() const { return index_; }
  void setCurrentIndex(qsizetype index);  // clamped to the text

  CharacterSet charactersToBeSkipped = CharacterSets::blanksAndLineBreaks;

  // True when only skipped characters remain.
  bool isAtEnd() const { return indexAfterSkipping() == text_.size(); }
  // Where the next scan would start looking: the current position moved past
  // the skipped characters. The position itself does not move.
  qsizetype indexAfterSkipping() const;

  // `searchString` itself, when the text goes on with it.
  std::optional<QStringView> scanString(QStringView searchString);
  // Everything up to `substring`, or to the end when it does not occur;
  // nothing when not a single character could be scanned.
  std::optional<QStringView> scanUpToString(QStringView substring);
  // The longest run of characters of `set`; nothing when the run is empty.
  std::optional<QStringView> scanCharacters(CharacterSet set);
  // Everything up to the first character of `set`, or to the end; nothing
  // when not a single character could be scanned. Repeated scans that start
  // inside a stretch already searched reuse that search, so stepping back and
  // scanning again stays linear in the text.
  std::optional<QStringView> scanUpToCharacters(CharacterSet set);

  // The current position as a line, row and column (see TextPosition).
  TextPosition position() const { return positionIn(text_, index_); }
  static TextPosition positionIn(QStringView text, qsizetype index);

 private:
  qsizetype firstOf(CharacterSet set, qsizetype from);
  std::optional<QStringView> take(qsizetype start, qsizetype end);

  QStringView text_;
  qsizetype index_ = 0;
  // The last scanUpToCharacters search: no character of `set` lies in [from, found).
  struct Search {
    CharacterSet set = nullptr;
    qsizetype from = 0;
    qsizetype found = 0;
  } lastSearch_;
};

}  // namespace ov
