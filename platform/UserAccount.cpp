#include "platform/UserAccount.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace ov {

QString loginName() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return QString::fromLocal8Bit(found->pw_name);
  return qEnvironmentVariable("USER");
}

}  // namespace ov
