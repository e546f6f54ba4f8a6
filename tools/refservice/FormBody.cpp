#include "tools/refservice/FormBody.h"

#include <cctype>

namespace refservice {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes one name or value; `offset` locates it in the body for the error text.
bool decodePart(std::string_view part, std::size_t offset, std::string& out, std::string& error) {
  for (std::size_t i = 0; i < part.size(); ++i) {
    const auto c = static_cast<unsigned char>(part[i]);
    if (c == '%') {
      if (i + 2 >= part.size() || hexValue(part[i + 1]) < 0 || hexValue(part[i + 2]) < 0) {
        error = "bad percent escape at byte " + std::to_string(offset + i);
        return false;
      }
      out += static_cast<char>(hexValue(part[i + 1]) * 16 + hexValue(part[i + 2]));
      i += 2;
    } else if (c == '+') {
      out += ' ';
    } else if (c <= 0x20 || c >= 0x7f) {
      error = "unescaped byte " + std::to_string(c) + " at byte " + std::to_string(offset + i);
      return false;
    } else {
      out += static_cast<char>(c);
    }
  }
  return true;
}

}  // namespace

FormDecoding decodeForm(std::string_view body) {
  FormDecoding result;
  if (body.empty()) {
    result.error = "empty body";
    return result;
  }
  std::size_t start = 0;
  while (start <= body.size()) {
    auto end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const auto pair = body.substr(start, end - start);
    const auto equals = pair.find('=');
    if (pair.empty() || equals == std::string_view::npos || equals == 0) {
      result.error = "pair at byte " + std::to_string(start) + " is not name=value";
      return result;
    }
    std::string name;
    std::string value;
    if (!decodePart(pair.substr(0, equals), start, name, result.error) ||
        !decodePart(pair.substr(equals + 1), start + equals + 1, value, result.error))
      return result;
    result.fields.emplace_back(std::move(name), std::move(value));
    start = end + 1;
  }
  return result;
}

std::string percentEncode(std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xf];
    }
  }
  return out;
}

}  // namespace refservice
