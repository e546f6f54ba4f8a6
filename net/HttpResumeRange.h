#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/HttpClient.h"

namespace ov {

// The byte range of a partial answer, from its Content-Range field
// ("bytes first-last/complete", the complete length possibly "*").
struct ContentRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::optional<std::int64_t> completeLength;
};
std::optional<ContentRange> parseContentRange(const std::optional<std::string>& value);

// The size an answer says its whole file has: the complete length of its
// Content-Range ("bytes a-b/N", or "bytes */N" of a 416), or the
// Content-Length of a 200. Nothing when it says none.
std::optional<std::int64_t> announcedFileSize(const HttpResponse& answer);

// How to fetch the rest of a body of which `written` bytes have been stored,
// and what the answer to that must look like.
struct ResumePlan {
  std::string range;                           // the Range value to send, such as "bytes=1000-5242879"
  std::int64_t first = 0;                      // the answer's Content-Range must start here
  std::optional<std::int64_t> last;            // and end here, when known
  std::optional<std::int64_t> completeLength;  // and name this complete length, when known
};

// The plan after `written` (> 0) bytes of the answer `first` arrived. A 206
// with a single Content-Range "bytes a-b/T" continues as "bytes=(a+written)-b";
// a 200 as "bytes=written-". Any other answer cannot be continued by a range:
// nothing is returned.
std::optional<ResumePlan> planResume(const HttpResponse& first, std::int64_t written);

// The plan after `written` (> 0) bytes of the expected range arrived:
// "bytes=(first+written)-last", answered by exactly that much of the same file.
ResumePlan planResume(const ExpectedRange& expected, std::int64_t written);

// What is left of `expected` after its first `written` bytes: the same file
// and version from byte first + written on.
ExpectedRange remainderOf(const ExpectedRange& expected, std::int64_t written);

// Nothing when `answer` is the one `expected` describes (see ExpectedRange);
// otherwise a printable reason.
std::optional<std::string> checkExpectedAnswer(const ExpectedRange& expected, const HttpResponse& answer);

// Nothing when `answer` (final, after redirects) is the unencoded 206 the
// plan asks for, with the plan's complete length when it knows one ("*" is
// none); otherwise a printable reason.
std::optional<std::string> checkResumedAnswer(const ResumePlan& plan, const HttpResponse& answer);

// `headers` with the Range field (any letter case) set to `range`: replaced
// where it stands, or appended when there was none. Every other field stays.
HttpHeaders withRange(const HttpHeaders& headers, const std::string& range);

}  // namespace ov
