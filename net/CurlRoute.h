#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/CurlEasy.h"
#include "net/HttpClient.h"
#include "net/ProxyLogins.h"
#include "net/ProxyResolver.h"

namespace ov::curl {

// The way one request takes to its server: the proxy chosen for its URL (asked
// of the resolver where the request is made, on the caller's thread, which
// never waits for the answer), the login of that proxy for each attempt, a 407
// turned into one question for all the requests it refuses, and a redirect to
// another scheme, host or port asked about again.
//
// Everything but the constructor runs on the HTTP client's thread, which never
// waits for the resolver or for a person either: what has to wait is handed a
// continuation that comes back to that thread.
class RequestRoute {
 public:
  explicit RequestRoute(const std::string& url);

  // Whether the choice for the current URL is known.
  bool isReady() const;
  // `then` runs on the HTTP client's thread (posted, also when the choice is
  // known already) once the choice is known: within kProxyLookupLimit.
  void whenReady(std::function<void()> then);

  // Sets the proxy options of `easy` for the next attempt: the choice, and
  // the proxy's login when it has one (CURLAUTH_ANY: Basic, Digest or NTLM).
  void apply(CURL* easy);

  // Whether the proxy refused the attempt that just ended: a 407 (or 401) to
  // the CONNECT of a tunnel, or 407 as the final answer `status` (0: none).
  bool refusedBy(CURL* easy, int status) const;
  // After refusedBy(): `retry` runs on the HTTP client's thread once there is
  // a login to try, `fail` with a ProxyAuthentication error when there will be none.
  void awaitLogin(std::function<void()> retry, std::function<void(HttpError)> fail);
  // The attempt got past the proxy with the login it was given.
  void accepted() const;

  // On a redirect that libcurl is about to follow (a header block of the
  // attempt under way): the absolute target when it leads to another scheme,
  // host or port whose proxy is not known to be the same. The attempt must
  // then end there, and the request go on at the target after moveTo().
  std::optional<std::string> redirectToAskAbout(CURL* easy, const HttpResponse& redirect) const;
  // Asks the resolver about `url`, the request's new place.
  void moveTo(const std::string& url);

  // The redirects the next attempt may follow (CURLOPT_MAXREDIRS): all the
  // attempts of a request share one limit, the hops between them included.
  long redirectsLeft() const { return redirectsLeft_; }
  // Counts the redirects the attempt that ended at a hop followed, and the hop:
  // an error once they pass the limit.
  std::optional<HttpError> spendRedirects(CURL* easy);

 private:
  std::shared_ptr<ProxyLookup> lookup_;
  std::string proxy_;  // of the applied choice; empty when it names none
  std::uint64_t generation_ = 0;
  bool withLogin_ = false;
  // The login a refused attempt was told to try next: the next attempt's,
  // even when the proxy's logins have been given up meanwhile (it is then
  // refused and fails, rather than asking again).
  std::optional<ProxyLogins::Current> next_;
  long redirectsLeft_ = kMaxRedirects;
};

}  // namespace ov::curl
