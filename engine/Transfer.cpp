#include <QDir>
#include <QFile>
#include <algorithm>
#include <set>

#include "engine/OVDownloadMgr.h"
#include "engine/TransferState.h"
#include "net/HttpResumeRange.h"
#include "platform/AssembledFile.h"
#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"
#include "service/StatusReport.h"

namespace ov {

namespace {

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
  // A retry after a failed download still has the old run's timers; two
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
  OV_EXPECT_THREAD(isMainThread() || !*alive_, "the main thread, or the manager's end");
  if (progressTimer) progressTimer->invalidate();
  progressTimer = nullptr;
  if (heartbeatsTimer) heartbeatsTimer->invalidate();
  heartbeatsTimer = nullptr;
}

void OVDownloadMgr::DownloadFile() {
  OV_OFF_MAIN_THREAD();
  // A cancel from now on wins over this start, however far the start has got.
  const std::uint64_t cancels = cancels_.load();
  const auto cancelled = [this, cancels] { return cancels_.load() != cancels; };
  systemLog(QStringLiteral("[OVDownloader]Download begin"));
  acquireNoSleepAssertion();
  std::uint64_t run = 0;
  {
    // A report of the earlier run may still be reading the duration. The run
    // changes under the same lock as the chunk list, so a completion of the
    // earlier run either has done its bookkeeping before or does none.
    std::unique_lock lk(lock);
    previousStartTime = now();
    previousDownloadDuration = 0;
    run = ++transferRun_;
    renewedLink_.clear();
    renewingLink_ = false;
  }
  cancelChunkRequests();
  // The link and the size the preparation settled serve its first run. A
  // later run (the Retry after a failure, the restart after a failed check)
  // may come hours later, when a signed link has expired or the installer
  // was replaced: both are asked for again, and what arrived is kept only
  // for the same installer. To the service it is the same download still.
  if (linkUsed_.exchange(true)) {
    const auto failure = renewLinkAndSize();
    const bool given = cancelled();
    // The run ends here either way; a completion of the earlier one finds it over.
    if (given || failure) bCancel = true;
    if (given) return releaseNoSleepAssertion();
    if (failure) return notifyDelegateAndWait(*failure);
  }
  resetDownload(DownloadReset::NewRun);

  const std::int64_t size = i64FileSize.load();
  dataChuckCount = size <= 0 ? 0 : size / kChunkLength + (size % kChunkLength != 0 ? 1 : 0);
  outputLine(QStringLiteral("localPath, dataChuckCount = ") + QString::number(dataChuckCount));

  std::vector<bool> onDisk(static_cast<std::size_t>(dataChuckCount), false);
  const bool ready = dataChuckCount == 0 || restoreFromDisk(onDisk);
  const std::int64_t appended = ready ? assembly_.appendedParts() : 0;
  std::vector<DownloadTask> plan;
  std::vector<DownloadTask> missing;
  std::vector<TransferWindow::ChunkState> states;
  std::vector<double> progress(static_cast<std::size_t>(dataChuckCount), 0.0);
  std::int64_t received = 0;
  for (std::int64_t i = 0; i < dataChuckCount; ++i) {
    const std::int64_t start = i * kChunkLength;
    DownloadTask task{start, std::min(start + kChunkLength - 1, size - 1), *sourceUrl, *fileUrl, i};
    using State = TransferWindow::ChunkState;
    if (onDisk[static_cast<std::size_t>(i)]) {
      // Bytes a failed run or an earlier process already brought count as received.
      received += task.length();
      progress[static_cast<std::size_t>(i)] = 1.0;
      states.push_back(i < appended ? State::Appended : State::Arrived);
    } else {
      missing.push_back(task);
      states.push_back(State::Waiting);
    }
    plan.push_back(std::move(task));
  }
  const std::size_t remaining = missing.size();
  {
    std::unique_lock lk(lock);
    lstTasks = std::move(missing);
    currentReceivedSize = received;
  }
  window_.reset(run, std::move(plan), std::move(states));
  // The cancel cleared away what it found, but the setup may have made more
  // since; from here on, a cancel stops this run like any other.
  if (cancelled()) {
    bCancel = true;
    window_.stop(run);
    discardPartialDownload();
    return releaseNoSleepAssertion();
  }
  // The per-chunk lists belong to the main thread; this runs before any
  // progress of the new requests can arrive there.
  postToMain([this, cancelled, progress = std::move(progress)] {
    if (cancelled()) return;
    listProgress = progress;
    startTimers();
  });
  sendReports([this] {
    sendLog_UpdateSize();
    sendLog_UpdateStatus(statusName(STATUS_ID::SI_DOWNLOADING), QString(), QString());
  });

  if (!ready) {
    bCancel = true;
    window_.stop(run);
    notifyDelegateAndWait(ERROR_Code::E_DOWNLOAD_FAILED);
    return;
  }
  outputLine(QStringLiteral("self.lstTasks.count = ") + QString::number(remaining));
  if (dataChuckCount == 0) {
    notifyDelegate([](DownloadProxy& delegate) { delegate.onDownloadFailed(ERROR_Code::E_DOWNLOAD_FAILED); });
    return;
  }
  processTasks();
  // Everything may have been on disk already: then only the merge's last step is left.
  checkTasksStatus();
}

void OVDownloadMgr::removeStrayFiles() {
  const QString folder = tempFolderPath();
  const QString stateName = QFileInfo(statePath()).fileName();
  const auto [directory, base, ext] = splitFilename(*fileUrl);
  const QString partPrefix = base + u'.' + ext + u'.';
  for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    bool isPart = false;
    if (name.startsWith(partPrefix)) name.mid(partPrefix.size()).toLongLong(&isPart);
    if (!isPart && name != stateName) QFile::remove(QDir(folder).filePath(name));
  }
}

