#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "engine/OVDownloadMgr.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"
#include "service/StatusReport.h"

void OVDownloadMgr::completeDownload() {
  releaseNoSleepAssertion();
  if (!verifyInstallerSize()) {
    notifyDelegate(
        [](DownloadProxy& delegate) { delegate.onDownloadFailed(ERROR_Code::E_SIZE_CHECK_FAILED); });
    return;
  }
  moveInstallerToDownloads();
  ov::systemLog(QStringLiteral("[OVDownloader]Download complete"));
  {
    // The reports never need the main thread, so waiting here cannot deadlock.
    ov::Semaphore reported(0);
    ov::globalUtilityQueue().async([this, &reported] {
      sendLog_UpdateStatus(statusName(STATUS_ID::SI_COMPLETE), statusName(STATUS_ID::SI_COMPLETE), QString());
      sendLog_UpdateSize();
      reported.signal();
    });
    reported.wait();
  }
  if (auto delegate = downloadDelegate.lock()) delegate->onFileCompleteDownload();
  runInstaller();
}

bool OVDownloadMgr::verifyInstallerSize() {
  // No merged file at all is a size that cannot match.
  const QFileInfo merged(fileUrl ? fileUrl->toLocalFile() : QString());
  const bool matches = merged.isFile() && i64FileSize.load() >= 0 && merged.size() == i64FileSize.load();
  if (matches) return true;
  ov::globalUtilityQueue().async([this, work = beginAsyncWork()] {
    sendLog_UpdateStatus(statusName(STATUS_ID::SI_MD5FAILED), QString(), QString());
  });
  return false;
}

void OVDownloadMgr::moveInstallerToDownloads() {
  const QString merged = fileUrl ? fileUrl->toLocalFile() : QString();
  installerPath_ = merged;
  auto keepWhereItIs = [&] {
    ov::outputLine(QStringLiteral("Move the downloaded pkg to Downloads folder failed!"));
    ov::outputLine(QStringLiteral("The installer stays at ") + merged);
  };
  const QString destination = getDownloadedFileLocation();
  if (destination.isEmpty()) return keepWhereItIs();
  const QFileInfo existing(destination);
  if (existing.exists() || existing.isSymLink()) {
    const bool removed = existing.isDir() && !existing.isSymLink() ? QDir(destination).removeRecursively()
                                                                   : QFile::remove(destination);
    if (!removed) return keepWhereItIs();
  }
  // QFile::rename copies when the Downloads folder is on another volume.
  if (!QFile::rename(merged, getDownloadedFileLocation())) return keepWhereItIs();
  installerPath_ = destination;
}

QString OVDownloadMgr::getDownloadedFileLocation() {
  const QString name = fileUrl ? QFileInfo(fileUrl->toLocalFile()).fileName() : QString();
  if (name.isEmpty()) return QString();
  const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  if (downloads.isEmpty() || !QDir().mkpath(downloads)) {
    ov::outputLine(QStringLiteral("get download path failed."));
    return QString();
  }
  // The installer keeps the name it was saved under (no dot is added to a
  // name without extension).
  return QDir(downloads).filePath(name);
}

void OVDownloadMgr::runInstaller() {
  const QString installer = installerPath_.isEmpty() ? getDownloadedFileLocation() : installerPath_;
  if (ov::toolkit().openWithDefaultHandler(QUrl::fromLocalFile(installer))) {
    ov::Semaphore reported(0);
    ov::globalUtilityQueue().async([this, &reported] {
      sendLog_UpdateStatus(statusName(STATUS_ID::SI_COMPLETE), statusName(STATUS_ID::SI_INSTALL), QString());
      reported.signal();
    });
    reported.wait();
  } else {
    ov::outputLine(QStringLiteral("Failed to launch the downloaded installer."));
  }
  terminateOVDownloader(this);
}
