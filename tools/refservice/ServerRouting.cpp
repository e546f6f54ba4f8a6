#include "tools/refservice/ServerRouting.h"

#include <openssl/ssl.h>

#include <string>

#include "tools/refservice/ConnectionPool.h"
#include "tools/refservice/InstallerResponder.h"
#include "tools/refservice/ProtocolResponder.h"

namespace refservice {
namespace {

using Answer = std::function<void(Exchange&)>;

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The HTTP layer applies the parsed Range header to every answer it writes
// (it would relabel a whole-file answer to a multi-range request as
// multipart/byteranges). Ranges are answered here, so its copy is emptied;
// the Request object it passes as const is its own non-const local.
void forgetParsedRanges(const httplib::Request& request) {
  const_cast<httplib::Request&>(request).ranges.clear();
}

httplib::Server::Handler handler(ServiceContext& context, Answer answer) {
  return
      [&context, answer = std::move(answer)](const httplib::Request& request, httplib::Response& response) {
        forgetParsedRanges(request);
        if (request.ssl != nullptr) ConnectionPool::noteConnectionSocket(SSL_get_fd(request.ssl));
        Exchange exchange(context, request, response);
        try {
          answer(exchange);
        } catch (const std::exception& e) {
          exchange.clearHeaders();
          exchange.reject(500, std::string("internal error: ") + e.what());
        }
      };
}

void answerUnrouted(Exchange& exchange) {
  const auto& path = exchange.request().path;
  if (startsWith(path, kServicePrefix) || startsWith(path, kInstallerPrefix) ||
      startsWith(path, kMovedInstallerPrefix)) {
    exchange.setHeader("Allow", startsWith(path, kServicePrefix) ? "POST" : "GET, HEAD");
    return exchange.sendText(405, "method not allowed\n");
  }
  exchange.sendText(404, "not found\n");
}

// Why the HTTP layer refused a request before any handler saw it.
std::string refusal(const httplib::Request& request, int status) {
  switch (status) {
    case 416:
      return "Range header is not a byte range set";
    case 413:
      return "body too large";
    case 414:
      return "request target too long";
    default:
      break;
  }
  if (request.method == "CONNECT" || request.method == "TRACE" || request.method == "PRI")
    return "method " + request.method + " is not served";
  return "malformed request (HTTP layer status " + std::to_string(status) + ")";
}

}  // namespace

void installRoutes(httplib::Server& server, ServiceContext& context) {
  const std::string servicePattern = std::string(kServicePrefix) + "([^/]*)";
  const std::string installerPattern = std::string(kInstallerPrefix) + "(.*)";
  const std::string movedPattern = std::string(kMovedInstallerPrefix) + "(.*)";
  server.Post(servicePattern, handler(context, [](Exchange& exchange) {
                answerServicePost(exchange, exchange.request().matches[1].str());
              }));
  server.Get(installerPattern, handler(context, [](Exchange& exchange) {
               answerInstaller(exchange, exchange.request().matches[1].str(), false);
             }));
  server.Get(movedPattern, handler(context, [](Exchange& exchange) {
               answerInstaller(exchange, exchange.request().matches[1].str(), true);
             }));
  const auto unrouted = handler(context, answerUnrouted);
  server.Get(".*", unrouted);
  server.Post(".*", unrouted);
  server.Put(".*", unrouted);
  server.Patch(".*", unrouted);
  server.Delete(".*", unrouted);
  server.Options(".*", unrouted);

  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [&context](const httplib::Request& request, httplib::Response& response) {
        // Every answer of ours sets Content-Length; without one the HTTP layer itself refused the request.
        if (response.has_header("Content-Length")) return httplib::Server::HandlerResponse::Unhandled;
        forgetParsedRanges(request);
        const auto reason = refusal(request, response.status);
        Exchange exchange(context, request, response);
        // What follows a request that could not be parsed cannot be trusted to start a new one.
        exchange.setHeader("Connection", "close");
        exchange.closeAfterAnswer();
        exchange.reject(400, reason);
        return httplib::Server::HandlerResponse::Handled;
      }));
}

}  // namespace refservice
