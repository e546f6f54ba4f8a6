#include "frontend/SystemVersion.h"

#include <QOperatingSystemVersion>
#include <mutex>

#include "platform/Log.h"

namespace ov {
namespace {

// Products that refuse to run on a system older than 10.14 (case-sensitive).
const QString kModernOnlyProduct = QStringLiteral("BrindleCutter");

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

bool productRefusesThisSystem(const QString& product) {
  if (isModernSystem(runningMacOSVersion())) {
    outputLine(QStringLiteral("MacOS is 10.14 or above"));
    return false;
  }
  outputLine(QStringLiteral("MacOS is 10.13"));
  return product.contains(kModernOnlyProduct, Qt::CaseSensitive);
}

void setMacOSVersionForTesting(std::function<std::optional<SystemVersion>()> version) {
  std::lock_guard lk(seamMutex);
  testVersion = std::move(version);
}

}  // namespace ov