bool OVDownloadMgr::restoreFromDisk(std::vector<bool>& onDisk) {
  OV_OFF_MAIN_THREAD();
  const QString target = fileUrl->toLocalFile();
  const std::int64_t size = i64FileSize.load();
  const auto partLength = [size](std::int64_t i) { return std::min(kChunkLength, size - i * kChunkLength); };
  std::int64_t appended = 0;
  // Nothing in the folder of parts is followed: a link in its place goes first.
  QString error;
  if (!makePrivateFolder(QDir::cleanPath(tempFolderPath()), error)) {
    logMergeFailure(error);
    return false;
  }
  const auto state = TransferState::load(statePath());
  const bool keep = state && state->describes(*sourceUrl, size, szETag, kChunkLength) &&
                    state->appendedParts <= dataChuckCount && regularFileSize(target) == size;
  if (keep) {
    // The installer is trusted up to the parts the state counted, and of the
    // parts on disk only those flushed before it was written, at exactly
    // their length: a power cut may have lost the bytes of any other.
    appended = state->appendedParts;
    const std::set<std::int64_t> flushed(state->flushedParts.begin(), state->flushedParts.end());
    for (std::int64_t i = 0; i < dataChuckCount; ++i) {
      const QString part = partFilePath(*fileUrl, i);
      const bool trusted = i >= appended && flushed.contains(i) && regularFileSize(part) == partLength(i);
      onDisk[static_cast<std::size_t>(i)] = i < appended || trusted;
      if (trusted || entryKind(part) == EntryKind::None) continue;
      // Appended just before the process ended, or not to be trusted.
      if (i >= appended)
        outputLine(QStringLiteral("OVDownloadMgr::DownloadFile(), part %1 on disk cannot be trusted; fetched "
                                  "again")
                       .arg(i));
      QFile::remove(part);
    }
    // Bodies that were under way when the process ended.
    removeStrayFiles();
  } else {
    if (state || entryKind(tempFolderPath()) != EntryKind::None)
      outputLine(QStringLiteral("OVDownloadMgr::DownloadFile(), nothing on disk can be reused; from zero"));
    discardPartialDownload();
    std::fill(onDisk.begin(), onDisk.end(), false);
  }

  // Checkpoints record this installer, cut this way; without a strong tag
  // nothing could be reused, so nothing is recorded.
  InstallerAssembly::Layout layout{target,
                                   [this](std::int64_t i) { return partFilePath(*fileUrl, i); },
                                   size,
                                   kChunkLength,
                                   dataChuckCount,
                                   isStrongEtag(szETag) ? statePath() : QString(),
                                   TransferState{*sourceUrl, size, szETag, kChunkLength, 0, {}}};
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
  // Apart from the transfer: a flush must not hold up a request's start.
  downloadTaskQueue->async([this, now, work = beginAsyncWork()] { checkpoint(now); });
}

