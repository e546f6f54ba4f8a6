#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace refservice {

using Fields = std::vector<std::pair<std::string, std::string>>;

// The outcome of decoding an application/x-www-form-urlencoded body.
struct FormDecoding {
  Fields fields;      // in body order; a repeated name appears as often as sent
  std::string error;  // why the body is not form encoding; empty when it is

  bool ok() const { return error.empty(); }
};

// Decodes "name=value" pairs joined by "&", with "+" for a blank and %HH
// escapes. Rejects an empty body, an empty pair, a pair without "=" or with an
// empty name, a "%" not followed by two hex digits, and raw bytes a form encoder
// never leaves unescaped (control characters, blanks, bytes from 0x80 up).
FormDecoding decodeForm(std::string_view body);

// Percent-encodes every byte but the unreserved characters of RFC 3986.
std::string percentEncode(std::string_view text);

}  // namespace refservice
