#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "net/HttpClient.h"

namespace ov {

// Gathers the header blocks of one transfer from the lines libcurl hands over
// one at a time (status line, fields, blank line), redirects and interim (1xx)
// answers included. Lines outside a block, such as chunked trailers, are
// ignored. Not thread-safe: one transfer, one thread.
class HttpResponseParser {
 public:
  // Forgets every block: the next status line starts afresh.
  void reset();

  // Takes one raw line, line end included. Returns the response when the line
  // completes a header block.
  std::optional<HttpResponse> addLine(std::string_view line);

  // The last completed block whose status is final (200 or more), if any.
  const std::optional<HttpResponse>& lastResponse() const { return last_; }

 private:
  std::optional<HttpResponse> current_;
  std::optional<HttpResponse> last_;
};

// Whether libcurl, following redirects, goes on from `response` to the place its
// Location names (any 3xx answer that carries a Location).
bool isFollowedRedirect(const HttpResponse& response);

// A Content-Length value: decimal digits only, within the 64-bit range.
std::optional<std::int64_t> parseContentLength(const std::optional<std::string>& value);

}  // namespace ov
