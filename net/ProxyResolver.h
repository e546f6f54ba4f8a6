#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ov::curl {

// How one request reaches its server.
struct ProxyChoice {
  enum class Route {
    Environment,  // libcurl reads http_proxy, https_proxy, all_proxy and no_proxy itself
    Direct,       // no proxy, whatever the environment says
    Proxy,        // through `proxy`, whatever the environment says
  };
  Route route = Route::Environment;
  // Route::Proxy: the proxy as libcurl takes it ("http://host:port",
  // "socks5://host:port"); Environment: the proxy the environment names for
  // the URL, when it names one (it may still not be used: no_proxy). Never
  // with a user name or password: those go to ProxyLogins.
  std::string proxy;

  bool operator==(const ProxyChoice&) const = default;
  // For a log line: "direct", "through http://host:port", ...
  std::string describe() const;
};

// One question to the resolver. Settled exactly once: by the desktop's answer,
// or by the environment when that answer does not come in time.
class ProxyLookup {
 public:
  // Any thread. False when it was settled already.
  bool settle(ProxyChoice choice);
  // Any thread. The choice once settled.
  std::optional<ProxyChoice> choice() const;
  // Any thread. Runs `then` once settled: at once on this thread when it is,
  // else on the thread that settles it (the resolver's or the HTTP client's),
  // so `then` must not block: it posts.
  void whenSettled(std::function<void()> then);

 private:
  mutable std::mutex mutex_;
  std::optional<ProxyChoice> choice_;
  std::vector<std::function<void()>> waiting_;
};

// The proxy the desktop would use for a URL, asked of libproxy (the desktop's
// settings, WPAD and PAC files) on a thread of the resolver's own: a PAC file
// may be fetched and run, and a WPAD search waits for DNS, so neither the
// caller (the window's thread, for one) nor the HTTP client's thread ever
// waits for it.
//
// The environment comes first: a proxy variable that libcurl reads for the
// URL's scheme (https_proxy or HTTPS_PROXY for https, http_proxy for http,
// then all_proxy or ALL_PROXY) keeps the request with libcurl's own handling
// of it and of no_proxy, as before libproxy was asked. A value in libproxy's
// own notation ("pac+file://...", "wpad://"), which libcurl cannot use, is
// left to libproxy. libproxy's answer is taken when it names something libcurl
// can use (direct, an http, https or SOCKS proxy); anything else, no answer, or
// no answer within the time limit is the environment again.
//
// Answers are kept per scheme, host and port for the life of the process, and
// libproxy is given only those (never a path or a query: a signed link's
// signature has no business in a PAC script).
class ProxyResolver {
 public:
  static ProxyResolver& shared();

  // Any thread, never blocks: the lookup for `url`'s scheme, host and port,
  // the one kept from before when there is one. A URL that cannot be parsed
  // gets a settled Environment choice (libcurl then fails it as it would).
  std::shared_ptr<ProxyLookup> lookup(std::string_view url);
  // Any thread, never blocks: the kept lookup for `url`, if any.
  std::shared_ptr<ProxyLookup> kept(std::string_view url);

  // Forgets every kept answer: tests that change the environment between requests.
  void forgetForTesting();

  ProxyResolver(const ProxyResolver&) = delete;
  ProxyResolver& operator=(const ProxyResolver&) = delete;

 private:
  ProxyResolver() = default;
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, std::shared_ptr<ProxyLookup>> kept_;                  // by origin
  std::deque<std::pair<std::string, std::shared_ptr<ProxyLookup>>> pending_;  // for the resolver's thread
  bool started_ = false;
};

// The time libproxy has for one answer before the environment decides.
inline constexpr std::chrono::seconds kProxyLookupLimit{10};

// `url`'s "scheme://host:port/" (the port always written), or nothing when
// it cannot be parsed.
std::optional<std::string> originOf(std::string_view url);

// `proxy` without a user name or password, as a URL ("http://host:port");
// the login that was in it, if any, through `user` and `password`.
std::string withoutLogin(std::string_view proxy, std::string* user = nullptr,
                         std::string* password = nullptr);

// Where `location` (a redirect's Location, relative or absolute) leads from
// `base`, as an absolute URL; nothing when either cannot be parsed.
std::optional<std::string> resolvedLocation(std::string_view base, std::string_view location);

}  // namespace ov::curl
