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
#include "engine/TransferWindow.h"
#include "net/HttpClient.h"
#include "platform/Dispatch.h"
#include "platform/RepeatingTimer.h"

namespace ov {

// The download manager: one shared instance holding the whole state of a
// download. Its operations are split by stage over engine/ (preparation,
// the transfer, progress, merge, pause/resume/cancel, completion) and
// service/ (what it says to the download service).
//
// Threads, as every method below states: "main" is the Qt main thread (the
// window's); "background" a global utility queue thread; "task queue" the
// concurrent downloadTaskQueue, where chunk completions run and start what
// follows.
//
// The transfer keeps a window of chunk requests in flight (TransferWindow,
// docs/transfer.md) instead of rounds. The three fields that counted a round
// keep these meanings, for one run of the transfer (a DownloadFile() call):
// tasksCountInCurrentRound is the window's width, the most chunk requests in
// flight at once; handledTaskInARound counts the chunk requests that have
// ended, and taskFailCount those that failed after their retries (the first
// one ends the download, so it is 0 or 1). A chunk fetched in two pieces
// counts two requests.
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
  std::atomic<bool> bCancel{false};  // the download was given up (cancel, a failed chunk)
  std::atomic<bool> bPause{false};   // the user paused the transfer
  // i64FileSize as a double once preparation passed the free-space check, 0
  // after a cancel; nothing in the program reads it.
  double totalFileSize = 0;
  WeakDelegate downloadDelegate;            // the window; held weakly
  std::atomic<int> taskFailCount{0};        // chunk requests of this run that failed
  std::vector<DownloadTask> lstTasks;       // chunks not yet on disk, waiting or in flight; under `lock`
  std::atomic<int> handledTaskInARound{0};  // chunk requests of this run that have ended
  const int tasksCountInCurrentRound = TransferWindow::kRequests;  // chunk requests in flight at most
  std::atomic<std::int64_t> currentReceivedSize{0};  // bytes on disk of this installer; added to under `lock`
  const std::shared_ptr<DispatchQueue> downloadTaskQueue;  // "DownloadMgrTaskQueue", concurrent
  // The installer's download link. Written under `lock` once a download has
  // started (a fresh link in place of a refused one).
  std::optional<QString> sourceUrl;
  std::optional<QUrl> fileUrl;                    // where the installer is put together
  std::atomic<std::int64_t> i64FileSize{0};       // the installer's size, from the probe
  std::int64_t dataChuckCount = 0;                // chunks of the plan
  std::vector<double> listProgress;               // per chunk, 0 to 1; main thread only
  std::shared_ptr<RepeatingTimer> progressTimer;  // main thread only
  const double progressTimerInterval = 0.3;
  const double doDownloadTaskRatio = 0.98;                      // the transfer's share of the progress
  const double mergeDownloadTaskRatio = 0.02;                   // the merge's, reached in one step at its end
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
  // Guards lstTasks with the count of received bytes, the active-time fields
  // that size reports read on their own threads, and a link renewed while
  // the transfer runs.
  std::shared_mutex lock;

  // --- Preparation (background) ----------------------------------------------
  // Blocks while the service calls run (and first until an earlier attempt's
  // reports have gone out); the outcome arrives on the main queue as
  // ReadyToDownload or one onDownloadFailed().
  void initDownloadMgr(const std::shared_ptr<DownloadProxy>& downloadProxyDelegate, const QString& product,
                       const QString& sr, const QString& version, const QString& versionType);

  // --- The transfer ----------------------------------------------------------
  // Background. Starts a run: the chunks not yet on disk of this very file
  // (same link host and path, size, strong ETag and chunk length as what a
  // state file beside the parts records) are fetched; everything else is
  // discarded. Every run after the first of a preparation asks for the link
  // and probes the size again first (a failure there is reported as the
  // run's). A cancel that comes while it sets up wins: nothing starts.
  void DownloadFile();
  void onUpdateProgress();  // main, from progressTimer
  void onHeartbeatTimer();  // main, from heartbeatsTimer
  // Background or task queue: starts what the window lets start now (chunks,
  // the second halves of split ones) and splits where it says.
  void processTasks();
  // (directory, filenameOnly, ext) of a file URL. Any thread.
  static std::tuple<QString, QString, QString> splitFilename(const QUrl& url);
  // Background or task queue: the request of one piece of a chunk (the whole
  // chunk, unless it was split).
  void doDownload(const DownloadTask& task);
  // Background or task queue: once every chunk is on disk, the merge's end
  // and the completion; exactly once per run.
  void checkTasksStatus();

