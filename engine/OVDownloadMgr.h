#pragma once

#include <QByteArray>
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
#include "engine/InstallerAssembly.h"
#include "net/HttpClient.h"
#include "platform/Dispatch.h"
#include "platform/RepeatingTimer.h"

namespace ov {

// The download manager: one shared instance holding the whole state of a
// download. Its operations are split by stage over engine/ (preparation,
// transfer rounds, progress, merge, pause/resume/cancel, completion) and
// service/ (what it says to the download service).
//
// Threads, as every method below states: "main" is the Qt main thread (the
// window's); "background" a global utility queue thread; "task queue" the
// concurrent downloadTaskQueue, where chunk completions and later rounds run.
class OVDownloadMgr {
 public:
  // The one manager, created on first use (thread-safely) and never destroyed.
  static OVDownloadMgr& shared();

  // A separate manager for tests; production code uses shared() only.
  static std::unique_ptr<OVDownloadMgr> makeForTesting();
  ~OVDownloadMgr();

  OVDownloadMgr(const OVDownloadMgr&) = delete;
  OVDownloadMgr& operator=(const OVDownloadMgr&) = delete;

  // --- State ----------------------------------------------------------------
  std::atomic<bool> bCancel{false};                  // the download was given up (cancel, a failed round)
  std::atomic<bool> bPause{false};                   // the user paused the transfer
  double totalFileSize = 0;                          // i64FileSize as a double, for the window
  WeakDelegate downloadDelegate;                     // the window; held weakly
  std::atomic<int> taskFailCount{0};                 // requests of this round that failed
  std::vector<DownloadTask> lstTasks;                // chunks still to fetch; guarded by `lock`
  std::atomic<int> handledTaskInARound{0};           // requests of this round that have finished
  std::atomic<int> tasksCountInCurrentRound{10};     // requests this round started
  std::atomic<std::int64_t> currentReceivedSize{0};  // bytes on disk of this installer; added to under `lock`
  const std::shared_ptr<DispatchQueue> downloadTaskQueue;  // "DownloadMgrTaskQueue", concurrent
  std::optional<QString> sourceUrl;                        // the installer's download link
  std::optional<QUrl> fileUrl;                             // where the installer is put together
  std::atomic<std::int64_t> i64FileSize{0};                // the installer's size, from the probe
  std::int64_t dataChuckCount = 0;                         // chunks of the plan
  std::vector<double> listProgress;                        // per chunk, 0 to 1; main thread only
  std::shared_ptr<RepeatingTimer> progressTimer;           // main thread only
  const double progressTimerInterval = 0.3;
  const double doDownloadTaskRatio = 0.98;
  const double mergeDownloadTaskRatio = 0.02;
  std::vector<std::shared_ptr<DownloadRequest>> listDLRequest;  // parked while paused; main thread only
  std::optional<QString> product;                               // product code, from MakeInfo.ini
  std::optional<QString> displayProductName;                    // the product's name as shown
  std::optional<QString> version;                               // product version
  std::optional<QString> versionType;                           // product version type
  std::optional<QString> sr;                                    // the product's serial-range code
  std::optional<QString> locale;                                // the user's region code
  std::optional<QString> language;                              // three-letter language code for the service
  QString vid = QStringLiteral("1.0.0.1312");                   // this agent's own version
  QString platform = QStringLiteral("x64");
  QString ostype = QStringLiteral("Mac");
  const int defaultHeartBeats = 30;
  std::optional<std::int64_t> heartbeatsTime;       // seconds between size reports, from the service
  std::shared_ptr<RepeatingTimer> heartbeatsTimer;  // main thread only
  QString szETag;                                   // the installer's entity tag, from the probe
  QString szLastModified;                           // its Last-Modified, from the probe; empty: none
  std::optional<QByteArray> installerSha256;   // the installer's digest, when the probe's answer gave one
  std::optional<QString> szTokenID;            // ties the reports of one preparation together
  std::optional<QString> szUUID;               // the machine identifier
  std::atomic<double> downloadDuration{0};     // active seconds, as last reported
  double previousDownloadDuration = 0;         // active seconds before the current stretch; under `lock`
  std::optional<QDateTime> previousStartTime;  // when the current active stretch began; under `lock`
  std::optional<ERR_ID_Query_Download_URL> queryDownloadURLErrorID;  // why the link query gave no link
  std::optional<QString> newDownloaderURL;  // the newer agent's link, when the service demands it
  // Guards lstTasks with the count of received bytes, and the active-time
  // fields that size reports read on their own threads.
  std::shared_mutex lock;

