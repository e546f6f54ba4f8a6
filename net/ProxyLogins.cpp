#include "net/ProxyLogins.h"

#include <memory>

#include "platform/Dispatch.h"
#include "platform/Log.h"

namespace ov::curl {

ProxyLogins& ProxyLogins::shared() {
  static auto* logins = new ProxyLogins;  // never destroyed: answers may arrive while the process ends
  return *logins;
}

ProxyLogins::Current ProxyLogins::current(const std::string& proxy) {
  std::lock_guard lk(mutex_);
  const auto found = proxies_.find(proxy);
  return found != proxies_.end() ? found->second.current : Current{};
}

void ProxyLogins::setSource(ProxyLoginSource source) {
  std::lock_guard lk(mutex_);
  source_ = std::move(source);
}

void ProxyLogins::offer(const std::string& proxy, std::string user, std::string password) {
  std::lock_guard lk(mutex_);
  Current& current = proxies_[proxy].current;
  if (current.user) return;
  current.user = std::move(user);
  current.password = std::move(password);
}

void ProxyLogins::refused(const std::string& proxy, std::uint64_t generation, Then then) {
  bool ask = false;
  ProxyLoginSource source;
  ProxyLoginQuestion question;
  // Told at once, outside the lock: `reply`, a login to try or none.
  std::vector<Then> toldAtOnce;
  std::optional<Current> reply;
  {
    std::lock_guard lk(mutex_);
    State& state = proxies_[proxy];
    if (state.current.generation != generation) {
      // Asked meanwhile by another request: its answer is this one's too,
      // a login to try or the end.
      if (state.current.user) reply = state.current;
      toldAtOnce.push_back(std::move(then));
    } else {
      state.waiting.push_back(std::move(then));
      if (!state.asking && (!source_ || state.questions >= kMostQuestions)) {
        giveUp(state);
        toldAtOnce.swap(state.waiting);
      } else if (!state.asking) {
        ask = true;
        state.asking = true;
        ++state.questions;
        source = source_;
        question = {proxyForPeople(proxy), state.questions, state.current.user.has_value()};
      }
    }
  }
  for (auto& waiter : toldAtOnce) waiter(reply);
  if (!ask) return;
  systemLog(
      QStringLiteral("[OVDownloader]The proxy %1 asks for a user name and password%2")
          .arg(question.proxy, question.refused ? QStringLiteral(" (it refused the last one)") : QString()));
  // The answer may come at once (the environment) or after a person typed
  // it; either way once, and never on the HTTP client's thread.
  auto answered = std::make_shared<std::once_flag>();
  globalUtilityQueue().async([this, source = std::move(source), question, proxy, answered] {
    source(question, [this, proxy, answered](std::optional<ProxyLogin> login) {
      std::call_once(*answered, [&] { answer(proxy, std::move(login)); });
    });
  });
}

void ProxyLogins::answer(const std::string& proxy, std::optional<ProxyLogin> login) {
  std::vector<Then> waiting;
  std::optional<Current> next;
  {
    std::lock_guard lk(mutex_);
    State& state = proxies_[proxy];
    state.asking = false;
    waiting.swap(state.waiting);
    if (login) {
      ++state.current.generation;
      state.current.user = login->user.toStdString();
      state.current.password = login->password.toStdString();
      next = state.current;
    } else {
      giveUp(state);
    }
  }
  for (auto& waiter : waiting) waiter(next);
}

// The requests refused so far fail; so do those refused later that set out
// before this (a new generation without a login tells them). A request that
// sets out afterwards starts the questions afresh.
void ProxyLogins::giveUp(State& state) {
  ++state.current.generation;
  state.current.user.reset();
  state.current.password.reset();
  state.questions = 0;
}

void ProxyLogins::accepted(const std::string& proxy, std::uint64_t generation) {
  std::lock_guard lk(mutex_);
  const auto found = proxies_.find(proxy);
  if (found != proxies_.end() && found->second.current.generation == generation) found->second.questions = 0;
}

void ProxyLogins::forgetForTesting() {
  std::lock_guard lk(mutex_);
  proxies_.clear();
}

QString proxyForPeople(const std::string& proxy) {
  const auto scheme = proxy.find("://");
  return QString::fromStdString(scheme == std::string::npos ? proxy : proxy.substr(scheme + 3));
}

}  // namespace ov::curl

namespace ov {

void setProxyLoginSource(ProxyLoginSource source) {
  curl::ProxyLogins::shared().setSource(std::move(source));
}

}  // namespace ov