  // --- Merge and temporary files ---------------------------------------------
  // Task queue. Once every chunk is on disk: the installer holds every part
  // and is on disk, or the download failed (reported) and nothing of it is left.
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
  // The window reads i64FileSize itself when the download becomes ready, as
  // its start-up always has; this accessor of the same value has no caller.
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
  // Whether the save location's volume can take the installer, beside the
  // fixed minimum kept free and the parts in flight; `reclaimable` bytes of
  // it are ours to free first.
  bool hasRoomForInstaller(std::int64_t reclaimable = 0);
  // Background: the link query and the size probe again, for a later run of
  // the same download (no start report, no "Launch"). Nothing, or the
  // failure to report: E_NEED_UPDATE, E_LOW_DISK_SPACE for a larger
  // installer that no longer fits, E_DOWNLOAD_FAILED for anything else (the
  // Retry may work later).
  std::optional<ERROR_Code> renewLinkAndSize();
  // What each of three steps clears before a download starts afresh: the
  // flags (but after a cancel, which leaves bCancel set and bPause as it
  // was), the request counts, the chunk list and the bytes received, and (on
  // the main thread, posted there from another) the per-chunk progress and the
  // parked requests. Preparation also forgets the size and the plan; a new
  // run keeps totalFileSize.
  enum class DownloadReset { Preparation, NewRun, Cancel };
  void resetDownload(DownloadReset reset);
  // Main thread: (re)creates the progress and heartbeat timers, stopping any they replace.
  void startTimers();
  // Stops both timers and clears them. The timers are the main thread's; the
  // manager's end, wherever it runs, is the one other caller.
  void stopTimers();
  QString partFilePath(const QUrl& localPath, std::int64_t partIndex) const;
  // Where a piece of a split chunk lies on disk: "<part file>.<first byte>".
  QString pieceFilePath(const DownloadTask& piece) const;
  QString tempFolderPath() const;
  QString statePath() const;
  // Removes what lies in the folder of parts besides the parts and the state
  // file: pieces of split chunks, bodies under way. Any thread.
  void removeStrayFiles();
  // Background: what a failed run or an earlier process left that this run
  // can keep. Sets up the assembly; false (reported) when the disk refused.
  bool restoreFromDisk(std::vector<bool>& onDisk);
  // Records how many parts the installer safely holds, at most every few
  // seconds unless `now`. Blocks while the installer is flushed; any thread
  // but the main one. One in progress elsewhere does the work instead, unless
  // `waitForOther` (it may count fewer parts).
  void checkpoint(bool now, bool waitForOther = false);
  // The same, as a task of its own on downloadTaskQueue.
  void scheduleCheckpoint(bool now);
  // Task queue: a piece's request of run `run` ended. Judges it, joins a split
  // chunk's pieces, counts the chunk in, appends what is next in line and
  // starts what may follow; the first failure ends the download.
  void chunkRequestEnded(const DownloadTask& piece, std::uint64_t run, const DownloadResponse& answer);
  // Whether a chunk's answer refused its link (403, 410).
  static bool linkRefused(const DownloadResponse& answer);
  // Whether `piece` was fetched with another link than the one this run
  // renewed: a refusal of the renewed link itself is a failure.
  bool mayRenewLinkFor(const DownloadTask& piece);
  // Task queue: a piece of run `run` waits for a fresh link. The first asks
  // the service for one, once per run; nothing starts until it is there.
  void renewLink(std::uint64_t run);
  // Background: asks for the fresh link and goes on with it, or ends the run
  // (E_DOWNLOAD_FAILED) when there is none to the same file.
  void renewLinkDuringRun(std::uint64_t run);
  // Puts a split chunk's pieces (in byte order) together as its part file.
  bool joinPieces(const std::vector<DownloadTask>& pieces, QString& error);
  // Appends the parts now next in line; a failure ends the download.
  void appendArrivedParts(std::uint64_t run);
  // Ends run `run` once, unless a cancel or a failure ended it first: nothing
  // new starts, the requests in flight end, what arrived is kept for a Retry,
  // and the window hears of it (E_DOWNLOAD_FAILED, or the size check's failure
  // when an answer named another size). Waits until the window has handled it.
  void failTransfer(std::uint64_t run, const QString& mergeError = QString());
  // The two lines of a merge that failed, with the reason.
  void logMergeFailure(const QString& error);
  // Stops the window and cancels the chunk requests still in flight or parked.
  void cancelChunkRequests();
  // The installer does not match what the service announced: reported as a
  // failed size check, and nothing of it is kept.
  void failSizeCheck();

  // Each DownloadFile() starts a new run; completions of an abandoned run are
  // dropped. Changed under `lock`.
  std::atomic<std::uint64_t> transferRun_{0};
  // CancelDownload() calls so far: a start that sees the count change while
  // it sets up gives way.
  std::atomic<std::uint64_t> cancels_{0};
  // A run has used the link and the size of the last preparation.
  std::atomic<bool> linkUsed_{false};
  // The link this run asked for after a refusal (empty: none yet), and
  // whether it is on its way. Under `lock`.
  QString renewedLink_;
  std::atomic<bool> renewingLink_{false};
  // Which chunk requests run, and their requests.
  TransferWindow window_;
  // A chunk's answer named another complete length than the probe: the
  // installer changed, or the probe was answered by a stale copy.
  std::atomic<bool> sizeMismatch_{false};
  InstallerAssembly assembly_;
  // One checkpoint at a time.
  std::mutex checkpointTurnMutex_;
  std::chrono::steady_clock::time_point lastCheckpoint_;  // guarded by checkpointTurnMutex_
  // Parts were appended since the last checkpoint, which was too recent to
  // record them: the progress timer has one made when the time has come.
  std::atomic<bool> checkpointOwed_{false};
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
