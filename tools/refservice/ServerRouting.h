#pragma once

#include <httplib.h>

#include "tools/refservice/Exchange.h"

namespace refservice {

// Installs the service's handlers on `server`: the POST endpoints, the
// installers, 404 or 405 for every other path and method, and 400 with
// "Connection: close" for whatever the HTTP layer cannot parse (a bad request
// line, an unparsable Range header, a method it does not route). Each request,
// rejected or not, is recorded; no request can make a handler throw past it.
void installRoutes(httplib::Server& server, ServiceContext& context);

}  // namespace refservice
