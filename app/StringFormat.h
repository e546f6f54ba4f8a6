#pragma once

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <variant>

namespace ov {

// One value for a printf-style template.
class FormatArg {
 public:
  FormatArg(const QString& text) : value_(text) {}
  FormatArg(const char16_t* text) : value_(QString::fromUtf16(text)) {}
  FormatArg(int number) : value_(static_cast<std::int64_t>(number)) {}
  FormatArg(std::int64_t number) : value_(number) {}
  FormatArg(double number) : value_(number) {}

  QString asText() const;
  std::int64_t asInteger() const;
  double asReal() const;

 private:
  std::variant<QString, std::int64_t, double> value_;
};

// Fills a template of the string table with `args`, in order. The template is
// the only thing read for conversions; the values go in as plain text and are
// never scanned again, so a product name holding "%d" or "<b>" shows literally.
//
// Conversions: "%@" a text, "%d" / "%i" / "%ld" / "%lld" an integer, "%f" and
// "%.Nf" (also written "%.0Nf") a real number with N decimals (6 without a
// precision), always with "." as the decimal point, "%%" a percent sign. A
// conversion may name its value by position ("%2$@"); unnumbered conversions
// take the values in order. A conversion without a value, and anything that
// is not a conversion, is copied as it stands.
QString formatString(const QString& format, std::initializer_list<FormatArg> args);

// `text` made safe to splice into a template: every "%" doubled.
QString escapeForFormat(const QString& text);

}  // namespace ov
