#pragma once

#include <QString>
#include <mutex>
#include <optional>
#include <set>

#include "net/HttpClient.h"

namespace ov {

// The unattended mode's answer to a proxy that asks for a user name and
// password (407): OVDOWNLOADER_PROXY_USER and OVDOWNLOADER_PROXY_PASSWORD,
// read when a proxy first asks. Nobody is there to type another: without the
// two variables a proxy gets none, and a proxy that refused them gets none the
// next time it asks (the same ones would be refused again). Either way the
// run cannot go on, and failure() says why, naming the variables.
class ProxyLoginFromEnvironment {
 public:
  // A ProxyLoginSource (net/HttpClient.h); answers at once. Any thread.
  void answer(const ProxyLoginQuestion& question, const ProxyLoginAnswer& answer);

  // Any thread: why a proxy could not be passed, once one could not.
  std::optional<QString> failure() const;

 private:
  mutable std::mutex mutex_;
  std::set<QString> given_;  // the proxies that had the variables' login
  std::optional<QString> failure_;
};

}  // namespace ov
