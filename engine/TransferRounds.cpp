#include <QDir>
#include <algorithm>

#include "engine/OVDownloadMgr.h"
#include "engine/TransferState.h"
#include "net/HttpResumeRange.h"
#include "platform/Clock.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"
#include "service/StatusReport.h"

namespace ov {

namespace {

constexpr int kMaxRequestsPerRound = 10;

QString seconds(std::chrono::milliseconds duration) {
  return QString::number(static_cast<double>(duration.count()) / 1000.0, 'f', 1);
}

QString rangeText(const DownloadTask& task) {
  return QStringLiteral("bytes=%1-%2").arg(task.chuckStart).arg(task.chunkEnd);
}

}  // namespace

std::tuple<QString, QString, QString> OVDownloadMgr::splitFilename(const QUrl& url) {
  const QString path = url.toLocalFile();
  const qsizetype slash = path.lastIndexOf(u'/');
  const QString directory = slash < 0 ? QString() : path.left(slash);
  const QString name = path.mid(slash + 1);
  // The extension follows the last dot; a leading dot (".profile") starts no extension.
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot <= 0) return {directory, name, QString()};
  return {directory, name.left(dot), name.mid(dot + 1)};
}

void OVDownloadMgr::startTimers() {
  OV_ON_MAIN_THREAD();
  // A retry after a failed round still has the old run's timers; two
  // heartbeats would double the size reports.
  stopTimers();
  progressTimer = toolkit().scheduleRepeatingTimer(progressTimerInterval, [this] { onUpdateProgress(); });
  // A period of zero or less from the service would be a flood of reports.
  const std::int64_t requested = heartbeatsTime.value_or(defaultHeartBeats);
  const std::int64_t period = requested > 0 ? requested : defaultHeartBeats;
  heartbeatsTimer =
      toolkit().scheduleRepeatingTimer(static_cast<double>(period), [this] { onHeartbeatTimer(); });
}

void OVDownloadMgr::stopTimers() {
  OV_ON_MAIN_THREAD();
  if (progressTimer) progressTimer->invalidate();
  progressTimer = nullptr;
  if (heartbeatsTimer) heartbeatsTimer->invalidate();
  heartbeatsTimer = nullptr;
}

void OVDownloadMgr::DownloadFile() {
  OV_OFF_MAIN_THREAD();
  systemLog(QStringLiteral("[OVDownloader]Download begin"));
  acquireNoSleepAssertion();
  {
    // A report of the earlier run may still be reading the duration.
    std::unique_lock lk(lock);
    previousStartTime = now();
    previousDownloadDuration = 0;
  }
  {
    // A new run: whatever requests of an earlier run still finish are ignored.
    // Changed under both locks, so that a completion of the earlier run either
    // has done its bookkeeping before or does none at all.
    std::unique_lock lk(lock);
    std::lock_guard round(roundMutex_);
    ++transferRun_;
  }
  cancelChunkRequests();
  bCancel = false;
  bPause = false;
  taskFailCount = 0;
  handledTaskInARound = 0;
  sizeMismatch_ = false;
  appendFailed_ = false;

  const std::int64_t size = i64FileSize.load();
  dataChuckCount = size <= 0 ? 0 : size / kChunkLength + (size % kChunkLength != 0 ? 1 : 0);
  outputLine(QStringLiteral("localPath, dataChuckCount = ") + QString::number(dataChuckCount));

  std::vector<bool> onDisk(static_cast<std::size_t>(dataChuckCount), false);
  const bool ready = dataChuckCount == 0 || restoreFromDisk(onDisk);
  std::vector<DownloadTask> plan;
  std::vector<double> progress(static_cast<std::size_t>(dataChuckCount), 0.0);
  std::int64_t received = 0;
  for (std::int64_t i = 0; i < dataChuckCount; ++i) {
    const std::int64_t start = i * kChunkLength;
    DownloadTask task{start, std::min(start + kChunkLength - 1, size - 1), *sourceUrl, *fileUrl, i};
    if (onDisk[static_cast<std::size_t>(i)]) {
      // Bytes a failed round or an earlier process already brought count as received.
      received += task.length();
      progress[static_cast<std::size_t>(i)] = 1.0;
    } else {
      plan.push_back(std::move(task));
    }
  }
  {
    std::unique_lock lk(lock);
    lstTasks = std::move(plan);
    currentReceivedSize = received;
  }
  // The per-chunk lists belong to the main thread; this runs before any
  // progress of the new requests can arrive there.
  postToMain([this, progress = std::move(progress)] {
    listDLRequest.clear();
    listProgress = progress;
    startTimers();
  });
  sendReports([this] {
    sendLog_UpdateSize();
    sendLog_UpdateStatus(statusName(STATUS_ID::SI_DOWNLOADING), QString(), QString());
  });

  if (!ready) {
    bCancel = true;
    notifyDelegateAndWait(ERROR_Code::E_DOWNLOAD_FAILED);
    return;
  }
  std::size_t remaining = 0;
  {
    std::shared_lock lk(lock);
    remaining = lstTasks.size();
  }
  // Everything was on disk already: only the merge's last step is left.
  if (dataChuckCount > 0 && remaining == 0) {
    {
      std::lock_guard round(roundMutex_);
      tasksCountInCurrentRound = 0;
      roundEndClaimed_ = false;
    }
    return checkTasksStatus();
  }
  processTasks();
}

