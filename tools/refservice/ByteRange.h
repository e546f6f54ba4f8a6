#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace refservice {

// One byte-range-spec of a Range header (RFC 9110, 14.1.1).
struct ByteRangeSpec {
  std::int64_t first = 0;              // first byte; unused by a suffix range
  std::optional<std::int64_t> last;    // last byte, inclusive; absent: to the end
  std::optional<std::int64_t> suffix;  // "-n": the last n bytes

  bool operator==(const ByteRangeSpec&) const = default;
};

// The bytes an answer carries, both ends inclusive.
struct ResolvedRange {
  std::int64_t first = 0;
  std::int64_t last = 0;

  std::int64_t length() const { return last - first + 1; }
  bool operator==(const ResolvedRange&) const = default;
};

// Parses a Range header value "bytes=" 1#(a-b / a- / -n), the unit in any
// letter case, blanks allowed around the commas. Gives nothing for any other
// unit, a missing number, a number beyond 64 bits, or a range whose last byte
// comes before its first.
std::optional<std::vector<ByteRangeSpec>> parseRangeHeader(std::string_view value);

// The part of a `size`-byte file that `spec` selects, or nothing when it
// selects no byte (the range starts at or past the end, a suffix of 0, an empty file).
std::optional<ResolvedRange> resolveRange(const ByteRangeSpec& spec, std::int64_t size);

// "bytes a-b/size" for a 206 answer.
std::string contentRange(const ResolvedRange& range, std::int64_t size);

}  // namespace refservice
