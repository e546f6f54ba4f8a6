#include "net/CurlRoute.h"

#include "net/CurlMulti.h"
#include "net/ProxyLogins.h"

namespace ov::curl {

RequestRoute::RequestRoute(const std::string& url) : lookup_(ProxyResolver::shared().lookup(url)) {}

bool RequestRoute::isReady() const {
  return lookup_->choice().has_value();
}

void RequestRoute::whenReady(std::function<void()> then) {
  lookup_->whenSettled([then = std::move(then)] { Multi::instance().post(then); });
}

void RequestRoute::apply(CURL* easy) {
  OV_ON_MULTI_THREAD();
  const ProxyChoice choice = lookup_->choice().value_or(ProxyChoice{});
  switch (choice.route) {
    case ProxyChoice::Route::Environment:
      // libcurl's defaults: the proxy variables and no_proxy.
      curl_easy_setopt(easy, CURLOPT_PROXY, nullptr);
      curl_easy_setopt(easy, CURLOPT_NOPROXY, nullptr);
      break;
    case ProxyChoice::Route::Direct:
      curl_easy_setopt(easy, CURLOPT_PROXY, "");
      break;
    case ProxyChoice::Route::Proxy:
      // The desktop's answer already weighed its own exceptions; no_proxy
      // from the environment does not undo it.
      curl_easy_setopt(easy, CURLOPT_PROXY, choice.proxy.c_str());
      curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
      break;
  }
  proxy_ = choice.proxy;
  const auto login = proxy_.empty() ? ProxyLogins::Current{}
                     : next_        ? *std::exchange(next_, std::nullopt)
                                    : ProxyLogins::shared().current(proxy_);
  generation_ = login.generation;
  withLogin_ = login.user.has_value();
  if (withLogin_) {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, login.user->c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, login.password.value_or(std::string()).c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_ANY));
  } else {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, nullptr);
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, nullptr);
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
  }
}

bool RequestRoute::refusedBy(CURL* easy, int status) const {
  if (proxy_.empty()) return false;
  long connectCode = 0;
  curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
  // Only the proxy answers a CONNECT, and some (tinyproxy) refuse a login
  // they were given with 401 there.
  return connectCode == 407 || connectCode == 401 || status == 407;
}

void RequestRoute::awaitLogin(std::function<void()> retry, std::function<void(HttpError)> fail) {
  const QString proxy = proxyForPeople(proxy_);
  HttpError error{HttpError::Kind::ProxyAuthentication,
                  (withLogin_ ? "the proxy " + proxy.toStdString() + " refused the user name and password"
                              : "the proxy " + proxy.toStdString() + " asks for a user name and password")};
  // `retry` and `fail` hold the request, and with it this route.
  ProxyLogins::shared().refused(proxy_, generation_,
                                [this, retry = std::move(retry), fail = std::move(fail),
                                 error = std::move(error)](const std::optional<ProxyLogins::Current>& next) {
                                  Multi::instance().post([this, retry, fail, error, next] {
                                    if (!next) return fail(error);
                                    next_ = next;
                                    retry();
                                  });
                                });
}

void RequestRoute::accepted() const {
  if (withLogin_) ProxyLogins::shared().accepted(proxy_, generation_);
}

std::optional<std::string> RequestRoute::redirectToAskAbout(CURL* easy, const HttpResponse& redirect) const {
  const auto location = redirect.value("Location");
  char* current = nullptr;
  if (!location || curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK ||
      current == nullptr)
    return std::nullopt;
  auto target = resolvedLocation(current, *location);
  // Whatever libcurl refuses to follow (another scheme than https, a broken
  // Location) it fails as it always has.
  if (!target || target->rfind("https://", 0) != 0) return std::nullopt;
  if (originOf(*target) == originOf(current)) return std::nullopt;
  const auto kept = ProxyResolver::shared().kept(*target);
  const auto keptChoice = kept ? kept->choice() : std::nullopt;
  if (keptChoice && keptChoice == lookup_->choice()) return std::nullopt;
  return target;
}

void RequestRoute::moveTo(const std::string& url) {
  lookup_ = ProxyResolver::shared().lookup(url);
}

std::optional<HttpError> RequestRoute::spendRedirects(CURL* easy) {
  long followed = 0;
  curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &followed);
  redirectsLeft_ -= followed + 1;
  if (redirectsLeft_ >= 0) return std::nullopt;
  return HttpError{HttpError::Kind::Other, "more than " + std::to_string(kMaxRedirects) + " redirects"};
}

}  // namespace ov::curl