void OVDownloadMgr::checkpoint(bool now, bool waitForOther) {
  // Another thread at it may count fewer parts: one that must record the
  // count as it is now waits for it, the others leave the work to it.
  std::unique_lock lk(checkpointTurnMutex_, std::defer_lock);
  if (waitForOther) {
    lk.lock();
  } else if (!lk.try_lock()) {
    checkpointOwed_ = true;
    return;
  }
  const auto time = std::chrono::steady_clock::now();
  if (!now && time - lastCheckpoint_ < std::chrono::seconds(2)) {
    // The progress timer brings it up to date once the time has come.
    checkpointOwed_ = true;
    return;
  }
  checkpointOwed_ = false;
  lastCheckpoint_ = time;
  QString error;
  // Nothing and no error: nothing is recorded for this installer, or it is
  // already finished or abandoned. A count of an assembly discarded or
  // reopened meanwhile is dropped, not recorded for the new one.
  if (const auto taken = assembly_.checkpoint(error)) assembly_.record(*taken, error);
  if (!error.isEmpty()) outputLine(QStringLiteral("OVDownloadMgr::checkpoint(), ") + error);
}

void OVDownloadMgr::appendArrivedParts(std::uint64_t run) {
  QString error;
  if (!assembly_.appendArrived(error)) return failTransfer(run, error);
  window_.appended(run, assembly_.appendedParts());
  scheduleCheckpoint(false);
}

void OVDownloadMgr::processTasks() {
  OV_OFF_MAIN_THREAD();
  if (bCancel) return;
  const std::uint64_t run = transferRun_.load();
  // While a fresh link is on its way, whatever started would meet the refusal again.
  const auto steps = window_.next(run, bPause || renewingLink_);
  for (const auto& piece : steps.starts) doDownload(piece);
  for (const auto& split : steps.splits) {
    DownloadTask whole = split.front;
    whole.chunkEnd = split.back.chunkEnd;
    outputLine(QStringLiteral("OVDownloadMgr::processTasks(), split %1 of part %2: %3 to a second request")
                   .arg(rangeText(whole))
                   .arg(whole.partIndex)
                   .arg(rangeText(split.back)));
    split.request->narrowEnd(split.front.chunkEnd,
                             [this, run, back = split.back, work = beginAsyncWork()](bool narrowed) {
                               OV_ON_QUEUE("DownloadMgrTaskQueue");
                               window_.narrowed(run, back, narrowed);
                               // Starts the second request, or uses the slot otherwise.
                               if (run == transferRun_.load()) processTasks();
                             });
  }
}

QString OVDownloadMgr::pieceFilePath(const DownloadTask& piece) const {
  return partFilePath(piece.localPath, piece.partIndex) + u'.' + QString::number(piece.chuckStart);
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
  // A chunk asked for whole goes to its part file; every other piece (the
  // second half of a split, a first half asked for again) lies under a name
  // no attempt takes for a part (and a later one removes), so the part file
  // only ever appears whole.
  const std::int64_t chunkStart = task.partIndex * kChunkLength;
  const bool whole = task.chuckStart == chunkStart &&
                     task.chunkEnd == std::min(chunkStart + kChunkLength, i64FileSize.load()) - 1;
  options.destination = whole ? partFilePath(task.localPath, task.partIndex) : pieceFilePath(task);
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
                                                       double) {
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
    // The chunk's share on disk, over all of its pieces; a narrowing may make
    // one request's own fraction jump.
    if (task.partIndex >= 0 && static_cast<size_t>(task.partIndex) < listProgress.size()) {
      double& fraction = listProgress[static_cast<size_t>(task.partIndex)];
      fraction = std::max(fraction, window_.fraction(run, task.partIndex));
    }
  };

  options.completionQueue = downloadTaskQueue;
  options.completion = [this, task, run, work = beginAsyncWork()](const DownloadResponse& answer) {
    OV_ON_QUEUE("DownloadMgrTaskQueue");
    if (run == transferRun_.load()) chunkRequestEnded(task, run, answer);
  };

  auto request = downloadSession()->download(std::move(options));
  // A run that was stopped meanwhile has no use for it.
  if (!window_.started(run, task, request)) return request->cancel();
  // Started while paused (the pause came after this piece was handed out):
  // it waits parked, whether or not it ever reports progress.
  if (bPause) {
    postToMain([this, run, request] {
      if (run != transferRun_.load() || !bPause || request->isSuspended()) return;
      listDLRequest.push_back(request);
      request->suspend();
    });
  }
}

