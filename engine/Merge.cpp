#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "engine/OVDownloadMgr.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "platform/Utility.h"

namespace ov {

namespace {

// File systems limit a name to 255 bytes.
constexpr qsizetype kLongestName = 255;
// Folders "1", "2", ... tried when something that cannot be removed stands at the save location.
constexpr int kFreshFolders = 9;

// Characters a name shown to the user must not hold: control characters
// (line breaks among them) and format characters such as the bidirectional
// overrides that make "Setup\u202Egkp.exe" read as "Setupexe.pkg".
bool isHiddenTrick(QChar c) {
  return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
         c == QChar::ReplacementCharacter;
}

}  // namespace

std::optional<QString> OVDownloadMgr::saveNameFromLink(const QString& link) {
  const QUrl url(link);
  if (!url.isValid()) return std::nullopt;
  // Split the encoded path, then decode: "%2F" must not hide a folder change.
  const QString encodedPath = url.path(QUrl::FullyEncoded);
  const QString name = QUrl::fromPercentEncoding(encodedPath.section(u'/', -1).toUtf8());
  // A leading dot would hide the installer from the user (and "." and ".." are no files).
  if (name.isEmpty() || name.startsWith(u'.') || name.toUtf8().size() > kLongestName) return std::nullopt;
  for (const QChar c : name)
    if (c == u'/' || c == u'\\' || isHiddenTrick(c)) return std::nullopt;
  return name;
}

QUrl OVDownloadMgr::getSaveFileUrl(const QString& fileName) {
  const QString folder = QDir::cleanPath(getApplicationSupportDirectory(true).toLocalFile());
  QString error;
  // Private: the state kept beside the parts may hold a signed link.
  if (!createDirectory(QFileInfo(folder).path(), true) || !makePrivateFolder(folder, error)) {
    outputLine(QStringLiteral("OVDownloadMgr::getSaveFileUrl(), ") + error);
    return QUrl();
  }
  const auto name = saveNameFromLink(fileName);
  if (!name) return QUrl();
  // Nothing that stands at the installer's place is followed or kept: a link
  // goes (never what it points to), and so does a folder. What cannot be
  // removed is left alone, and the installer is put together in a folder of
  // its own instead, under the same name.
  QString place = QDir(folder).filePath(*name);
  for (int n = 1; !clearWayForFile(place, error); ++n) {
    outputLine(QStringLiteral("OVDownloadMgr::getSaveFileUrl(), ") + error);
    const QString fresh = QDir(folder).filePath(QString::number(n));
    if (n > kFreshFolders || !makePrivateFolder(fresh, error)) return QUrl();
    place = QDir(fresh).filePath(*name);
  }
  QUrl location = QUrl::fromLocalFile(place);
  systemLog(QStringLiteral("[OVDownloader]getSaveFileUrl() done, downloadFileURL : ") +
            location.toString(QUrl::FullyEncoded));
  return location;
}

QString OVDownloadMgr::partFilePath(const QUrl& localPath, std::int64_t partIndex) const {
  const auto [directory, filenameOnly, ext] = splitFilename(localPath);
  return directory + u'/' + filenameOnly + QStringLiteral("_TempFiles/") + filenameOnly + u'.' + ext + u'.' +
         QString::number(partIndex);
}

QString OVDownloadMgr::tempFolderPath() const {
  const auto [directory, filenameOnly, ext] = splitFilename(*fileUrl);
  return directory + u'/' + filenameOnly + QStringLiteral("_TempFiles/");
}

QString OVDownloadMgr::statePath() const {
  const auto [directory, filenameOnly, ext] = splitFilename(*fileUrl);
  return tempFolderPath() + filenameOnly + u'.' + ext + QStringLiteral(".state");
}

bool OVDownloadMgr::mergeChunkedFiles() {
  OV_OFF_MAIN_THREAD();
  if (bCancel) return false;
  // The parts were appended as they arrived; what is left is the last of them
  // and the flush to disk, so that a power loss after the hand-off cannot
  // leave a hole in the installer.
  QString error;
  const InstallerAssembly::Outcome outcome = assembly_.finish(error);
  if (outcome == InstallerAssembly::Outcome::DigestMismatch) {
    outputLine(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), ") + error);
    bCancel = true;
    failSizeCheck();
    return false;
  }
  if (outcome == InstallerAssembly::Outcome::Failed) {
    logMergeFailure(error);
    // A cancel during the merge removes the parts under it; the user who chose
    // to stop gets no failure dialog for that.
    if (!bCancel)
      notifyDelegate(
          [](DownloadProxy& delegate) { delegate.onDownloadFailed(ERROR_Code::E_DOWNLOAD_FAILED); });
    discardPartialDownload();
    return false;
  }
  // The merge's share comes in one step, now that it is done: the whole, 1.0.
  const double progress = doDownloadTaskRatio + mergeDownloadTaskRatio;
  outputLine(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: ") +
             QString::number(progress, 'f', 1));
  notifyDelegate([progress](DownloadProxy& delegate) { delegate.onDownloadProgress(progress); });
  runOnMainAndWait([this] { stopTimers(); });
  removeTempFiles();
  return true;
}

void OVDownloadMgr::logMergeFailure(const QString& error) {
  outputLine(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), error when merging parted files!!"));
  outputLine(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), ") + error);
}

void OVDownloadMgr::removeTempFiles() {
  if (!fileUrl) return;
  const QString folder = tempFolderPath();
  if (entryKind(QDir::cleanPath(folder)) == EntryKind::None) return;
  QString error;
  if (!removeTree(QDir::cleanPath(folder), error))
    outputLine(QStringLiteral("OVDownloadMgr::removeTempFiles(), ") + error);
}

void OVDownloadMgr::discardPartialDownload() {
  assembly_.close();
  removeTempFiles();
  if (fileUrl && entryKind(fileUrl->toLocalFile()) == EntryKind::RegularFile)
    QFile::remove(fileUrl->toLocalFile());
}

}  // namespace ov
