#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "net/HttpClient.h"

namespace ov {

// Failures worth another attempt: the connection broke or went silent. A TLS
// failure, a refused scheme or a file error would only fail again.
bool isTransient(const HttpError& error);

// 408, 429, 500, 502, 503, 504: the server says "not now", not "no".
bool isTransientStatus(int statusCode);

// A Retry-After value (RFC 9110, 10.2.3): delay-seconds or an HTTP-date,
// measured from now. Nothing when absent or unreadable.
std::optional<std::chrono::milliseconds> parseRetryAfter(const std::optional<std::string>& value);

// `delay` scaled by a random factor between 0.8 and 1.2.
std::chrono::milliseconds jittered(std::chrono::milliseconds delay);

}  // namespace ov