void OVDownloadMgr::chunkRequestEnded(const DownloadTask& piece, std::uint64_t run,
                                      const DownloadResponse& answer) {
  if (answer.error) outputLine(QString::fromStdString(answer.error->description));
  std::optional<std::int64_t> bytes;
  if (!answer.error) bytes = regularFileSize(answer.destination);
  if (!bytes && answer.response) {
    const auto announced = announcedFileSize(*answer.response);
    if (announced && *announced != i64FileSize.load()) sizeMismatch_ = true;
  }
  // A chunk's first piece that was narrowed leaves the part file's name to
  // the whole chunk before the window learns of it, so that whichever piece
  // ends last finds every piece under its own name.
  const bool narrowedFront = bytes && answer.destination == partFilePath(piece.localPath, piece.partIndex) &&
                             *bytes < piece.length();
  if (narrowedFront) {
    QString error;
    if (!moveFile(answer.destination, pieceFilePath(piece), error)) {
      outputLine(QStringLiteral("OVDownloadMgr::doDownload(), ") + error);
      bytes.reset();
    }
  }
  // A refused link (403, 410) is most likely a signed one that expired: the
  // piece waits for a fresh link instead of failing the download, unless it
  // was refused the fresh link already.
  const bool again = !bytes && linkRefused(answer) && mayRenewLinkFor(piece);
  const auto end = window_.ended(run, piece, bytes, again);
  if (!end.known) return;
  ++handledTaskInARound;
  // Requests ended after a failure or a cancel are not failures of their own.
  if ((end.failed || end.again) && bCancel) return;
  if (end.failed) ++taskFailCount;
  if (answer.response)
    outputLine(QStringLiteral("OVDownloadMgr::doDownload() Status Code = ") +
               QString::number(answer.response->statusCode));
  if (bCancel) return;
  if (end.again) return renewLink(run);
  if (end.failed) return failTransfer(run);
  if (end.pieces.empty()) return processTasks();
  if (end.pieces.size() > 1) {
    QString error;
    if (!joinPieces(end.pieces, error)) return failTransfer(run, error);
  }
  const QString part = partFilePath(piece.localPath, piece.partIndex);
  const DownloadTask& chunk = end.pieces.front();
  const std::int64_t length = end.pieces.back().chunkEnd - chunk.chuckStart + 1;
  // A part counts only at exactly its chunk's length.
  if (regularFileSize(part) != length) return failTransfer(run);
  {
    std::unique_lock lk(lock);
    if (run != transferRun_.load()) return;
    const auto found = std::find_if(lstTasks.begin(), lstTasks.end(), [&](const DownloadTask& task) {
      return task.partIndex == piece.partIndex;
    });
    if (found != lstTasks.end()) {
      currentReceivedSize += found->length();
      lstTasks.erase(found);
    }
  }
  // The assembly hears of the part first: once the window counts every
  // chunk as arrived, another request's end may finish the installer at once.
  assembly_.markArrived(piece.partIndex);
  window_.arrived(run, piece.partIndex);
  // The slot goes to the next chunk before the part is appended: the
  // transfer never waits for the disk.
  processTasks();
  appendArrivedParts(run);
  // The part may have let the window move on.
  processTasks();
  checkTasksStatus();
}

bool OVDownloadMgr::linkRefused(const DownloadResponse& answer) {
  return answer.error && answer.response &&
         (answer.response->statusCode == 403 || answer.response->statusCode == 410);
}

bool OVDownloadMgr::mayRenewLinkFor(const DownloadTask& piece) {
  std::shared_lock lk(lock);
  return piece.cloudPath != renewedLink_;
}