  // --- Preparation (background) ----------------------------------------------
  // Blocks while the service calls run (and first until an earlier attempt's
  // reports have gone out); the outcome arrives on the main queue as
  // ReadyToDownload or one onDownloadFailed().
  void initDownloadMgr(const std::shared_ptr<DownloadProxy>& downloadProxyDelegate, const QString& product,
                       const QString& sr, const QString& version, const QString& versionType);

  // --- Transfer rounds -------------------------------------------------------
  // Background. Starts a run: the chunks not yet on disk of this very file
  // (same link host and path, size and strong ETag as what a state file
  // beside the parts records) are fetched; everything else is discarded.
  void DownloadFile();
  void onUpdateProgress();  // main, from progressTimer
  void onHeartbeatTimer();  // main, from heartbeatsTimer
  void processTasks();      // background or task queue: starts one round
  // (directory, filenameOnly, ext) of a file URL. Any thread.
  static std::tuple<QString, QString, QString> splitFilename(const QUrl& url);
  void doDownload(const DownloadTask& task);  // background or task queue
  void checkTasksStatus();                    // task queue: ends a round once

  // --- Merge and temporary files ---------------------------------------------
  // Task queue. After the last round: the installer holds every part and is
  // on disk, or the download failed (reported) and nothing of it is left.
  bool mergeChunkedFiles();
  // Any thread: removes the folder of part files.
  void removeTempFiles();
  // Any thread: removes the part files and the partly assembled installer.
  void discardPartialDownload();
  // The save location for a link, in the application-support folder (made,
  // and kept private to the user): a link or a folder that stood there is
  // removed; what cannot be removed makes it a location of the same name in a
  // fresh folder. Empty when the link names no safe file name or no location
  // can be made. Background.
  QUrl getSaveFileUrl(const QString& fileName);
  // The last path component of a link, percent-decoded, when it is safe to
  // save: not empty, not hidden (leading "."), at most 255 bytes, no "/" or
  // "\", no control or format characters (bidirectional overrides among them).
  static std::optional<QString> saveNameFromLink(const QString& link);

  // --- Pause, resume, cancel (main) ------------------------------------------
  void CancelDownload(bool bSendCancelLog = true,
                      std::function<void()> sendCancelLog_CompletionHandler = nullptr);
  bool isCancelTask() const { return bCancel.load(); }
  void PauseDownload();
  void ResumeDownload();
  bool isPauseTask() const { return bPause.load(); }

  // --- Completion (main) -----------------------------------------------------
  // What differs between the front ends at the hand-off; the window keeps the
  // defaults. Set on the main thread before the preparation.
  struct Delivery {
    QString folder;             // where the installer goes; empty: the user's Downloads folder
    bool openInstaller = true;  // hand it to the default handler (and report "Install")
  };
  Delivery delivery;
  // The installer's final path: its name in the delivery folder (created
  // when missing); empty when there is no name yet or no folder.
  QString getDownloadedFileLocation();
  // Where the verified installer was put: empty before, and when the move failed.
  QString deliveredInstallerPath() const { return installerPath_.value_or(QString()); }
  std::int64_t getDownloadedFileSize() const { return i64FileSize.load(); }
  std::optional<QString> getNewDownloaderURL() const { return newDownloaderURL; }
  void completeDownload();
  // Whether the installer, where it is now (assembled, or moved to Downloads),
  // has the announced size; reports the failure to the service when not.
  bool verifyInstallerSize();
  // Puts the installer in Downloads by one rename of a file of the announced
  // size, so an earlier file of that name is replaced by the checked
  // installer or stays as it was.
  void moveInstallerToDownloads();
  void runInstaller();

  // --- Service (background) --------------------------------------------------
  QString queryDownLoadURL();
  std::int64_t queryHeartbeatTime();
  void sendLog_UpdateInfo();
  void sendLog_UpdateStatus(const QString& strStatus, const QString& strDetailStatus,
                            const QString& strCancelReason);
  void sendLog_UpdateSize();  // returns at once
  bool getBuildInfo(const QString& sourceUrl);
  // The product's fields every request to the service names it by:
  // PRODUCTNAME, PRODUCTVERSION, VERSIONTYPE and SR; with `andAgent` also VID,
  // LANGUAGE, platform and ostype. Any thread.
  FormFields productFields(bool andAgent) const;

