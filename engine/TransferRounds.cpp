#include <QFileInfo>
#include <algorithm>

#include "engine/OVDownloadMgr.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"
#include "service/StatusReport.h"

namespace {

constexpr std::int64_t kChunkLength = 5'242'880;  // 5 MiB; also the merge's block size
constexpr int kMaxRequestsPerRound = 10;

// "bytes a-b/size" names exactly the bytes a to b.
bool contentRangeIs(const std::string& value, std::int64_t first, std::int64_t last) {
  const QString text = QString::fromStdString(value).trimmed();
  if (!text.startsWith(QLatin1String("bytes "))) return false;
  const QString range = text.mid(6).section(u'/', 0, 0);
  bool okFirst = false;
  bool okLast = false;
  const std::int64_t a = range.section(u'-', 0, 0).toLongLong(&okFirst);
  const std::int64_t b = range.section(u'-', 1, 1).toLongLong(&okLast);
  return okFirst && okLast && a == first && b == last;
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
  // A retry after a failed round still has the old run's timers; two
  // heartbeats would double the size reports.
  stopTimers();
  progressTimer = ov::toolkit().scheduleRepeatingTimer(progressTimerInterval, [this] { onUpdateProgress(); });
  // A period of zero or less from the service would be a flood of reports.
  const std::int64_t requested = heartbeatsTime.value_or(defaultHeartBeats);
  const std::int64_t period = requested > 0 ? requested : defaultHeartBeats;
  heartbeatsTimer =
      ov::toolkit().scheduleRepeatingTimer(static_cast<double>(period), [this] { onHeartbeatTimer(); });
}

void OVDownloadMgr::stopTimers() {
  if (progressTimer) progressTimer->invalidate();
  progressTimer = nullptr;
  if (heartbeatsTimer) heartbeatsTimer->invalidate();
  heartbeatsTimer = nullptr;
}

void OVDownloadMgr::DownloadFile() {
  ov::systemLog(QStringLiteral("[OVDownloader]Download begin"));
  acquireNoSleepAssertion();
  {
    // A report of the earlier run may still be reading the duration.
    std::unique_lock lk(lock);
    previousStartTime = ov::now();
    previousDownloadDuration = 0;
  }
  postToMain([this] { startTimers(); });
  ov::globalUtilityQueue().async([this, work = beginAsyncWork()] {
    sendLog_UpdateSize();
    sendLog_UpdateStatus(statusName(STATUS_ID::SI_DOWNLOADING), QString(), QString());
  });

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
  currentReceivedSize = 0;
  taskFailCount = 0;
  handledTaskInARound = 0;

  const std::int64_t size = i64FileSize.load();
  dataChuckCount = size <= 0 ? 0 : size / kChunkLength + (size % kChunkLength != 0 ? 1 : 0);
  ov::outputLine(QStringLiteral("localPath, dataChuckCount = ") + QString::number(dataChuckCount));

  std::vector<DownloadTask> plan;
  for (std::int64_t i = 0; i < dataChuckCount; ++i) {
    const std::int64_t start = i * kChunkLength;
    plan.push_back({start, std::min(start + kChunkLength - 1, size - 1), *sourceUrl, *fileUrl, i});
  }
  {
    std::unique_lock lk(lock);
    lstTasks = std::move(plan);
  }
  // The per-chunk lists belong to the main thread; this runs before any
  // progress of the new requests can arrive there.
  postToMain([this, count = dataChuckCount] {
    listDLRequest.clear();
    listProgress.assign(static_cast<size_t>(count), 0.0);
  });
  processTasks();
}

void OVDownloadMgr::processTasks() {
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
  ov::outputLine(QStringLiteral("self.lstTasks.count = ") + QString::number(remaining));
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
  ov::HttpHeaders headers{
      {"Range", "bytes=" + std::to_string(task.chuckStart) + "-" + std::to_string(task.chunkEnd)}};
  // With a validator, a server whose installer changed answers 200 with the
  // new file instead of a range of it, so two versions are never mixed.
  if (!szETag.isEmpty()) headers.push_back({"If-Range", szETag.toStdString()});
  const QString partPath = partFilePath(task.localPath, task.partIndex);
  const std::uint64_t run = transferRun_.load();

  auto progress = [this, task, run, alive = alive_](const std::shared_ptr<ov::DownloadRequest>& request,
                                                    double fraction) {
    // A report of an earlier run, still queued, must neither park a dead
    // request nor touch the new plan's list.
    if (!*alive || run != transferRun_.load()) return;
    if (bPause) {
      listDLRequest.push_back(request);
      request->suspend();
      return;
    }
    if (task.partIndex >= 0 && static_cast<size_t>(task.partIndex) < listProgress.size())
      listProgress[static_cast<size_t>(task.partIndex)] = fraction;
  };

  auto completion = [this, task, run, work = beginAsyncWork()](const ov::DownloadResponse& answer) {
    if (run != transferRun_.load()) return;
    if (answer.error) ov::outputLine(QString::fromStdString(answer.error->description));
    const bool fetched = !answer.error && isChunkFetched(task, answer);
    if (fetched) {
      std::unique_lock lk(lock);
      if (run != transferRun_.load()) return;
      const auto found = std::find(lstTasks.begin(), lstTasks.end(), task);
      if (found != lstTasks.end()) {
        currentReceivedSize += task.length();
        lstTasks.erase(found);
      }
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
      ov::outputLine(QStringLiteral("OVDownloadMgr::doDownload() Status Code = ") +
                     QString::number(answer.response->statusCode));
    checkTasksStatus();
  };

  auto request = downloadSession()->download(task.cloudPath, headers, partPath, ov::mainQueueHandle(),
                                             std::move(progress), downloadTaskQueue, std::move(completion));
  std::lock_guard lk(requestsMutex_);
  std::erase_if(activeRequests_, [](const auto& weak) { return weak.expired(); });
  activeRequests_.push_back(request);
}

bool OVDownloadMgr::isChunkFetched(const DownloadTask& task, const ov::DownloadResponse& answer) const {
  if (!answer.response) return false;
  const ov::HttpResponse& response = *answer.response;
  bool rightBytes = false;
  if (response.statusCode == 206) {
    const auto range = response.value("Content-Range");
    rightBytes = range && contentRangeIs(*range, task.chuckStart, task.chunkEnd);
  } else if (response.statusCode == 200) {
    // Only a one-chunk plan may take the whole file as its chunk.
    rightBytes = task.chuckStart == 0 && task.chunkEnd == i64FileSize.load() - 1;
  }
  return rightBytes && QFileInfo(answer.destination).size() == task.length();
}

void OVDownloadMgr::checkTasksStatus() {
  if (bCancel) return;
  {
    std::lock_guard round(roundMutex_);
    if (roundStarting_ || roundEndClaimed_ || handledTaskInARound != tasksCountInCurrentRound) return;
    roundEndClaimed_ = true;
  }

  if (taskFailCount != 0) {
    bCancel = true;
    // Wait until the window has handled the failure (a modal dialog included).
    ov::Semaphore delivered(0);
    ov::mainQueue().async([this, alive = alive_, &delivered] {
      if (*alive)
        if (auto delegate = downloadDelegate.lock())
          delegate->onDownloadFailed(ERROR_Code::E_DOWNLOAD_FAILED);
      delivered.signal();
    });
    delivered.wait();
    return;
  }

  size_t remaining = 0;
  {
    std::shared_lock lk(lock);
    remaining = lstTasks.size();
  }
  if (remaining != 0) {
    tasksCountInCurrentRound = static_cast<int>(std::min<size_t>(kMaxRequestsPerRound, remaining));
    if (bCancel) return;
    ov::outputLine(
        QStringLiteral("OVDownloadMgr::checkTasksStatus(), lstTask is not empty, Do next round!!"));
    processTasks();
    return;
  }

  mergeChunkedFiles();
  // A download cancelled meanwhile has nothing to complete; checking its size
  // would show a failure dialog to a user who already chose to stop.
  if (bCancel) return;
  // The cancel may also come on the main thread after this post and before it
  // runs: the installer must then not be moved, opened or reported.
  postToMain([this] {
    if (!bCancel) completeDownload();
  });
}

void OVDownloadMgr::cancelChunkRequests() {
  std::vector<std::shared_ptr<ov::DownloadRequest>> requests;
  {
    std::lock_guard lk(requestsMutex_);
    for (const auto& weak : activeRequests_)
      if (auto request = weak.lock()) requests.push_back(std::move(request));
    activeRequests_.clear();
  }
  for (const auto& request : requests) request->cancel();
}
