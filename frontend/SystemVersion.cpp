#include "frontend/SystemVersion.h"

#include <QOperatingSystemVersion>
#include <mutex>

namespace ov {
namespace {

std::mutex seamMutex;
std::function<std::optional<SystemVersion>()> testVersion;

}  // namespace

std::optional<SystemVersion> runningMacOSVersion() {
  {
    std::lock_guard lk(seamMutex);
    if (testVersion) return testVersion();
  }
  const QOperatingSystemVersion current = QOperatingSystemVersion::current();
  if (current.type() != QOperatingSystemVersion::MacOS) return std::nullopt;
  return SystemVersion{current.majorVersion(), std::max(current.minorVersion(), 0),
                       std::max(current.microVersion(), 0)};
}

bool isModernSystem(const std::optional<SystemVersion>& version) {
  return !version || *version >= kMinimumModernSystem;
}

void setMacOSVersionForTesting(std::function<std::optional<SystemVersion>()> version) {
  std::lock_guard lk(seamMutex);
  testVersion = std::move(version);
}

}  // namespace ov
