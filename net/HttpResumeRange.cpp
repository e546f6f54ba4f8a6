#include "net/HttpResumeRange.h"

#include <charconv>
#include <string_view>

#include "net/HttpResponseParser.h"
#include "platform/AsciiText.h"

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

std::optional<std::string> encodingProblem(const HttpResponse& answer) {
  const auto coding = answer.value("Content-Encoding");
  if (!coding || equalsIgnoringCase(*coding, "identity")) return std::nullopt;
  return "the answer is encoded as \"" + *coding + "\"";
}

std::optional<std::string> versionProblem(const ExpectedRange& expected, const HttpResponse& answer) {
  // Entity tags compare strongly (RFC 9110, 8.8.3.2): byte for byte.
  if (expected.entityTag) {
    const auto tag = answer.value("ETag");
    if (!tag || *tag == *expected.entityTag) return std::nullopt;
    return "the answer names ETag " + *tag + " instead of " + *expected.entityTag;
  }
  if (!expected.lastModified) return std::nullopt;
  const auto modified = answer.value("Last-Modified");
  if (!modified || *modified == *expected.lastModified) return std::nullopt;
  return "the answer names Last-Modified \"" + *modified + "\" instead of \"" + *expected.lastModified + "\"";
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

std::optional<std::int64_t> announcedFileSize(const HttpResponse& answer) {
  if (answer.statusCode == 200) return parseContentLength(answer.value("Content-Length"));
  const auto value = answer.value("Content-Range");
  if (!value) return std::nullopt;
  if (const auto range = parseContentRange(value)) return range->completeLength;
  std::string_view s = *value;
  if (!startsWithIgnoringCase(s, "bytes */")) return std::nullopt;
  s.remove_prefix(8);
  std::int64_t complete = 0;
  if (!readNumber(s, complete) || !s.empty()) return std::nullopt;
  return complete;
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

ResumePlan planResume(const ExpectedRange& expected, std::int64_t written) {
  ResumePlan plan;
  plan.first = expected.first + written;
  plan.last = expected.last;
  plan.completeLength = expected.completeLength;
  plan.range = "bytes=" + std::to_string(plan.first) + "-" + std::to_string(expected.last);
  return plan;
}

ExpectedRange remainderOf(const ExpectedRange& expected, std::int64_t written) {
  ExpectedRange rest = expected;
  rest.first += written;
  return rest;
}

std::optional<std::string> checkExpectedAnswer(const ExpectedRange& expected, const HttpResponse& answer) {
  const std::string wanted = "bytes " + std::to_string(expected.first) + "-" + std::to_string(expected.last) +
                             "/" + std::to_string(expected.completeLength);
  // A compressed variant's bytes are not the file's, whatever its range says.
  if (auto why = encodingProblem(answer)) return *why + " (expected " + wanted + ")";
  // A cache or a server that ignores If-Range may answer with a range of
  // another version of the same size; only its validator tells.
  if (auto why = versionProblem(expected, answer)) return *why + " (expected " + wanted + ")";
  const auto length = parseContentLength(answer.value("Content-Length"));
  if (answer.value("Content-Length") && length != expected.length())
    return "the answer is " + answer.value("Content-Length").value_or("") + " bytes long (expected " +
           wanted + ")";
  if (answer.statusCode == 206) {
    const auto range = parseContentRange(answer.value("Content-Range"));
    if (range && range->first == expected.first && range->last == expected.last &&
        range->completeLength == expected.completeLength)
      return std::nullopt;
    return "the answer has Content-Range \"" + answer.value("Content-Range").value_or("") + "\" (expected " +
           wanted + ")";
  }
  // The whole file is the range only when the range is the whole file.
  if (answer.statusCode == 200 && expected.first == 0 && expected.last == expected.completeLength - 1)
    return std::nullopt;
  return "the answer has status " + std::to_string(answer.statusCode) + " (expected " + wanted + ")";
}

std::optional<std::string> checkResumedAnswer(const ResumePlan& plan, const HttpResponse& answer) {
  if (answer.statusCode != 206) {
    return "the resumed request was answered with status " + std::to_string(answer.statusCode) +
           " instead of 206 (expected " + describe(plan) + ")";
  }
  if (auto why = encodingProblem(answer)) return "the resumed request: " + *why;
  const auto contentRange = answer.value("Content-Range");
  const auto range = parseContentRange(contentRange);
  const bool fits = range && range->first == plan.first && (!plan.last || range->last == *plan.last) &&
                    (!plan.completeLength || range->completeLength == plan.completeLength);
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
    const bool isRange = equalsIgnoringCase(header.name, "range");
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
