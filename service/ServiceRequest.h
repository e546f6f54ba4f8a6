#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "net/HttpClient.h"

namespace ov {

// The download service: one HTTPS host, five form-encoded POST endpoints.

// "https://" + the service host: OVDOWNLOADER_SERVICE_HOST when set, otherwise
// the host fixed at build time.
QString serviceBase();
void setServiceHostForTesting(const std::optional<QString>& host);

// serviceBase() + "/prog/util/downloader/" + `endpoint`.
QString serviceEndpoint(const char* endpoint);

// "Content-Type: application/x-www-form-urlencoded", then "Accept-Encoding: gzip, deflate".
HttpHeaders standardServiceHeaders();

// Sends one request of the shared client and blocks until `onAnswer` has
// handled its answer (or failure) on the call's own "orvalen" queue, never on
// the calling thread. What the service's blocking calls (the two queries, the
// probe, the start and status reports) have in common. Never on the main thread.
void sendAndWait(const QString& url, HttpMethod method, const FormFields& fields, const HttpHeaders& headers,
                 const std::function<void(const DataResponse&)>& onAnswer);

// sendAndWait() of a form POST to one of the service's endpoints.
void postAndWait(const char* endpoint, const FormFields& fields,
                 const std::function<void(const DataResponse&)>& onAnswer);

// POSTs `parameters` form-encoded to `url` and blocks until the answer has
// been handled. `responseDataHandler` gets the body as text (whatever the
// status code) on the call's own "orvalen" queue; the result is its answer, or
// false when no text arrived. Never call it from the main thread.
bool SendHttpPostRequsetString(const QString& url, const std::optional<HttpHeaders>& headers,
                               const FormFields& parameters,
                               const std::function<bool(const QString&)>& responseDataHandler);

// An optional single "+" or "-", then one or more digits 0-9, nothing else,
// within the signed 64-bit range.
std::optional<std::int64_t> parseDecimalInteger(const QString& text);

}  // namespace ov
