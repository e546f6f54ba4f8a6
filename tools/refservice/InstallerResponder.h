#pragma once

#include <string>

#include "tools/refservice/Exchange.h"

namespace refservice {

// The path under which installers are served: "/installers/NAME", and the
// same files under another path, where a redirect to another host leads.
inline constexpr std::string_view kInstallerPrefix = "/installers/";
inline constexpr std::string_view kMovedInstallerPrefix = "/moved/installers/";

// Answers HEAD and GET for the installer `name`:
// - HEAD: the scenario's HEAD status (200), Content-Length (the size, or the
//   scenario's text or delta), a strong ETag, Last-Modified and
//   "Accept-Ranges: bytes".
// - GET without Range: 200 and the whole file. With one satisfiable range:
//   206, Content-Range "bytes a-b/size" and those bytes. With one range that
//   selects no byte: 416 and "Content-Range: bytes */size". With several
//   ranges, an If-Range that is not the current strong ETag, or the
//   ignore-Range fault: 200 and the whole file. A Range header that is not a
//   byte range set: 400.
// - An unknown installer: 404.
// Scenario faults apply in this order: the signature of a signed link (403
// when it is missing or expired) and the redirect (both unless `moved`, the
// answer under kMovedInstallerPrefix), the failure (Nth ranged request, range
// start), the first-byte delay, then the body's shortening, drop, stall, hold
// and rate limit. The ETag's form, the version (ETag and Last-Modified) and
// the digest header apply to every HEAD, 200 and 206 answer.
void answerInstaller(Exchange& exchange, const std::string& name, bool moved);

}  // namespace refservice
