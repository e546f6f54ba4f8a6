#include "platform/HttpResumeRange.h"

#include <charconv>
#include <string_view>

#include "platform/HttpResponseParser.h"

namespace ov {
namespace {

bool readNumber(std::string_view& s, std::int64_t& out) {
  if (s.empty() || s.front() < '0' || s.front() > '9') return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  if (ec != std::errc()) return false;
  s.remove_prefix(static_cast<std::size_t>(end - s.data()));
  return true;
}

bool consume(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

bool startsWithIgnoringCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char a = (s[i] >= 'A' && s[i] <= 'Z') ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
    if (a != prefix[i]) return false;
  }
  return true;
}

std::string describe(const ResumePlan& plan) {
  std::string text = "bytes " + std::to_string(plan.first) + "-";
  text += plan.last ? std::to_string(*plan.last) : std::string("(end)");
  text += "/";
  text += plan.completeLength ? std::to_string(*plan.completeLength) : std::string("(any)");
  return text;
}

}  // namespace

std::optional<ContentRange> parseContentRange(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  std::string_view s = *value;
  if (!startsWithIgnoringCase(s, "bytes")) return std::nullopt;
  s.remove_prefix(5);
  if (!consume(s, ' ')) return std::nullopt;
  while (consume(s, ' ')) {
  }
  ContentRange range;
  if (!readNumber(s, range.first) || !consume(s, '-') || !readNumber(s, range.last) || !consume(s, '/')) {
    return std::nullopt;
  }
  if (range.last < range.first) return std::nullopt;
  if (!consume(s, '*')) {
    std::int64_t complete = 0;
    if (!readNumber(s, complete) || complete <= range.last) return std::nullopt;
    range.completeLength = complete;
  }
  while (consume(s, ' ')) {
  }
  if (!s.empty()) return std::nullopt;
  return range;
}

std::optional<ResumePlan> planResume(const HttpResponse& first, std::int64_t written) {
  ResumePlan plan;
  if (first.statusCode == 206) {
    const auto range = parseContentRange(first.value("Content-Range"));
    if (!range || written > range->last - range->first) return std::nullopt;
    plan.first = range->first + written;
    plan.last = range->last;
    plan.completeLength = range->completeLength;
    plan.range = "bytes=" + std::to_string(plan.first) + "-" + std::to_string(*plan.last);
    return plan;
  }
  if (first.statusCode == 200) {
    const auto length = parseContentLength(first.value("Content-Length"));
    if (length && written >= *length) return std::nullopt;
    plan.first = written;
    if (length) {
      plan.last = *length - 1;
      plan.completeLength = *length;
    }
    plan.range = "bytes=" + std::to_string(written) + "-";
    return plan;
  }
  return std::nullopt;
}

std::optional<std::string> checkResumedAnswer(const ResumePlan& plan, const HttpResponse& answer) {
  if (answer.statusCode != 206) {
    return "the resumed request was answered with status " + std::to_string(answer.statusCode) +
           " instead of 206 (expected " + describe(plan) + ")";
  }
  const auto contentRange = answer.value("Content-Range");
  const auto range = parseContentRange(contentRange);
  const bool fits =
      range && range->first == plan.first && (!plan.last || range->last == *plan.last) &&
      (!plan.completeLength || !range->completeLength || *range->completeLength == *plan.completeLength);
  if (!fits) {
    return "the resumed request was answered with Content-Range \"" + contentRange.value_or("") +
           "\" (expected " + describe(plan) + ")";
  }
  return std::nullopt;
}

HttpHeaders withRange(const HttpHeaders& headers, const std::string& range) {
  HttpHeaders out;
  bool placed = false;
  for (const auto& header : headers) {
    const bool isRange = header.name.size() == 5 && startsWithIgnoringCase(header.name, "range");
    if (!isRange) {
      out.push_back(header);
    } else if (!placed) {
      out.push_back(HttpHeader{header.name, range});
      placed = true;
    }
  }
  if (!placed) out.push_back(HttpHeader{"Range", range});
  return out;
}

}  // namespace ov
