#pragma once

#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <any>
#include <cstdint>
#include <functional>
#include <optional>

namespace ov {

// Folders, disk space, reachability, the keep-awake assertion and the orderly exit.

// The per-user application-support folder ($XDG_DATA_HOME on Linux, created when
// missing), with the bundle identifier appended when `withBundleName` is set
// (kFallbackBundleIdentifier when the bundle names none, or names no plain
// folder). Falls back silently to ~/Library/Application Support/<name> when the
// platform gives no folder. A folder URL: its path ends in "/".
QUrl getApplicationSupportDirectory(bool withBundleName);

// True when something (file or folder) exists at the path afterwards or already did.
bool createDirectory(const QString& atPath, bool withIntermediateDirectories,
                     const std::optional<QVariantMap>& attributes = std::nullopt);

class DiskSpaceUtility {
 public:
  // Free bytes of the volume that holds `path`; nothing when unknown
  // ("Error Obtaining System Memory Info:" is printed when unreadable).
  static std::optional<std::int64_t> getFreeDiskspace(const QString& path);

  // Tests answer for the volume; an empty function restores the real query.
  static void setFreeSpaceForTesting(std::function<std::optional<std::int64_t>(const QString&)> answer);
};

class Connectivity {
 public:
  // Whether the machine has a route to the internet at all (no particular
  // host): a default route, read afresh from the kernel at every call (see
  // platform/Reachability.h). Any thread; never waits.
  static bool isConnectedToInternet();
  static void setReachabilityForTesting(std::function<bool()> answer);
};

// The keep-awake assertion, held while a transfer runs.
extern std::uint32_t noSleepAssertionID;
extern std::optional<std::int32_t> noSleepReturn;
// Acquire and release may run on different threads; each is one atomic step.
void acquireNoSleepAssertion();  // no-op while one is held
void releaseNoSleepAssertion();  // no-op when none is held

// Tests observe the assertion without a session bus.
struct NoSleepBackend {
  std::function<std::int32_t(std::uint32_t& id)> create;  // returns a status code, 0 for success
  std::function<void(std::uint32_t id)> release;
};
void setNoSleepBackendForTesting(std::optional<NoSleepBackend> backend);

// Marks the application as terminating, runs the clean-up registered below
// (the download's temporary files) and asks the application to quit. Main thread.
void terminateOVDownloader(const std::any& sender = {});

// What terminateOVDownloader() removes on the way out; the download manager
// registers it. Any thread.
void setCleanupBeforeExit(std::function<void()> cleanup);

}  // namespace ov
