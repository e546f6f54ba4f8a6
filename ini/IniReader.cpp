#include "ini/IniReader.h"

#include <variant>

#include "ini/IniScanner.h"

namespace ov {

namespace {

// The outcome of a scanning step that found nothing of its kind at the
// current position: the reader then tries the next kind. It is an ordinary
// result rather than an exception because it happens on nearly every line.
enum class ScanError { noMatch };

template <typename T>
using ScanResult = std::variant<T, ScanError>;

struct Note {};

[[noreturn]] void throwInvalidSyntax(const IniScanner& scanner) {
  throw ParseError(ParseError::Kind::invalidSyntax, scanner.position());
}

QStringView withoutTrailingBlanks(QStringView text) {
  qsizetype end = text.size();
  while (end > 0 && CharacterSets::blanks(text[end - 1].unicode())) --end;
  return text.first(end);
}

// Answers whether a stretch holds "=", remembering the last "=" found: the
// reader asks about stretches that start further on each time, so the text
// is searched once in all, however often a value is stepped back over.
class EqualsSigns {
 public:
  explicit EqualsSigns(QStringView text) : text_(text) {}

  bool occurIn(qsizetype start, qsizetype end) {
    if (!(known_ && from_ <= start && start <= found_)) {
      from_ = start;
      found_ = text_.indexOf(u'=', start);
      if (found_ < 0) found_ = text_.size();
      known_ = true;
    }
    return found_ < end;
  }

 private:
  QStringView text_;
  bool known_ = false;
  qsizetype from_ = 0;
  qsizetype found_ = 0;
};

// A comment ends at its own line break. Letting the usual skip set run first
// would carry an empty comment (";" alone) over its line break and swallow
// the next line, a section header or a setting, as comment text.
void skipRestOfLine(IniScanner& scanner) {
  const CharacterSet skipped = scanner.charactersToBeSkipped;
  scanner.charactersToBeSkipped = CharacterSets::blanks;
  scanner.scanUpToCharacters(CharacterSets::lineBreaks);
  scanner.charactersToBeSkipped = skipped;
}

void scanSetting(IniScanner& scanner, EqualsSigns& equalsSigns, QStringView run, Section& section) {
  // The key is trimmed of blanks at both ends; the run, being letters and
  // numbers, never starts with one.
  const QStringView rest = withoutTrailingBlanks(scanner.scanUpToString(u"=").value_or(QStringView()));
  QString key;
  key.reserve(run.size() + rest.size());
  key.append(run).append(rest);
  if (!scanner.scanString(u"=")) throwInvalidSyntax(scanner);
  // The blank usually written after "=" needs no step of its own: the value
  // scan skips blanks and line breaks before it starts.
  const auto value = scanner.scanUpToCharacters(CharacterSets::lineBreaks);
  if (!value) throwInvalidSyntax(scanner);
  const qsizetype valueStart = scanner.currentIndex() - value->size();
  QString stored;
  if (equalsSigns.occurIn(valueStart, scanner.currentIndex())) {
    scanner.setCurrentIndex(valueStart);
  } else {
    stored = value->toString();
  }
  section.settings.insert(key, stored);
}

ScanResult<Section> scanSection(IniScanner& scanner, EqualsSigns& equalsSigns) {
  scanner.charactersToBeSkipped = CharacterSets::blanksAndLineBreaks;
  if (!scanner.scanString(u"[")) return ScanError::noMatch;
  const auto name = scanner.scanUpToString(u"]");
  if (!name) throwInvalidSyntax(scanner);
  scanner.scanString(u"]");
  Section section{name->toString(), {}};
  for (;;) {
    if (const auto run = scanner.scanCharacters(CharacterSets::alphanumerics)) {
      scanSetting(scanner, equalsSigns, *run, section);
    } else if (scanner.scanString(u";")) {
      skipRestOfLine(scanner);
    } else {
      return section;
    }
  }
}

ScanResult<Note> scanNote(IniScanner& scanner) {
  if (!scanner.scanString(u";")) return ScanError::noMatch;
  skipRestOfLine(scanner);
  return Note{};
}

}  // namespace

Config parseINI(const QString& string) {
  IniScanner scanner(string);
  EqualsSigns equalsSigns(string);
  Config config;
  while (!scanner.isAtEnd()) {
    auto section = scanSection(scanner, equalsSigns);
    if (auto* scanned = std::get_if<Section>(&section)) {
      config.sections.push_back(std::move(*scanned));
      continue;
    }
    if (std::holds_alternative<Note>(scanNote(scanner))) continue;
    // A failed step leaves the position before the blanks and line breaks it
    // skipped; the error names the token itself.
    scanner.setCurrentIndex(scanner.indexAfterSkipping());
    throw ParseError(ParseError::Kind::unsupportedToken, scanner.position());
  }
  return config;
}

Config parseINIFile(const QString& filename) {
  return parseINI(readTextFile(filename));
}

Config parseINI(const QUrl& filenameURL) {
  if (!filenameURL.isLocalFile()) {
    throw IniReadError(filenameURL.toString(), QStringLiteral("not a local file URL"));
  }
  return parseINIFile(filenameURL.toLocalFile());
}

}  // namespace ov
