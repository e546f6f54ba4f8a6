#include "net/HttpResponseParser.h"

#include <charconv>

namespace ov {
namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

// "HTTP/1.1 206 Partial Content" -> 206.
std::optional<int> statusOf(std::string_view line) {
  if (line.substr(0, 5) != "HTTP/") return std::nullopt;
  const auto space = line.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view code = line.substr(space + 1, 3);
  int status = 0;
  const auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), status);
  if (ec != std::errc() || end != code.data() + code.size()) return std::nullopt;
  return status;
}

}  // namespace

void HttpResponseParser::reset() {
  current_.reset();
  last_.reset();
}

std::optional<HttpResponse> HttpResponseParser::addLine(std::string_view line) {
  if (const auto status = statusOf(line)) {
    current_ = HttpResponse{};
    current_->statusCode = *status;
    return std::nullopt;
  }
  if (!current_) return std::nullopt;
  const std::string_view content = trimmed(line);
  if (content.empty()) {
    HttpResponse done = std::move(*current_);
    current_.reset();
    if (done.statusCode >= 200) last_ = done;
    return done;
  }
  // An obsolete folded line (RFC 9112, 5.2) continues the previous field's value.
  if ((line.front() == ' ' || line.front() == '\t') && !current_->headerFields.empty()) {
    std::string& value = current_->headerFields.back().value;
    value += ' ';
    value += content;
    return std::nullopt;
  }
  const auto colon = content.find(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  current_->headerFields.push_back(HttpHeader{std::string(trimmed(content.substr(0, colon))),
                                              std::string(trimmed(content.substr(colon + 1)))});
  return std::nullopt;
}

bool isFollowedRedirect(const HttpResponse& response) {
  return response.statusCode >= 300 && response.statusCode < 400 && response.value("Location").has_value();
}

std::optional<std::int64_t> parseContentLength(const std::optional<std::string>& value) {
  if (!value || value->empty()) return std::nullopt;
  std::int64_t length = 0;
  const char* first = value->data();
  const char* last = first + value->size();
  if (*first < '0' || *first > '9') return std::nullopt;
  const auto [end, ec] = std::from_chars(first, last, length);
  if (ec != std::errc() || end != last) return std::nullopt;
  return length;
}

}  // namespace ov
