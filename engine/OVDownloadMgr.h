#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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
  WeakDelegate downloadDelegate;
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
  // Guards lstTasks with the count of received bytes, and the active-time
  // fields (previousStartTime, previousDownloadDuration) that size reports
  // read on other threads.
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
  // (directory, filenameOnly, ext) of a file URL.
  static std::tuple<QString, QString, QString> splitFilename(const QUrl& url);
  void doDownload(const DownloadTask& task);
  void checkTasksStatus();

  // --- Merge and temporary files ---------------------------------------------
  void mergeChunkedFiles();
  void removeTempFiles();
  // Throws std::system_error with the file-system error that stopped it.
  void merge(const std::vector<QUrl>& files, const QUrl& to, std::int64_t chunkSize);
  // The save location for a link; empty when the link names no plain file name
  // or the application-support folder cannot be made.
  QUrl getSaveFileUrl(const QString& fileName);
  // The last path component of a link, percent-decoded, when it is a plain file
  // name: not empty, not "." or "..", no "/" or "\", no control characters.
  static std::optional<QString> saveNameFromLink(const QString& link);

  // --- Pause, resume, cancel -------------------------------------------------
  void CancelDownload(bool bSendCancelLog = true,
                      std::function<void()> sendCancelLog_CompletionHandler = nullptr);
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
  void sendLog_UpdateStatus(const QString& strStatus, const QString& strDetailStatus,
                            const QString& strCancelReason);
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

  // Runs `task` on the main queue unless this manager has ended by then.
  void postToMain(std::function<void()> task);
  // Calls the window on the main queue; skipped when it has gone away.
  void notifyDelegate(std::function<void(DownloadProxy&)> call);
  // Marks work on another thread that refers to this manager; the manager's
  // end waits until every such piece has finished.
  std::shared_ptr<void> beginAsyncWork();

  void failPreparation(ERROR_Code code);
  // Main thread: (re)creates the progress and heartbeat timers, stopping any they replace.
  void startTimers();
  // Main thread: stops both timers and clears them.
  void stopTimers();
  // Whether a finished request really delivered its chunk.
  bool isChunkFetched(const DownloadTask& task, const ov::DownloadResponse& answer) const;
  QString partFilePath(const QUrl& localPath, std::int64_t partIndex) const;
  QString tempFolderPath() const;
  // Cancels the chunk requests still in flight or parked.
  void cancelChunkRequests();

  // Each DownloadFile() starts a new run; completions of an abandoned run are dropped.
  std::atomic<std::uint64_t> transferRun_{0};
  // The round ends exactly once: the completion (or the round's start) that
  // finds every started request handled claims it under this mutex.
  std::mutex roundMutex_;
  bool roundStarting_ = false;
  bool roundEndClaimed_ = false;
  std::mutex requestsMutex_;
  std::vector<std::weak_ptr<ov::DownloadRequest>> activeRequests_;
  // Where the verified installer ended up (Downloads, or where it was when it could not be moved).
  QString installerPath_;

  std::shared_ptr<ov::DownloadSession> alamoFireDownloadSession;
  std::mutex sessionMutex_;
  // Cleared when the manager ends; work queued for the main thread checks it.
  std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
  std::mutex asyncMutex_;
  std::condition_variable asyncDone_;
  int asyncWork_ = 0;
};
