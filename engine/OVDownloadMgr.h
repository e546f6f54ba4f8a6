#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <tuple>
#include <vector>

#include "engine/DownloadModel.h"
#include "platform/Dispatch.h"
#include "platform/HttpClient.h"
#include "platform/RepeatingTimer.h"

// The download manager: one shared instance holding the whole state of a
// download. Its operations are split by stage over engine/ (preparation,
// transfer rounds, progress, merge, pause/resume/cancel, completion) and
// service/ (what it says to the download service).
class OVDownloadMgr {
 public:
  // The one manager, created on first use (thread-safely) and never destroyed.
  static OVDownloadMgr& shared();

  // A separate manager for tests; production code uses shared() only.
  static std::unique_ptr<OVDownloadMgr> makeForTesting();
  ~OVDownloadMgr();

  OVDownloadMgr(const OVDownloadMgr&) = delete;
  OVDownloadMgr& operator=(const OVDownloadMgr&) = delete;

  // --- State, in declaration order -------------------------------------------
  std::atomic<bool> bCancel{false};
  std::atomic<bool> bPause{false};
  double totalFileSize = 0;
  std::weak_ptr<DownloadProxy> downloadDelegate;
  std::atomic<int> taskFailCount{0};
  std::vector<DownloadTask> lstTasks;  // guarded by `lock` wherever another thread may change it
  std::atomic<int> handledTaskInARound{0};
  std::atomic<int> tasksCountInCurrentRound{10};
  std::atomic<std::int64_t> currentReceivedSize{0};  // added to under `lock`
  const std::shared_ptr<ov::DispatchQueue> downloadTaskQueue;
  std::optional<QString> sourceUrl;
  std::optional<QUrl> fileUrl;
  std::atomic<std::int64_t> i64FileSize{0};
  std::int64_t dataChuckCount = 0;
  std::vector<double> listProgress;  // main thread only
  std::shared_ptr<ov::RepeatingTimer> progressTimer;
  const double progressTimerInterval = 0.3;
  const double doDownloadTaskRatio = 0.98;
  const double mergeDownloadTaskRatio = 0.02;
  std::vector<std::shared_ptr<ov::DownloadRequest>> listDLRequest;  // main thread only
  std::optional<QString> product;
  std::optional<QString> displayProductName;
  std::optional<QString> version;
  std::optional<QString> versionType;
  std::optional<QString> sr;
  std::optional<QString> locale;
  std::optional<QString> language;
  QString vid = QStringLiteral("1.0.0.1312");
  QString platform = QStringLiteral("x64");
  QString ostype = QStringLiteral("Mac");
  const int defaultHeartBeats = 30;
  std::optional<std::int64_t> heartbeatsTime;
  std::shared_ptr<ov::RepeatingTimer> heartbeatsTimer;
  QString szETag;
  std::optional<QString> szTokenID;
  std::optional<QString> szUUID;
  std::atomic<double> downloadDuration{0};
  double previousDownloadDuration = 0;
  std::optional<QDateTime> previousStartTime;
  std::optional<ERR_ID_Query_Download_URL> queryDownloadURLErrorID;
  std::optional<QString> newDownloaderURL;
  std::shared_mutex lock;

  // --- Preparation -----------------------------------------------------------
  // Blocks its (background) thread while the service calls run; the outcome
  // arrives on the main queue as ReadyToDownload or one onDownloadFailed().
  void initDownloadMgr(const std::shared_ptr<DownloadProxy>& downloadProxyDelegate, const QString& product,
                       const QString& sr, const QString& version, const QString& versionType);

  // --- Transfer rounds -------------------------------------------------------
  void DownloadFile();
  void onUpdateProgress();
  void onHeartbeatTimer();
  void processTasks();
  static std::tuple<QString, QString, QString> splitFilename(const QUrl& url);  // (directory, filenameOnly, ext)
  void doDownload(const DownloadTask& task);
  void checkTasksStatus();

  // --- Merge and temporary files ---------------------------------------------
  void mergeChunkedFiles();
  void removeTempFiles();
  // Throws std::system_error with the file-system error that stopped it.
  void merge(const std::vector<QUrl>& files, const QUrl& to, std::int64_t chunkSize);
  QUrl getSaveFileUrl(const QString& fileName);

  // --- Pause, resume, cancel -------------------------------------------------
  void CancelDownload(bool bSendCancelLog = true, std::function<void()> sendCancelLog_CompletionHandler = nullptr);
  bool isCancelTask() const { return bCancel.load(); }
  void PauseDownload();
  void ResumeDownload();
  bool isPauseTask() const { return bPause.load(); }

  // --- Completion ------------------------------------------------------------
  QString getDownloadedFileLocation();
  std::int64_t getDownloadedFileSize() const { return i64FileSize.load(); }
  std::optional<QString> getNewDownloaderURL() const { return newDownloaderURL; }
  void completeDownload();
  bool verifyInstallerSize();
  void moveInstallerToDownloads();
  void runInstaller();

  // --- Service ---------------------------------------------------------------
  QString queryDownLoadURL();
  std::int64_t queryHeartbeatTime();
  void sendLog_UpdateInfo();
  void sendLog_UpdateStatus(const QString& strStatus, const QString& strDetailStatus, const QString& strCancelReason);
  void sendLog_UpdateSize();
  bool getBuildInfo(const QString& sourceUrl);

  // --- Progress and duration -------------------------------------------------
  double getCurrentDownloadDuration();

  // The session every chunk request goes through, built on first use.
  std::shared_ptr<ov::DownloadSession> downloadSession();

  // Tests shorten the chunk session's time-outs before the first chunk request.
  ov::DownloadSessionConfiguration downloadSessionConfiguration;

 private:
  OVDownloadMgr();

  std::shared_ptr<ov::DownloadSession> alamoFireDownloadSession;
  std::mutex sessionMutex_;
};