void OVDownloadMgr::renewLink(std::uint64_t run) {
  bool ask = false;
  {
    std::unique_lock lk(lock);
    if (run != transferRun_.load()) return;
    ask = renewedLink_.isEmpty() && !renewingLink_;
    if (ask) renewingLink_ = true;
  }
  // Renewed already: the piece starts again with the fresh link. Being
  // renewed: it starts once the fresh link is there.
  if (!ask) return processTasks();
  outputLine(
      QStringLiteral("OVDownloadMgr::doDownload(), the link was refused; asking the service for a "
                     "fresh one"));
  // Off the task queue: the service may take its time to answer.
  globalUtilityQueue().async([this, run, work = beginAsyncWork()] { renewLinkDuringRun(run); });
}

void OVDownloadMgr::renewLinkDuringRun(std::uint64_t run) {
  OV_OFF_MAIN_THREAD();
  const QString link = queryDownLoadURL();
  QString current;
  {
    std::shared_lock lk(lock);
    if (run != transferRun_.load() || bCancel) return;
    current = sourceUrl.value_or(QString());
  }
  // Only a link to the same file will do; a new signature changes only the query.
  if (!sameResource(link, current)) {
    outputLine(QStringLiteral("OVDownloadMgr::doDownload(), no fresh link to the same installer"));
    return failTransfer(run);
  }
  // The window first: a piece refused meanwhile must not start with the old link.
  window_.relink(run, link);
  {
    std::unique_lock lk(lock);
    if (run != transferRun_.load()) return;
    sourceUrl = link;
    renewedLink_ = link;
    renewingLink_ = false;
  }
  processTasks();
}

bool OVDownloadMgr::joinPieces(const std::vector<DownloadTask>& pieces, QString& error) {
  // Put together under the first piece's own name and renamed into place at
  // the end, so that the part file is never seen short.
  const DownloadTask& first = pieces.front();
  const QString joined = pieceFilePath(first);
  AssembledFile file;
  if (!file.open(joined, false, error)) return false;
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const DownloadTask& piece = pieces[i];
    if (!file.copyFrom(pieceFilePath(piece), piece.chuckStart - pieces.front().chuckStart, piece.length(),
                       nullptr, error))
      return false;
  }
  // Part files are never flushed: a crash costs at most their download again.
  file.abandon();
  for (std::size_t i = 1; i < pieces.size(); ++i) QFile::remove(pieceFilePath(pieces[i]));
  return moveFile(joined, partFilePath(first.localPath, first.partIndex), error);
}

void OVDownloadMgr::checkTasksStatus() {
  OV_OFF_MAIN_THREAD();
  if (bCancel || !window_.claimEnd(transferRun_.load())) return;
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

void OVDownloadMgr::failTransfer(std::uint64_t run, const QString& mergeError) {
  OV_OFF_MAIN_THREAD();
  // Once: the first failure ends the run, and so does a cancel before it.
  if (run != transferRun_.load() || bCancel.exchange(true)) return;
  if (!mergeError.isEmpty()) logMergeFailure(mergeError);
  // Nothing new starts, and what is still under way is ended.
  cancelChunkRequests();
  if (sizeMismatch_) return failSizeCheck();
  // What did arrive goes into the installer, and into the state file, for the
  // Retry. The pieces of split chunks are not kept: only whole parts are.
  removeStrayFiles();
  QString ignored;
  assembly_.appendArrived(ignored);
  checkpoint(true, true);
  // Wait until the window has handled the failure (a modal dialog included).
  notifyDelegateAndWait(ERROR_Code::E_DOWNLOAD_FAILED);
}

void OVDownloadMgr::failSizeCheck() {
  OV_OFF_MAIN_THREAD();
  sendReports([this] { sendLog_UpdateStatus(statusName(STATUS_ID::SI_MD5FAILED), QString(), QString()); });
  discardPartialDownload();
  notifyDelegateAndWait(ERROR_Code::E_SIZE_CHECK_FAILED);
}

void OVDownloadMgr::cancelChunkRequests() {
  window_.stop(window_.run());
  for (const auto& request : window_.requests()) request->cancel();
}

}  // namespace ov
