#include "unattended/ProxyLoginFromEnvironment.h"

namespace ov {

void ProxyLoginFromEnvironment::answer(const ProxyLoginQuestion& question, const ProxyLoginAnswer& answer) {
  std::optional<ProxyLogin> login;
  {
    std::lock_guard lk(mutex_);
    const bool set = !qEnvironmentVariable("OVDOWNLOADER_PROXY_USER").isEmpty() &&
                     qEnvironmentVariableIsSet("OVDOWNLOADER_PROXY_PASSWORD");
    if (!set) {
      failure_ = QStringLiteral(
                     "the proxy %1 asks for a user name and password: set OVDOWNLOADER_PROXY_USER and "
                     "OVDOWNLOADER_PROXY_PASSWORD")
                     .arg(question.proxy);
    } else if (given_.contains(question.proxy)) {
      failure_ = QStringLiteral(
                     "the proxy %1 refused the user name and password of OVDOWNLOADER_PROXY_USER and "
                     "OVDOWNLOADER_PROXY_PASSWORD")
                     .arg(question.proxy);
    } else {
      given_.insert(question.proxy);
      login = ProxyLogin{qEnvironmentVariable("OVDOWNLOADER_PROXY_USER"),
                         qEnvironmentVariable("OVDOWNLOADER_PROXY_PASSWORD")};
    }
  }
  answer(std::move(login));
}

std::optional<QString> ProxyLoginFromEnvironment::failure() const {
  std::lock_guard lk(mutex_);
  return failure_;
}

}  // namespace ov
