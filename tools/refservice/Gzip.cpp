#include "tools/refservice/Gzip.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace refservice {
namespace {

std::string lowerTrimmed(std::string_view text) {
  std::string out;
  for (const char c : text)
    if (c != ' ' && c != '\t') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// q=0 means "not acceptable" (RFC 9110, 12.4.2); any other weight accepts.
bool zeroWeight(std::string_view parameters) {
  const auto q = parameters.find("q=");
  if (q == std::string_view::npos) return false;
  const auto weight = parameters.substr(q + 2);
  return std::all_of(weight.begin(), weight.end(), [](char c) { return c == '0' || c == '.'; });
}

}  // namespace

std::string gzipCompress(std::string_view data) {
  z_stream stream{};
  // Window bits 15 + 16 selects the gzip wrapper instead of zlib's own.
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("gzip: deflateInit2 failed");
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("gzip: deflate failed");
  out.resize(stream.total_out);
  return out;
}

bool acceptsGzip(std::string_view acceptEncoding) {
  const auto value = lowerTrimmed(acceptEncoding);
  std::size_t start = 0;
  while (start <= value.size()) {
    auto end = value.find(',', start);
    if (end == std::string::npos) end = value.size();
    const std::string_view item = std::string_view(value).substr(start, end - start);
    const auto semicolon = item.find(';');
    const auto coding = item.substr(0, semicolon);
    if ((coding == "gzip" || coding == "x-gzip") &&
        (semicolon == std::string_view::npos || !zeroWeight(item.substr(semicolon + 1))))
      return true;
    start = end + 1;
  }
  return false;
}

}  // namespace refservice