bool OVDownloadMgr::restoreFromDisk(std::vector<bool>& onDisk) {
  OV_OFF_MAIN_THREAD();
  const QString target = fileUrl->toLocalFile();
  const auto partLength = [this](std::int64_t i) {
    return std::min(kChunkLength, i64FileSize.load() - i * kChunkLength);
  };
  std::int64_t appended = 0;
  // Nothing in the folder of parts is followed: a link in its place goes first.
  QString error;
  if (!makePrivateFolder(QDir::cleanPath(tempFolderPath()), error)) {
    logMergeFailure(error);
    return false;
  }
  const auto state = TransferState::load(statePath());
  bool keep = state && state->describes(*sourceUrl, i64FileSize.load(), szETag) &&
              state->appendedParts <= dataChuckCount && regularFileSize(target) == i64FileSize.load();
  if (keep) {
    appended = state->appendedParts;
    for (std::int64_t i = 0; i < dataChuckCount && keep; ++i) {
      const QString part = partFilePath(*fileUrl, i);
      const auto length = regularFileSize(part);
      if (i < appended) {
        onDisk[static_cast<std::size_t>(i)] = true;
        // Appended just before the process ended, and not yet removed.
        if (length) QFile::remove(part);
      } else if (length) {
        keep = *length == partLength(i);
        onDisk[static_cast<std::size_t>(i)] = keep;
      }
    }
  }
  if (keep) {
    // Bodies that were under way when the process ended: neither parts nor state.
    const QString folder = tempFolderPath();
    const QString stateName = QFileInfo(statePath()).fileName();
    const auto [directory, base, ext] = splitFilename(*fileUrl);
    const QString partPrefix = base + u'.' + ext + u'.';
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
      bool isPart = false;
      if (name.startsWith(partPrefix)) name.mid(partPrefix.size()).toLongLong(&isPart);
      if (!isPart && name != stateName) QFile::remove(QDir(folder).filePath(name));
    }
  } else {
    if (state || entryKind(tempFolderPath()) != EntryKind::None)
      outputLine(QStringLiteral("OVDownloadMgr::DownloadFile(), nothing on disk can be reused; from zero"));
    discardPartialDownload();
    std::fill(onDisk.begin(), onDisk.end(), false);
    appended = 0;
  }

  InstallerAssembly::Layout layout{target, [this](std::int64_t i) { return partFilePath(*fileUrl, i); },
                                   i64FileSize.load(), kChunkLength, dataChuckCount};
  bool opened = makePrivateFolder(QDir::cleanPath(tempFolderPath()), error) &&
                assembly_.open(std::move(layout), appended, installerSha256, error);
  // Parts that were complete wait to be appended like any other.
  for (std::int64_t i = appended; opened && i < dataChuckCount; ++i)
    if (onDisk[static_cast<std::size_t>(i)]) assembly_.markArrived(i);
  opened = opened && assembly_.appendArrived(error);
  if (!opened) {
    logMergeFailure(error);
    return false;
  }
  checkpoint(true);
  return true;
}

void OVDownloadMgr::scheduleCheckpoint(bool now) {
  // Apart from the round: the flush must not hold up its end or the next start.
  downloadTaskQueue->async([this, now, work = beginAsyncWork()] { checkpoint(now); });
}

void OVDownloadMgr::checkpoint(bool now, bool waitForOther) {
  // Nothing could be reused without a strong tag, so nothing is recorded.
  if (!isStrongEtag(szETag)) return;
  // Another thread at it may count fewer parts: one that must record the
  // count as it is now waits for it, the others leave the work to it.
  std::unique_lock lk(checkpointMutex_, std::defer_lock);
  if (waitForOther) {
    lk.lock();
  } else if (!lk.try_lock()) {
    return;
  }
  const auto time = std::chrono::steady_clock::now();
  if (!now && time - lastCheckpoint_ < std::chrono::seconds(2)) return;
  lastCheckpoint_ = time;
  QString error;
  const auto appended = assembly_.checkpoint(error);
  // No count and no error: the installer is already finished or abandoned.
  if (!appended && error.isEmpty()) return;
  if (!appended || !TransferState{*sourceUrl, i64FileSize.load(), szETag, *appended}.save(statePath(), error))
    outputLine(QStringLiteral("OVDownloadMgr::checkpoint(), ") + error);
}

