#include <chrono>
#include <mutex>

#include "platform/DesktopShell.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"

namespace ov {

namespace {

std::mutex hookMutex;
std::function<void()> cleanupHook;

}  // namespace

void setCleanupBeforeExit(std::function<void()> cleanup) {
  std::lock_guard lk(hookMutex);
  cleanupHook = std::move(cleanup);
}

void terminateOVDownloader(const std::any& sender) {
  // The toolkit's terminate request carries no sender; the application
  // delegate does not look at it.
  static_cast<void>(sender);
  toolkit().setTerminating();
  std::function<void()> cleanup;
  {
    std::lock_guard lk(hookMutex);
    cleanup = cleanupHook;
  }
  if (cleanup) cleanup();
  // The dock's last word (progress hidden) and a notification of the outcome
  // would die with the process in their queue.
  DesktopShell::flushAll(std::chrono::seconds(1));
  toolkit().terminate();
}

}  // namespace ov
