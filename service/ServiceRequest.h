#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/HttpClient.h"

// The download service: one HTTPS host, five form-encoded POST endpoints.

// "https://" + the service host: OVDOWNLOADER_SERVICE_HOST when set, otherwise
// the host fixed at build time.
QString serviceBase();
void setServiceHostForTesting(const std::optional<QString>& host);

// "Content-Type: application/x-www-form-urlencoded", then "Accept-Encoding: gzip, deflate".
ov::HttpHeaders standardServiceHeaders();

// POSTs `parameters` form-encoded to `url` and blocks until the answer has
// been handled. `responseDataHandler` gets the body as text (whatever the
// status code) on the call's own "orvalen" queue; the result is its answer, or
// false when no text arrived. Never call it from the main thread.
bool SendHttpPostRequsetString(const QString& url, const std::optional<ov::HttpHeaders>& headers,
                               const ov::FormFields& parameters,
                               const std::function<bool(const QString&)>& responseDataHandler);

// An optional single "+" or "-", then one or more digits 0-9, nothing else,
// within the signed 64-bit range.
std::optional<std::int64_t> parseDecimalInteger(const QString& text);