void OVDownloadMgr::appendArrivedParts() {
  QString error;
  if (assembly_.appendArrived(error)) {
    scheduleCheckpoint(false);
  } else if (!bCancel && !appendFailed_.exchange(true)) {
    logMergeFailure(error);
  }
}

void OVDownloadMgr::processTasks() {
  OV_OFF_MAIN_THREAD();
  {
    std::lock_guard round(roundMutex_);
    handledTaskInARound = 0;
    taskFailCount = 0;
    roundStarting_ = true;
    roundEndClaimed_ = false;
  }
  size_t remaining = 0;
  {
    std::shared_lock lk(lock);
    remaining = lstTasks.size();
  }
  outputLine(QStringLiteral("self.lstTasks.count = ") + QString::number(remaining));
  const int planned = static_cast<int>(std::min<size_t>(kMaxRequestsPerRound, remaining));
  tasksCountInCurrentRound = planned;

  auto finishStart = [this](int started) {
    std::lock_guard round(roundMutex_);
    tasksCountInCurrentRound = started;
    roundStarting_ = false;
  };
  if (bCancel) return finishStart(0);
  if (planned == 0) {
    finishStart(0);
    notifyDelegate([](DownloadProxy& delegate) { delegate.onDownloadFailed(ERROR_Code::E_DOWNLOAD_FAILED); });
    return;
  }

  // Position k is read as the list stands now: requests of this round may
  // already have finished and been removed, moving later tasks forward.
  int started = 0;
  for (int k = 0; k < planned; ++k) {
    std::optional<DownloadTask> task;
    {
      std::shared_lock lk(lock);
      if (static_cast<size_t>(k) < lstTasks.size()) task = lstTasks[static_cast<size_t>(k)];
    }
    if (!task) break;
    doDownload(*task);
    ++started;
    if (bCancel) break;
  }
  // Requests that finished while the round was starting could not end it;
  // the start itself may be the last step of the round.
  finishStart(started);
  checkTasksStatus();
}

void OVDownloadMgr::doDownload(const DownloadTask& task) {
  const std::uint64_t run = transferRun_.load();
  DownloadOptions options;
  options.url = task.cloudPath;
  options.headers = {{"Range", rangeText(task).toStdString()}};
  // With a validator, a server whose installer changed answers 200 with the
  // new file instead of a range of it, so two versions are never mixed. A
  // weak tag may not be used so (RFC 9110, 13.1.5); the complete length each
  // answer names guards those downloads.
  if (isStrongEtag(szETag)) options.headers.push_back({"If-Range", szETag.toStdString()});
  // The bytes the probe measured, never a compressed variant of them.
  options.headers.push_back({"Accept-Encoding", "identity"});
  options.destination = partFilePath(task.localPath, task.partIndex);
  // Every answer must name the version the probe saw: a server or cache that
  // ignores If-Range would otherwise mix two versions of the same size.
  const bool strong = isStrongEtag(szETag);
  options.expected = ExpectedRange{
      task.chuckStart, task.chunkEnd, i64FileSize.load(),
      strong ? std::optional(szETag.toStdString()) : std::nullopt,
      !strong && !szLastModified.isEmpty() ? std::optional(szLastModified.toStdString()) : std::nullopt};
  options.retry = chunkRetryPolicy;
  options.onRetry = [this, task, run](const RetryNotice& notice) {
    if (run != transferRun_.load()) return;
    outputLine(QStringLiteral("OVDownloadMgr::doDownload() retry %1 of %2 in %3 s for %4: %5")
                   .arg(notice.retry)
                   .arg(notice.retries)
                   .arg(seconds(notice.delay), rangeText(task), QString::fromStdString(notice.reason)));
  };

  options.progressQueue = mainQueueHandle();
  options.progress = [this, task, run, alive = alive_](const std::shared_ptr<DownloadRequest>& request,
                                                       double fraction) {
    OV_ON_MAIN_THREAD();
    // A report of an earlier run, still queued, must neither park a dead
    // request nor touch the new plan's list.
    if (!*alive || run != transferRun_.load()) return;
    if (bPause) {
      if (!request->isSuspended()) {
        listDLRequest.push_back(request);
        request->suspend();
      }
      return;
    }
    if (task.partIndex >= 0 && static_cast<size_t>(task.partIndex) < listProgress.size())
      listProgress[static_cast<size_t>(task.partIndex)] = fraction;
  };

  options.completionQueue = downloadTaskQueue;
  options.completion = [this, task, run, work = beginAsyncWork()](const DownloadResponse& answer) {
    OV_ON_QUEUE("DownloadMgrTaskQueue");
    if (run != transferRun_.load()) return;
    if (answer.error) outputLine(QString::fromStdString(answer.error->description));
    const bool fetched = !answer.error && regularFileSize(answer.destination) == task.length();
    if (!fetched && answer.response) {
      const auto announced = announcedFileSize(*answer.response);
      if (announced && *announced != i64FileSize.load()) sizeMismatch_ = true;
    }
    if (fetched) {
      {
        std::unique_lock lk(lock);
        if (run != transferRun_.load()) return;
        const auto found = std::find(lstTasks.begin(), lstTasks.end(), task);
        if (found != lstTasks.end()) {
          currentReceivedSize += task.length();
          lstTasks.erase(found);
        }
      }
      assembly_.markArrived(task.partIndex);
    }
    {
      // Counted as one step, so the handler that finishes the round sees every failure.
      std::lock_guard round(roundMutex_);
      if (run != transferRun_.load()) return;
      ++handledTaskInARound;
      if (!fetched) ++taskFailCount;
    }
    if (!fetched && bCancel) return;
    if (answer.response)
      outputLine(QStringLiteral("OVDownloadMgr::doDownload() Status Code = ") +
                 QString::number(answer.response->statusCode));
    checkTasksStatus();
    // Appended only now, with the next round under way: the transfer never
    // waits for the disk at a round's end. A run that was abandoned meanwhile
    // has nothing left to append.
    if (fetched && run == transferRun_.load()) appendArrivedParts();
  };

  auto request = downloadSession()->download(std::move(options));
  {
    std::lock_guard lk(requestsMutex_);
    std::erase_if(activeRequests_, [](const auto& weak) { return weak.expired(); });
    activeRequests_.push_back(request);
  }
  // A round that starts while paused: its requests wait parked, whether or
  // not they ever report progress.
  if (bPause) {
    postToMain([this, run, request] {
      if (run != transferRun_.load() || !bPause || request->isSuspended()) return;
      listDLRequest.push_back(request);
      request->suspend();
    });
  }
}

