#include <QFileInfo>
#include <QLocale>
#include <QUuid>

#include "engine/OVDownloadMgr.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/FileOps.h"
#include "platform/NotificationCenter.h"
#include "platform/ThreadCheck.h"
#include "platform/Utility.h"
#include "service/Identity.h"
#include "service/StatusReport.h"

namespace ov {

namespace {

constexpr std::int64_t kRequiredFreeSpace = 1'048'576'000;  // 1000 MiB, whatever the installer's size
// Beside the installer, whose whole size is reserved before the first part
// arrives, the parts of the requests in flight wait to be appended.
constexpr std::int64_t kRoomForParts = 10 * kChunkLength;

// The link comes from the service and is fetched as is: only an https URL
// with a host is acceptable (a "file:" or "ftp:" link may well contain "http").
bool isAcceptableLink(const QString& link) {
  const QUrl url(link, QUrl::StrictMode);
  return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

QString regionCode() {
  // The "C" locale names no region; the service then gets an empty text.
  const QLocale::Territory territory = QLocale::system().territory();
  return territory == QLocale::AnyTerritory ? QString() : QLocale::territoryToCode(territory);
}

}  // namespace

void OVDownloadMgr::failPreparation(ERROR_Code code) {
  notifyDelegate([code](DownloadProxy& delegate) { delegate.onDownloadFailed(code); });
}

void OVDownloadMgr::initDownloadMgr(const std::shared_ptr<DownloadProxy>& downloadProxyDelegate,
                                    const QString& product, const QString& sr, const QString& version,
                                    const QString& versionType) {
  OV_OFF_MAIN_THREAD();
  // The reports of an earlier attempt (a Retry's) read the fields rewritten
  // below: they go out first.
  sendReports([] {}, true);
  downloadDelegate.set(downloadProxyDelegate);
  this->sr = sr;
  this->product = product;
  this->version = version;
  this->versionType = versionType;

  resetDownload(DownloadReset::Preparation);

  language = getSystemLanguageCode();
  locale = regionCode();
  const auto shortVersion = Bundle::main().infoString(QStringLiteral("CFBundleShortVersionString"));
  const auto buildNumber = Bundle::main().infoString(QStringLiteral("CFBundleVersion"));
  if (shortVersion && buildNumber) vid = *shortVersion + u'.' + *buildNumber;

  if (!Connectivity::isConnectedToInternet()) return failPreparation(ERROR_Code::E_NO_CONNECTION);

  const QString link = queryDownLoadURL();
  sourceUrl = link;
  if (link.isEmpty()) {
    return failPreparation(queryDownloadURLErrorID == ERR_ID_Query_Download_URL::EQDU_NEED_UPDATE
                               ? ERROR_Code::E_NEED_UPDATE
                               : ERROR_Code::E_SERVER_ERROR);
  }
  if (!isAcceptableLink(link)) return failPreparation(ERROR_Code::E_SERVER_ERROR);

  // An empty location means the link names no plain file (a server error) or
  // the application-support folder cannot be made (a disk problem).
  const QUrl saveLocation = getSaveFileUrl(link);
  if (saveLocation.isEmpty()) {
    return failPreparation(saveNameFromLink(link) ? ERROR_Code::E_LOW_DISK_SPACE
                                                  : ERROR_Code::E_SERVER_ERROR);
  }
  fileUrl = saveLocation;

  heartbeatsTime = queryHeartbeatTime();

  // A size that is missing, zero or negative plans no chunk: the server has
  // not said what it would send.
  if (!getBuildInfo(link) || i64FileSize.load() <= 0) return failPreparation(ERROR_Code::E_SERVER_ERROR);

  if (!hasRoomForInstaller()) return failPreparation(ERROR_Code::E_LOW_DISK_SPACE);

  totalFileSize = static_cast<double>(i64FileSize.load());
  szTokenID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
  szUUID = getUUID();

  sendReports([this] {
    sendLog_UpdateInfo();
    sendLog_UpdateStatus(statusName(STATUS_ID::SI_LAUNCH), QString(), QString());
  });
  postToMain([] { NotificationCenter::defaultCenter().post(ReadyToDownload); });
}

bool OVDownloadMgr::hasRoomForInstaller(std::int64_t reclaimable) {
  const QString saveFolder = QFileInfo(fileUrl->toLocalFile()).absolutePath();
  // No answer about the free space is treated like too little: better a clear
  // dialog now than a disk that fills up halfway (a Retry of that could never
  // succeed).
  const auto freeSpace = DiskSpaceUtility::getFreeDiskspace(saveFolder);
  if (!freeSpace || *freeSpace <= kRequiredFreeSpace) return false;
  return *freeSpace + reclaimable - i64FileSize.load() >= kRoomForParts;
}

std::optional<ERROR_Code> OVDownloadMgr::renewLinkAndSize() {
  OV_OFF_MAIN_THREAD();
  const QString link = queryDownLoadURL();
  if (link.isEmpty() && queryDownloadURLErrorID == ERR_ID_Query_Download_URL::EQDU_NEED_UPDATE)
    return ERROR_Code::E_NEED_UPDATE;
  if (!isAcceptableLink(link)) return ERROR_Code::E_DOWNLOAD_FAILED;
  {
    std::unique_lock lk(lock);
    sourceUrl = link;
  }
  const std::int64_t before = i64FileSize.load();
  // Only what this probe says counts: a tag the server no longer sends is no tag.
  szETag.clear();
  if (!getBuildInfo(link) || i64FileSize.load() <= 0) return ERROR_Code::E_DOWNLOAD_FAILED;
  // The installer that was being put together goes first when it is another one.
  if (i64FileSize.load() != before &&
      !hasRoomForInstaller(regularFileSize(fileUrl->toLocalFile()).value_or(0)))
    return ERROR_Code::E_LOW_DISK_SPACE;
  totalFileSize = static_cast<double>(i64FileSize.load());
  return std::nullopt;
}

}  // namespace ov
