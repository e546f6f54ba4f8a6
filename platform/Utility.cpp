#include "platform/Utility.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <limits>
#include <mutex>
#include <vector>

#include "platform/Bundle.h"
#include "platform/DBusKeepAwake.h"
#include "platform/Log.h"

namespace ov {

namespace {

// The bundle identifier names a folder, so only a plain folder name will do;
// anything else would put the save location somewhere unexpected.
bool isUsableFolderName(const QString& name) {
  return !name.isEmpty() && name != QStringLiteral(".") && name != QStringLiteral("..") &&
         !name.contains(QLatin1Char('/'));
}

QString applicationSupportFolderName() {
  const std::optional<QString> identifier = Bundle::main().identifier();
  if (identifier && isUsableFolderName(*identifier)) return *identifier;
  return QString::fromLatin1(kFallbackBundleIdentifier);
}

// Folder URLs end in "/", so that resolving a file name against them stays inside.
QUrl folderUrl(const QString& path) {
  QString withSlash = QDir::cleanPath(path);
  if (!withSlash.endsWith(QLatin1Char('/'))) withSlash += QLatin1Char('/');
  return QUrl::fromLocalFile(withSlash);
}

std::optional<mode_t> requestedPermissions(const std::optional<QVariantMap>& attributes) {
  if (!attributes) return std::nullopt;
  for (const char* key : {"NSFilePosixPermissions", "posixPermissions"}) {
    const QVariant value = attributes->value(QString::fromLatin1(key));
    bool ok = false;
    const int permissions = value.toInt(&ok);
    if (value.isValid() && ok && permissions >= 0 && permissions <= 07777)
      return static_cast<mode_t>(permissions);
  }
  return std::nullopt;
}

// Creates one folder. Given permissions are applied exactly (not through the
// umask), as the file manager applies attributes.
bool makeFolder(const QString& path, std::optional<mode_t> permissions) {
  const QByteArray native = QFile::encodeName(path);
  if (::mkdir(native.constData(), 0777) != 0) return false;
  if (permissions) ::chmod(native.constData(), *permissions);
  return true;
}

struct DiskSpaceOverrides {
  std::mutex mutex;
  std::function<std::optional<std::int64_t>(const QString&)> freeSpace;
};

DiskSpaceOverrides& diskSpaceOverrides() {
  static DiskSpaceOverrides overrides;
  return overrides;
}

std::optional<struct statvfs> volumeOf(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  struct statvfs info {};
  if (::statvfs(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
  return info;
}

std::optional<std::int64_t> bytes(unsigned long long blocks, unsigned long long blockSize) {
  if (blockSize == 0) return std::nullopt;
  constexpr auto kMax = static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
  if (blocks > kMax / blockSize) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(blocks * blockSize);
}

}  // namespace

QUrl getApplicationSupportDirectory(bool withBundleName) {
  const QString name = withBundleName ? applicationSupportFolderName() : QString();
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (!base.isEmpty() && QDir().mkpath(base)) {
    return folderUrl(name.isEmpty() ? base : base + QLatin1Char('/') + name);
  }
  return folderUrl(QDir::homePath() + QStringLiteral("/Library/Application Support/") + name);
}

bool createDirectory(const QString& atPath, bool withIntermediateDirectories,
                     const std::optional<QVariantMap>& attributes) {
  if (atPath.isEmpty()) return false;
  if (QFileInfo::exists(atPath)) return true;
  const std::optional<mode_t> permissions = requestedPermissions(attributes);
  if (!withIntermediateDirectories) return makeFolder(atPath, permissions);

  // The missing folders, innermost first; the attributes apply to each of them.
  std::vector<QString> missing;
  for (QString path = QDir::cleanPath(QFileInfo(atPath).absoluteFilePath()); !QFileInfo::exists(path);
       path = QFileInfo(path).path()) {
    missing.push_back(path);
    if (QFileInfo(path).path() == path) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    // Another process may create the same folder at the same moment; what
    // counts is that a folder stands there afterwards.
    if (!makeFolder(*it, permissions) && !QFileInfo(*it).isDir()) return false;
  }
  return true;
}

std::optional<std::int64_t> DiskSpaceUtility::getFreeDiskspace(const QString& path) {
  {
    DiskSpaceOverrides& o = diskSpaceOverrides();
    std::lock_guard lk(o.mutex);
    if (o.freeSpace) return o.freeSpace(path);
  }
  const std::optional<struct statvfs> volume = volumeOf(path);
  if (!volume) {
    outputLine(QStringLiteral("Error Obtaining System Memory Info:"));
    return std::nullopt;
  }
  // The space an ordinary user may fill, not counting the blocks reserved for root.
  return bytes(volume->f_bavail, volume->f_frsize);
}

void DiskSpaceUtility::setFreeSpaceForTesting(
    std::function<std::optional<std::int64_t>(const QString&)> answer) {
  DiskSpaceOverrides& o = diskSpaceOverrides();
  std::lock_guard lk(o.mutex);
  o.freeSpace = std::move(answer);
}

// --- The keep-awake assertion ----------------------------------------------

std::uint32_t noSleepAssertionID = 0;
std::optional<std::int32_t> noSleepReturn;

namespace {

struct NoSleepState {
  // Acquire runs on a background queue at the start of a download while pause
  // and cancel release on the main thread; the check and the change of the two
  // variables must happen as one step, or an assertion could leak or be
  // released twice.
  std::mutex mutex;
  std::optional<NoSleepBackend> testBackend;
};

NoSleepState& noSleepState() {
  static NoSleepState s;
  return s;
}

NoSleepBackend currentBackend(NoSleepState& s) {
  return s.testBackend ? *s.testBackend : platformKeepAwakeBackend();
}

}  // namespace

void acquireNoSleepAssertion() {
  NoSleepState& s = noSleepState();
  std::lock_guard lk(s.mutex);
  if (noSleepReturn) return;
  const NoSleepBackend backend = currentBackend(s);
  noSleepReturn = backend.create ? backend.create(noSleepAssertionID) : -1;
}

void releaseNoSleepAssertion() {
  NoSleepState& s = noSleepState();
  std::lock_guard lk(s.mutex);
  if (!noSleepReturn) return;
  const NoSleepBackend backend = currentBackend(s);
  if (backend.release) backend.release(noSleepAssertionID);
  noSleepReturn.reset();
}

void setNoSleepBackendForTesting(std::optional<NoSleepBackend> backend) {
  NoSleepState& s = noSleepState();
  std::lock_guard lk(s.mutex);
  s.testBackend = std::move(backend);
}

}  // namespace ov