  // --- Progress and duration -------------------------------------------------
  double getCurrentDownloadDuration();  // any thread

  // The session every chunk request goes through, built on first use.
  std::shared_ptr<DownloadSession> downloadSession();

  // Tests shorten the chunk session's time-outs and retry delays before the first chunk request.
  DownloadSessionConfiguration downloadSessionConfiguration;
  RetryPolicy chunkRetryPolicy{
      {std::chrono::milliseconds(500), std::chrono::milliseconds(1000), std::chrono::milliseconds(2000)}};

 private:
  OVDownloadMgr();

  // Runs `task` on the main queue unless this manager has ended by then.
  void postToMain(std::function<void()> task);
  // Calls the window on the main queue; skipped when it has gone away.
  void notifyDelegate(std::function<void(DownloadProxy&)> call);
  // Calls the window on the main queue and waits until it returned (a modal
  // dialog included). Never on the main thread.
  void notifyDelegateAndWait(ERROR_Code code);
  // Runs `task` on the main queue and waits for it. Never on the main thread.
  void runOnMainAndWait(std::function<void()> task);
  // Marks work on another thread that refers to this manager; the manager's
  // end waits until every such piece has finished.
  std::shared_ptr<void> beginAsyncWork();
  // Sends reports in the order they are made (a serial queue). With `wait`,
  // returns once `reports` has run: true, or false when a termination signal
  // came first.
  bool sendReports(std::function<void()> reports, bool wait = false);

  void failPreparation(ERROR_Code code);
  // Main thread: (re)creates the progress and heartbeat timers, stopping any they replace.
  void startTimers();
  // Main thread: stops both timers and clears them.
  void stopTimers();
  QString partFilePath(const QUrl& localPath, std::int64_t partIndex) const;
  QString tempFolderPath() const;
  QString statePath() const;
  // Background: what a failed round or an earlier process left that this run
  // can keep. Sets up the assembly; false (reported) when the disk refused.
  bool restoreFromDisk(std::vector<bool>& onDisk);
  // Records how many parts the installer safely holds, at most every few
  // seconds unless `now`. Blocks while the installer is flushed; any thread
  // but the main one. One in progress elsewhere does the work instead, unless
  // `waitForOther` (it may count fewer parts).
  void checkpoint(bool now, bool waitForOther = false);
  // The same, as a task of its own on downloadTaskQueue.
  void scheduleCheckpoint(bool now);
  // Appends the parts now next in line; a failure fails the round (appendFailed_).
  void appendArrivedParts();
  // The two lines of a merge that failed, with the reason.
  void logMergeFailure(const QString& error);
  // Cancels the chunk requests still in flight or parked.
  void cancelChunkRequests();
  // The installer does not match what the service announced: reported as a
  // failed size check, and nothing of it is kept.
  void failSizeCheck();

  // Each DownloadFile() starts a new run; completions of an abandoned run are dropped.
  std::atomic<std::uint64_t> transferRun_{0};
  // The round ends exactly once: the completion (or the round's start) that
  // finds every started request handled claims it under this mutex.
  std::mutex roundMutex_;
  bool roundStarting_ = false;
  bool roundEndClaimed_ = false;
  // A chunk's answer named another complete length than the probe: the
  // installer changed, or the probe was answered by a stale copy.
  std::atomic<bool> sizeMismatch_{false};
  std::atomic<bool> appendFailed_{false};
  std::mutex requestsMutex_;
  std::vector<std::weak_ptr<DownloadRequest>> activeRequests_;  // guarded by requestsMutex_
  InstallerAssembly assembly_;
  std::mutex checkpointMutex_;
  std::chrono::steady_clock::time_point lastCheckpoint_;  // guarded by checkpointMutex_
  // Where the verified installer is: nothing before the move, empty after a
  // failed move, the file in Downloads after a successful one. Main thread.
  std::optional<QString> installerPath_;

  std::shared_ptr<DownloadSession> alamoFireDownloadSession;
  std::mutex sessionMutex_;
  const std::shared_ptr<DispatchQueue> reportQueue_;
  // Cleared when the manager ends; work queued for the main thread checks it.
  std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
  std::mutex asyncMutex_;
  std::condition_variable asyncDone_;
  int asyncWork_ = 0;
};

}  // namespace ov
