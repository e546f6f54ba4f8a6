#include "ini/IniScanner.h"

#include <QChar>
#include <algorithm>

namespace ov {

namespace {

struct CodePoint {
  char32_t value;
  qsizetype width;  // in UTF-16 units
};

// A lone surrogate stands for itself, one character wide.
CodePoint codePointAt(QStringView text, qsizetype index) {
  const char16_t unit = text[index].unicode();
  if (QChar::isHighSurrogate(unit) && index + 1 < text.size()) {
    const char16_t next = text[index + 1].unicode();
    if (QChar::isLowSurrogate(next)) return {QChar::surrogateToUcs4(unit, next), 2};
  }
  return {unit, 1};
}

qsizetype endOfRun(QStringView text, CharacterSet set, qsizetype index) {
  while (index < text.size()) {
    const CodePoint c = codePointAt(text, index);
    if (!set(c.value)) break;
    index += c.width;
  }
  return index;
}

bool isLineBreakUnit(QChar c) {
  return CharacterSets::lineBreaks(c.unicode());
}

qsizetype countCharacters(QStringView text) {
  qsizetype count = 0;
  for (qsizetype i = 0; i < text.size(); i += codePointAt(text, i).width) ++count;
  return count;
}

}  // namespace

namespace CharacterSets {

// Each test answers ASCII without the Unicode tables: nearly every character
// of a real file is ASCII, and the tables cost a lookup per character.

bool blanks(char32_t c) {
  if (c < 0x80) return c == u' ' || c == u'\t';
  return QChar::category(c) == QChar::Separator_Space;
}

bool lineBreaks(char32_t c) {
  return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029;
}

bool blanksAndLineBreaks(char32_t c) {
  return blanks(c) || lineBreaks(c);
}

bool alphanumerics(char32_t c) {
  if (c < 0x80) return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
      return true;
    default:
      return false;
  }
}

}  // namespace CharacterSets

void IniScanner::setCurrentIndex(qsizetype index) {
  index_ = std::clamp<qsizetype>(index, 0, text_.size());
}

qsizetype IniScanner::indexAfterSkipping() const {
  return endOfRun(text_, charactersToBeSkipped, index_);
}

std::optional<QStringView> IniScanner::take(qsizetype start, qsizetype end) {
  if (end <= start) return std::nullopt;
  index_ = end;
  return text_.sliced(start, end - start);
}

std::optional<QStringView> IniScanner::scanString(QStringView searchString) {
  if (searchString.isEmpty()) return std::nullopt;
  const qsizetype start = indexAfterSkipping();
  if (!text_.sliced(start).startsWith(searchString)) return std::nullopt;
  return take(start, start + searchString.size());
}

std::optional<QStringView> IniScanner::scanUpToString(QStringView substring) {
  const qsizetype start = indexAfterSkipping();
  const qsizetype found = substring.isEmpty() ? -1 : text_.indexOf(substring, start);
  return take(start, found < 0 ? text_.size() : found);
}

std::optional<QStringView> IniScanner::scanCharacters(CharacterSet set) {
  const qsizetype start = indexAfterSkipping();
  return take(start, endOfRun(text_, set, start));
}

std::optional<QStringView> IniScanner::scanUpToCharacters(CharacterSet set) {
  const qsizetype start = indexAfterSkipping();
  return take(start, firstOf(set, start));
}

qsizetype IniScanner::firstOf(CharacterSet set, qsizetype from) {
  if (lastSearch_.set == set && lastSearch_.from <= from && from <= lastSearch_.found)
    return lastSearch_.found;
  qsizetype index = from;
  while (index < text_.size()) {
    const CodePoint c = codePointAt(text_, index);
    if (set(c.value)) break;
    index += c.width;
  }
  lastSearch_ = {set, from, index};
  return index;
}

// Lines are walked from the start of the text. CR LF ends a line as one
// break; a place just after a final line break lies on the empty line that
// follows it.
TextPosition IniScanner::positionIn(QStringView text, qsizetype index) {
  const qsizetype place = std::clamp<qsizetype>(index, 0, text.size());
  qsizetype lineStart = 0;
  qsizetype row = 1;
  for (;;) {
    qsizetype breakAt = lineStart;
    while (breakAt < text.size() && !isLineBreakUnit(text[breakAt])) ++breakAt;
    qsizetype next = breakAt;
    if (breakAt < text.size()) {
      next = breakAt + 1;
      if (text[breakAt] == u'\r' && next < text.size() && text[next] == u'\n') ++next;
    }
    if (place < next || (next == text.size() && breakAt == text.size())) {
      return {{lineStart, next}, row, countCharacters(text.sliced(lineStart, place - lineStart)) + 1};
    }
    if (next == text.size()) return {{next, next}, row + 1, 1};
    lineStart = next;
    ++row;
  }
}

}  // namespace ov
