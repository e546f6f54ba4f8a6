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

void ProxyLogins::refused(const std::string& proxy, std::uint64_t generation,
                          std::function<void(bool)> then) {
  enum class Next { TryTheNewerLogin, Wait, GiveUp, Ask } next = Next::Wait;
  ProxyLoginSource source;
  ProxyLoginQuestion question;
  std::vector<std::function<void(bool)>> givenUp;
  {
    std::lock_guard lk(mutex_);
    State& state = proxies_[proxy];
    if (state.current.generation != generation) {
      // Another request asked meanwhile: its answer is this one's too.
      next = Next::TryTheNewerLogin;
    } else {
      state.waiting.push_back(std::move(then));
      if (!state.asking && (!source_ || state.questions >= kMostQuestions)) {
        next = Next::GiveUp;
        state.questions = 0;
        givenUp.swap(state.waiting);
      } else if (!state.asking) {
        next = Next::Ask;
        state.asking = true;
        ++state.questions;
        source = source_;
        question = {proxyForPeople(proxy), state.questions, state.current.user.has_value()};
      }
    }
  }
  switch (next) {
    case Next::TryTheNewerLogin:
      return then(true);
    case Next::Wait:
      return;
    case Next::GiveUp:
      for (auto& waiter : givenUp) waiter(false);
      return;
    case Next::Ask:
      break;
  }
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
  std::vector<std::function<void(bool)>> waiting;
  {
    std::lock_guard lk(mutex_);
    State& state = proxies_[proxy];
    state.asking = false;
    waiting.swap(state.waiting);
    if (login) {
      ++state.current.generation;
      state.current.user = login->user.toStdString();
      state.current.password = login->password.toStdString();
    } else {
      state.questions = 0;
    }
  }
  for (auto& waiter : waiting) waiter(login.has_value());
}

void ProxyLogins::accepted(const std::string& proxy, std::uint64_t generation) {
  std::lock_guard lk(mutex_);
  const auto found = proxies_.find(proxy);
  if (found != proxies_.end() && found->second.current.generation == generation) found->second.questions = 0;
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
