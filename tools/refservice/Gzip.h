#pragma once

#include <string>
#include <string_view>

namespace refservice {

// `data` as one gzip member (RFC 1952). Throws std::runtime_error if zlib fails.
std::string gzipCompress(std::string_view data);

// True when an Accept-Encoding value admits gzip: a "gzip" or "x-gzip" coding,
// in any letter case, whose q-value is not 0.
bool acceptsGzip(std::string_view acceptEncoding);

}  // namespace refservice
