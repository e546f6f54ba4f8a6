#include "net/HttpBodyText.h"

#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <string_view>

namespace ov {
namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool isLatin1Name(const std::string& name) {
  static constexpr std::array<std::string_view, 9> kNames = {
      "iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "latin-1", "l1", "us-ascii", "ascii", "cp819"};
  return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

}  // namespace

std::optional<std::string> charsetOf(const std::string& contentType) {
  std::string_view rest = contentType;
  for (auto semicolon = rest.find(';'); semicolon != std::string_view::npos; semicolon = rest.find(';')) {
    rest.remove_prefix(semicolon + 1);
    const std::string_view parameter = trimmed(rest.substr(0, rest.find(';')));
    const auto equals = parameter.find('=');
    if (equals == std::string_view::npos) continue;
    if (lowered(trimmed(parameter.substr(0, equals))) != "charset") continue;
    std::string_view value = trimmed(parameter.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.empty()) return std::nullopt;
    return lowered(value);
  }
  return std::nullopt;
}

BodyText decodeBodyText(const std::string& body, const std::optional<std::string>& contentType) {
  const std::string charset = contentType ? charsetOf(*contentType).value_or("utf-8") : "utf-8";
  if (body.empty()) return {QStringLiteral(""), {}};
  const QByteArrayView bytes(body.data(), static_cast<qsizetype>(body.size()));
  if (isLatin1Name(charset)) return {QString::fromLatin1(bytes), {}};
  QStringDecoder decoder(charset == "utf8" ? "utf-8" : charset.c_str(), QStringDecoder::Flag::Stateless);
  if (!decoder.isValid())
    return {std::nullopt, "the answer's character set \"" + charset + "\" is not supported"};
  QString text = decoder.decode(bytes);
  if (decoder.hasError()) return {std::nullopt, "the answer is not valid " + charset + " text"};
  return {std::move(text), {}};
}

}  // namespace ov
