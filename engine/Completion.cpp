#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "engine/OVDownloadMgr.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"
#include "service/StatusReport.h"

namespace ov {

namespace {

// Where the installer may go in Downloads: its own name, unless something
// that is not a regular file stands there (a folder, a link, ...), which is
// never removed; then the next free name in the usual desktop form,
// "Setup (1).pkg", "Setup (2).pkg", ... Empty when none is free.
QString freeNameFor(const QString& destination) {
  if (entryKind(destination) != EntryKind::Other) return destination;
  const QFileInfo info(destination);
  const QString name = info.fileName();
  const qsizetype dot = name.lastIndexOf(u'.');
  const QString base = dot > 0 ? name.left(dot) : name;
  const QString extension = dot > 0 ? name.mid(dot) : QString();
  for (int n = 1; n < 1000; ++n) {
    QString candidate = info.dir().filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(extension));
    if (entryKind(candidate) == EntryKind::None) return candidate;
  }
  return QString();
}

}  // namespace

void OVDownloadMgr::completeDownload() {
  OV_ON_MAIN_THREAD();
  releaseNoSleepAssertion();
  installerPath_.reset();
  // Checked before the move, so that a wrong file never replaces the user's
  // older one; and after it, at the only place from which it is ever opened.
  // Whatever the move put in Downloads passed the check and stays: a file
  // removed there could be the one that replaced the user's.
  auto fail = [this] {
    discardPartialDownload();
    notifyDelegate(
        [](DownloadProxy& delegate) { delegate.onDownloadFailed(ERROR_Code::E_SIZE_CHECK_FAILED); });
  };
  if (!verifyInstallerSize()) return fail();
  moveInstallerToDownloads();
  if (!verifyInstallerSize()) return fail();
  systemLog(QStringLiteral("[OVDownloader]Download complete"));
  const bool reported = sendReports(
      [this] {
        sendLog_UpdateStatus(statusName(STATUS_ID::SI_COMPLETE), statusName(STATUS_ID::SI_COMPLETE),
                             QString());
        sendLog_UpdateSize();
      },
      true);
  // A termination signal came while the service was slow: the exit it asks
  // for takes over, and nothing is opened on the way out.
  if (!reported) return;
  if (auto delegate = downloadDelegate.lock()) delegate->onFileCompleteDownload();
  runInstaller();
}

bool OVDownloadMgr::verifyInstallerSize() {
  // Before the move, the assembled file; after it, the file at its final place
  // (an empty path: the move failed, and no installer is anywhere).
  const QString installer = installerPath_ ? *installerPath_ : fileUrl ? fileUrl->toLocalFile() : QString();
  const auto size = installer.isEmpty() ? std::nullopt : regularFileSize(installer);
  if (size && i64FileSize.load() >= 0 && *size == i64FileSize.load()) return true;
  sendReports([this] { sendLog_UpdateStatus(statusName(STATUS_ID::SI_MD5FAILED), QString(), QString()); });
  return false;
}

void OVDownloadMgr::moveInstallerToDownloads() {
  OV_ON_MAIN_THREAD();
  installerPath_ = QString();
  const QString destination = getDownloadedFileLocation();
  const QString target = destination.isEmpty() ? QString() : freeNameFor(destination);
  QString error = QStringLiteral("no free name in Downloads");
  // Across volumes the copy is checked before it replaces anything.
  const auto announcedSize = [size = i64FileSize.load()](const QString& file) {
    return regularFileSize(file) == size;
  };
  if (target.isEmpty() || !moveFile(fileUrl->toLocalFile(), target, announcedSize, error)) {
    outputLine(QStringLiteral("Move the downloaded pkg to Downloads folder failed!"));
    outputLine(error);
    return;
  }
  installerPath_ = target;
}

QString OVDownloadMgr::getDownloadedFileLocation() {
  const QString name = fileUrl ? QFileInfo(fileUrl->toLocalFile()).fileName() : QString();
  if (name.isEmpty()) return QString();
  const QString downloads = delivery.folder.isEmpty()
                                ? QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)
                                : delivery.folder;
  if (downloads.isEmpty() || !QDir().mkpath(downloads)) {
    outputLine(QStringLiteral("get download path failed."));
    return QString();
  }
  // The installer keeps the name it was saved under (no dot is added to a
  // name without extension).
  return QDir(downloads).filePath(name);
}

void OVDownloadMgr::runInstaller() {
  OV_ON_MAIN_THREAD();
  // Only the verified installer at its final place is ever opened.
  const QString installer = installerPath_.value_or(QString());
  if (!delivery.openInstaller) {
    // Delivered as asked, not opened: nothing was installed, and nothing is reported as such.
  } else if (!installer.isEmpty() && toolkit().openWithDefaultHandler(QUrl::fromLocalFile(installer))) {
    sendReports(
        [this] {
          sendLog_UpdateStatus(statusName(STATUS_ID::SI_COMPLETE), statusName(STATUS_ID::SI_INSTALL),
                               QString());
        },
        true);
  } else {
    outputLine(QStringLiteral("Failed to launch the downloaded installer."));
  }
  terminateOVDownloader(this);
}

}  // namespace ov
