#include "net/ProxyResolver.h"

#include <curl/curl.h>
#include <proxy.h>

#include <QString>
#include <cstdlib>
#include <thread>

#include "net/CurlMulti.h"
#include "net/ProxyLogins.h"
#include "platform/AsciiText.h"
#include "platform/Log.h"

namespace ov::curl {
namespace {

// An owned CURLU.
class UrlHandle {
 public:
  UrlHandle() : url_(curl_url()) {}
  ~UrlHandle() { curl_url_cleanup(url_); }
  UrlHandle(const UrlHandle&) = delete;
  UrlHandle& operator=(const UrlHandle&) = delete;

  bool set(std::string_view text, unsigned int flags = 0) {
    return url_ != nullptr && curl_url_set(url_, CURLUPART_URL, std::string(text).c_str(),
                                           flags | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK;
  }
  std::optional<std::string> get(CURLUPart part, unsigned int flags = 0) const {
    char* value = nullptr;
    if (url_ == nullptr || curl_url_get(url_, part, &value, flags) != CURLUE_OK) return std::nullopt;
    std::string text(value);
    curl_free(value);
    return text;
  }
  void clear(CURLUPart part) { curl_url_set(url_, part, nullptr, 0); }

 private:
  CURLU* url_;
};

std::string lowered(std::string text) {
  for (char& c : text) c = asciiLower(c);
  return text;
}

const char* firstSet(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

// The proxy libcurl would take from the environment for `scheme`, as it reads
// it (lower case only for http, against httpoxy).
const char* environmentProxy(const std::string& scheme) {
  const char* named = scheme == "https"  ? firstSet({"https_proxy", "HTTPS_PROXY"})
                      : scheme == "http" ? firstSet({"http_proxy"})
                                         : nullptr;
  return named != nullptr ? named : firstSet({"all_proxy", "ALL_PROXY"});
}

// libproxy's notation for "ask a PAC file" or "search one", which only libproxy reads.
bool isLibproxyNotation(std::string_view value) {
  return startsWithIgnoringCase(value, "pac+") || startsWithIgnoringCase(value, "wpad:");
}

// The first of libproxy's answers that libcurl can use: in order, as libproxy
// means them to be tried. "socks://" leaves the version open; libcurl needs one.
std::optional<ProxyChoice> usableChoice(char** proxies) {
  for (char** entry = proxies; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view proxy(*entry);
    if (startsWithIgnoringCase(proxy, "direct://")) return ProxyChoice{ProxyChoice::Route::Direct, {}};
    for (const char* scheme : {"http://", "https://", "socks4://", "socks4a://", "socks5://", "socks://"}) {
      if (!startsWithIgnoringCase(proxy, scheme)) continue;
      std::string user;
      std::string password;
      std::string bare = withoutLogin(proxy, &user, &password);
      if (bare.empty()) break;
      if (startsWithIgnoringCase(bare, "socks://")) bare = "socks5://" + bare.substr(8);
      // The desktop's own login for its proxy, until the proxy refuses it.
      if (!user.empty()) ProxyLogins::shared().offer(bare, std::move(user), std::move(password));
      return ProxyChoice{ProxyChoice::Route::Proxy, std::move(bare)};
    }
  }
  return std::nullopt;
}

ProxyChoice environmentChoice(const std::string& scheme) {
  const char* proxy = environmentProxy(scheme);
  return {ProxyChoice::Route::Environment,
          proxy != nullptr && !isLibproxyNotation(proxy) ? withoutLogin(proxy) : std::string()};
}

}  // namespace

std::string ProxyChoice::describe() const {
  switch (route) {
    case Route::Direct:
      return "direct";
    case Route::Proxy:
      return "through " + proxy;
    case Route::Environment:
      break;
  }
  return proxy.empty() ? std::string("as the environment says (no proxy)")
                       : "as the environment says (" + proxy + " unless no_proxy names the host)";
}

bool ProxyLookup::settle(ProxyChoice choice) {
  std::vector<std::function<void()>> waiting;
  {
    std::lock_guard lk(mutex_);
    if (choice_) return false;
    choice_ = std::move(choice);
    waiting.swap(waiting_);
  }
  for (auto& then : waiting) then();
  return true;
}

std::optional<ProxyChoice> ProxyLookup::choice() const {
  std::lock_guard lk(mutex_);
  return choice_;
}

void ProxyLookup::whenSettled(std::function<void()> then) {
  {
    std::lock_guard lk(mutex_);
    if (!choice_) {
      waiting_.push_back(std::move(then));
      return;
    }
  }
  then();
}

ProxyResolver& ProxyResolver::shared() {
  // Never destroyed: its thread may be inside libproxy (a PAC file on a server
  // that does not answer) when the process ends, and is not waited for.
  static auto* resolver = new ProxyResolver;
  return *resolver;
}

std::shared_ptr<ProxyLookup> ProxyResolver::lookup(std::string_view url) {
  auto lookup = std::make_shared<ProxyLookup>();
  const auto origin = originOf(url);
  if (!origin) {
    lookup->settle({});
    return lookup;
  }
  const std::string scheme = origin->substr(0, origin->find(':'));
  const char* fromEnvironment = environmentProxy(scheme);
  {
    std::lock_guard lk(mutex_);
    if (const auto found = kept_.find(*origin); found != kept_.end()) return found->second;
    kept_.emplace(*origin, lookup);
    // A proxy the environment names for the scheme is libcurl's, as ever.
    if (fromEnvironment == nullptr || isLibproxyNotation(fromEnvironment)) {
      pending_.emplace_back(*origin, lookup);
      if (!started_) {
        started_ = true;
        std::thread([this] { run(); }).detach();
      }
      wake_.notify_one();
    }
  }
  if (fromEnvironment != nullptr && !isLibproxyNotation(fromEnvironment)) {
    const ProxyChoice choice = environmentChoice(scheme);
    outputLine(QStringLiteral("ProxyResolver: %1 goes %2")
                   .arg(QString::fromStdString(*origin), QString::fromStdString(choice.describe())));
    lookup->settle(choice);
    return lookup;
  }
  // libproxy blocks on one question at a time: a PAC server that never
  // answers must not hold every later request.
  Multi::instance().postAt(Clock::now() + kProxyLookupLimit, [lookup, scheme, origin = *origin] {
    if (lookup->settle(environmentChoice(scheme)))
      outputLine(QStringLiteral("ProxyResolver: no answer for %1 within %2 s; %3")
                     .arg(QString::fromStdString(origin))
                     .arg(kProxyLookupLimit.count())
                     .arg(QString::fromStdString(environmentChoice(scheme).describe())));
  });
  return lookup;
}

std::shared_ptr<ProxyLookup> ProxyResolver::kept(std::string_view url) {
  const auto origin = originOf(url);
  if (!origin) return nullptr;
  std::lock_guard lk(mutex_);
  const auto found = kept_.find(*origin);
  return found != kept_.end() ? found->second : nullptr;
}

void ProxyResolver::forgetForTesting() {
  std::lock_guard lk(mutex_);
  kept_.clear();
}

void ProxyResolver::run() {
  // Made here, on the thread that asks it: loading its modules may start
  // helpers that read the desktop's settings.
  pxProxyFactory* factory = px_proxy_factory_new();
  for (;;) {
    std::pair<std::string, std::shared_ptr<ProxyLookup>> next;
    {
      std::unique_lock lk(mutex_);
      wake_.wait(lk, [this] { return !pending_.empty(); });
      next = std::move(pending_.front());
      pending_.pop_front();
    }
    const auto& [origin, lookup] = next;
    const std::string scheme = origin.substr(0, origin.find(':'));
    char** proxies = factory != nullptr ? px_proxy_factory_get_proxies(factory, origin.c_str()) : nullptr;
    const auto usable = usableChoice(proxies);
    px_proxy_factory_free_proxies(proxies);
    const ProxyChoice choice = usable.value_or(environmentChoice(scheme));
    if (lookup->settle(choice)) {
      outputLine(QStringLiteral("ProxyResolver: %1 goes %2%3")
                     .arg(QString::fromStdString(origin), QString::fromStdString(choice.describe()),
                          usable ? QString() : QStringLiteral(" (the desktop gave no usable answer)")));
    } else {
      // Too late for the requests that were waiting; the next ones take it.
      std::lock_guard lk(mutex_);
      auto replacement = std::make_shared<ProxyLookup>();
      replacement->settle(choice);
      kept_[origin] = std::move(replacement);
    }
  }
}

std::optional<std::string> originOf(std::string_view url) {
  UrlHandle handle;
  if (!handle.set(url)) return std::nullopt;
  auto scheme = handle.get(CURLUPART_SCHEME);
  auto host = handle.get(CURLUPART_HOST);
  auto port = handle.get(CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || !port || host->empty()) return std::nullopt;
  return lowered(*scheme) + "://" + lowered(*host) + ":" + *port + "/";
}

std::optional<std::string> resolvedLocation(std::string_view base, std::string_view location) {
  UrlHandle handle;
  if (!handle.set(base) || !handle.set(location)) return std::nullopt;
  return handle.get(CURLUPART_URL);
}

std::string withoutLogin(std::string_view proxy, std::string* user, std::string* password) {
  UrlHandle handle;
  // A proxy without a scheme is an http one, to libcurl as to libproxy.
  if (!handle.set(proxy, CURLU_GUESS_SCHEME)) return {};
  if (user != nullptr) *user = handle.get(CURLUPART_USER, CURLU_URLDECODE).value_or(std::string());
  if (password != nullptr)
    *password = handle.get(CURLUPART_PASSWORD, CURLU_URLDECODE).value_or(std::string());
  handle.clear(CURLUPART_USER);
  handle.clear(CURLUPART_PASSWORD);
  const auto scheme = handle.get(CURLUPART_SCHEME);
  const auto host = handle.get(CURLUPART_HOST);
  if (!scheme || !host || host->empty()) return {};
  const auto port = handle.get(CURLUPART_PORT);
  return lowered(*scheme) + "://" + *host + (port ? ":" + *port : std::string());
}

}  // namespace ov::curl