void OVDownloadMgr::checkTasksStatus() {
  OV_OFF_MAIN_THREAD();
  if (bCancel) return;
  {
    std::lock_guard round(roundMutex_);
    if (roundStarting_ || roundEndClaimed_ || handledTaskInARound != tasksCountInCurrentRound) return;
    roundEndClaimed_ = true;
  }

  size_t remaining = 0;
  {
    std::shared_lock lk(lock);
    remaining = lstTasks.size();
  }
  // The last round's parts, and a failed round's, are in the installer (and
  // so in its checkpoint) before the round is judged: a failed append is the
  // round's failure like any other, and a Retry keeps every part that arrived.
  if (remaining == 0 || taskFailCount != 0) appendArrivedParts();

  if (taskFailCount != 0 || appendFailed_) {
    bCancel = true;
    if (sizeMismatch_) return failSizeCheck();
    // What did arrive stays for the Retry.
    checkpoint(true, true);
    // Wait until the window has handled the failure (a modal dialog included).
    notifyDelegateAndWait(ERROR_Code::E_DOWNLOAD_FAILED);
    return;
  }

  if (remaining != 0) {
    tasksCountInCurrentRound = static_cast<int>(std::min<size_t>(kMaxRequestsPerRound, remaining));
    if (bCancel) return;
    // A crash during the next round costs at most that round.
    scheduleCheckpoint(true);
    outputLine(QStringLiteral("OVDownloadMgr::checkTasksStatus(), lstTask is not empty, Do next round!!"));
    processTasks();
    return;
  }

  // A failed merge ends the download there: nothing is checked, moved or opened.
  if (!mergeChunkedFiles()) return;
  // A download cancelled meanwhile has nothing to complete; checking its size
  // would show a failure dialog to a user who already chose to stop.
  if (bCancel) return;
  // The cancel may also come on the main thread after this post and before it
  // runs: the installer must then not be moved, opened or reported.
  postToMain([this] {
    if (!bCancel) completeDownload();
  });
}

void OVDownloadMgr::failSizeCheck() {
  OV_OFF_MAIN_THREAD();
  sendReports([this] { sendLog_UpdateStatus(statusName(STATUS_ID::SI_MD5FAILED), QString(), QString()); });
  discardPartialDownload();
  notifyDelegateAndWait(ERROR_Code::E_SIZE_CHECK_FAILED);
}

void OVDownloadMgr::cancelChunkRequests() {
  std::vector<std::shared_ptr<DownloadRequest>> requests;
  {
    std::lock_guard lk(requestsMutex_);
    for (const auto& weak : activeRequests_)
      if (auto request = weak.lock()) requests.push_back(std::move(request));
    activeRequests_.clear();
  }
  for (const auto& request : requests) request->cancel();
}

}  // namespace ov
