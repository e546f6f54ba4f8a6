#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/HttpClient.h"

namespace ov::curl {

// The user names and passwords of the proxies that asked for one (407), for
// the life of the process, and the one question at a time to whoever answers
// for them (setProxyLoginSource()). Kept in memory only: never written to a
// file or a log line.
//
// Every member may be called on any thread and returns at once; the source
// is asked on the global utility queue, never on the caller's thread.
class ProxyLogins {
 public:
  static ProxyLogins& shared();

  // A login for a proxy, in libcurl's terms (UTF-8), and its generation: a
  // new login for the proxy gets a higher one. Generation 0 is "none yet"
  // (or only the desktop's, from the proxy's URL).
  struct Current {
    std::uint64_t generation = 0;
    std::optional<std::string> user;
    std::optional<std::string> password;
  };
  Current current(const std::string& proxy);

  void setSource(ProxyLoginSource source);

  // The login the desktop's settings give for `proxy`, used until it is refused.
  void offer(const std::string& proxy, std::string user, std::string password);

  // `proxy` refused an attempt made with the login of `generation`.
  // `then` runs with the login to try next once there is one (at once when
  // one came meanwhile), and with none when there will be none: the source gave
  // none, or refused logins have been asked for kMostQuestions times in a
  // row. Whatever number of requests are refused meanwhile (or were under
  // way when the answer came), the source is asked once. `then` runs on any
  // thread and must not block.
  using Then = std::function<void(std::optional<Current> next)>;
  void refused(const std::string& proxy, std::uint64_t generation, Then then);

  // An attempt with the login of `generation` got through: the questions
  // count from nothing again.
  void accepted(const std::string& proxy, std::uint64_t generation);

  // Forgets every login and question: tests that start proxies of their own.
  void forgetForTesting();

  static constexpr int kMostQuestions = 3;

 private:
  struct State {
    Current current;
    bool asking = false;
    int questions = 0;  // asked since the last login that got through
    std::vector<Then> waiting;
  };

  void answer(const std::string& proxy, std::optional<ProxyLogin> login);
  static void giveUp(State& state);

  std::mutex mutex_;
  std::map<std::string, State> proxies_;
  ProxyLoginSource source_;
};

// "host:port" of a proxy URL, for a person.
QString proxyForPeople(const std::string& proxy);

}  // namespace ov::curl
