#pragma once

#include <string_view>

#include "tools/refservice/Exchange.h"

namespace refservice {

// The download service's endpoints, all POST with a form body.
inline constexpr std::string_view kServicePrefix = "/prog/util/downloader/";
inline constexpr std::string_view kGetLink = "get-link.jsp";
inline constexpr std::string_view kHeartbeat = "heartbeat.jsp";
inline constexpr std::string_view kUpdateInfo = "update-info.jsp";
inline constexpr std::string_view kUpdateStatus = "update-status.jsp";
inline constexpr std::string_view kUpdateSize = "update-size-v2.jsp";

// Answers a POST to `endpoint` (the path after kServicePrefix) from the
// scenario: the link or the heartbeat text, or the report's status code with
// the body "OK". An unknown endpoint gets 404. A request whose Content-Type is
// not application/x-www-form-urlencoded, or whose body is empty or not form
// encoding, gets 400. The answer is gzip-compressed when the scenario asks for
// it and the request's Accept-Encoding admits gzip, except for slow reports:
// their headers go at once (Content-Length: 600), then "OK" padded with
// blanks to 600 bytes, one byte a second.
void answerServicePost(Exchange& exchange, std::string_view endpoint);

}  // namespace refservice
