#include "app/StringFormat.h"

#include <cmath>
#include <vector>

namespace ov {

QString FormatArg::asText() const {
  if (const auto* text = std::get_if<QString>(&value_)) return *text;
  if (const auto* integer = std::get_if<std::int64_t>(&value_)) return QString::number(*integer);
  return QString::number(std::get<double>(value_), 'g', 17);
}

std::int64_t FormatArg::asInteger() const {
  if (const auto* integer = std::get_if<std::int64_t>(&value_)) return *integer;
  if (const auto* real = std::get_if<double>(&value_)) return std::isfinite(*real) ? std::int64_t(*real) : 0;
  return std::get<QString>(value_).toLongLong();
}

double FormatArg::asReal() const {
  if (const auto* real = std::get_if<double>(&value_)) return *real;
  if (const auto* integer = std::get_if<std::int64_t>(&value_)) return double(*integer);
  return std::get<QString>(value_).toDouble();
}

namespace {

// One conversion found at a "%": where it ends and what it asks for.
struct Conversion {
  qsizetype end = 0;   // index just past the conversion
  int position = -1;   // explicit 0-based value index, or -1
  int precision = -1;  // digits after the point, -1 when not given
  char16_t kind = 0;   // '@', 'd' or 'f'; 0 when the text is no conversion
};

bool isDigit(QChar c) {
  return c >= u'0' && c <= u'9';
}

// Reads a run of digits; answers -1 when there is none (or it is absurdly long).
int readNumber(const QString& text, qsizetype& i) {
  const qsizetype start = i;
  int value = 0;
  while (i < text.size() && isDigit(text[i])) {
    if (i - start >= 4) return -1;
    value = value * 10 + (text[i].unicode() - u'0');
    ++i;
  }
  return i == start ? -1 : value;
}

Conversion parseConversion(const QString& format, qsizetype percent) {
  Conversion c;
  qsizetype i = percent + 1;
  qsizetype save = i;
  const int number = readNumber(format, i);
  if (number > 0 && i < format.size() && format[i] == u'$') {
    c.position = number - 1;
    ++i;
  } else {
    i = save;
  }
  if (i < format.size() && format[i] == u'.') {
    ++i;
    c.precision = readNumber(format, i);
    if (c.precision < 0) return {};
  }
  while (i < format.size() && (format[i] == u'l' || format[i] == u'q' || format[i] == u'h')) ++i;
  if (i >= format.size()) return {};
  const char16_t k = format[i].unicode();
  if (k == u'@' && c.precision < 0) {
    c.kind = u'@';
  } else if ((k == u'd' || k == u'i' || k == u'u') && c.precision < 0) {
    c.kind = u'd';
  } else if (k == u'f') {
    c.kind = u'f';
  } else {
    return {};
  }
  c.end = i + 1;
  return c;
}

QString render(const Conversion& c, const FormatArg& arg) {
  switch (c.kind) {
    case u'@':
      return arg.asText();
    case u'd':
      return QString::number(arg.asInteger());
    default:
      // QString::number always writes "." whatever the locale, as printf in
      // the C locale does.
      return QString::number(arg.asReal(), 'f', c.precision < 0 ? 6 : c.precision);
  }
}

}  // namespace

QString formatString(const QString& format, std::initializer_list<FormatArg> args) {
  const std::vector<FormatArg> values(args);
  QString out;
  out.reserve(format.size() + 32);
  std::size_t next = 0;
  qsizetype i = 0;
  while (i < format.size()) {
    const QChar ch = format[i];
    if (ch != u'%') {
      out += ch;
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == u'%') {
      out += u'%';
      i += 2;
      continue;
    }
    const Conversion c = parseConversion(format, i);
    const std::size_t index = c.position >= 0 ? std::size_t(c.position) : next;
    if (c.kind == 0 || index >= values.size()) {
      out += ch;
      ++i;
      continue;
    }
    if (c.position < 0) ++next;
    out += render(c, values[index]);
    i = c.end;
  }
  return out;
}

QString escapeForFormat(const QString& text) {
  QString escaped = text;
  escaped.replace(u'%', QStringLiteral("%%"));
  return escaped;
}

}  // namespace ov
