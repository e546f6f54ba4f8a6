#pragma once

#include <QString>
#include <optional>
#include <string>

namespace ov {

// A body turned into text, or why it could not be.
struct BodyText {
  std::optional<QString> text;
  std::string error;  // set exactly when `text` is not
};

// Decodes `body` by the charset parameter of `contentType`: UTF-8 when there is
// none; "ISO-8859-1" (and its aliases such as "latin1", and "US-ASCII", read as
// its superset) byte for byte; other names as far as Qt knows them. An empty
// body is the empty text. Bytes that are not valid in the charset, and a
// charset Qt does not know, give an error rather than a text with replacement
// characters, so that a garbled answer is never read as a valid one.
BodyText decodeBodyText(const std::string& body, const std::optional<std::string>& contentType);

// The charset parameter of a Content-Type value, lower-cased, quotes removed.
std::optional<std::string> charsetOf(const std::string& contentType);

}  // namespace ov
