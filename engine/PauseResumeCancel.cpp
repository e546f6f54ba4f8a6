#include "engine/OVDownloadMgr.h"
#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "platform/Utility.h"
#include "service/StatusReport.h"

namespace ov {

void OVDownloadMgr::PauseDownload() {
  OV_ON_MAIN_THREAD();
  systemLog(QStringLiteral("[OVDownloader]Pause Download"));
  releaseNoSleepAssertion();
  bPause = true;
  const double active = getCurrentDownloadDuration();
  downloadDuration = active;
  {
    std::unique_lock lk(lock);  // a report may be reading the duration on another thread
    previousDownloadDuration = active;
  }
  stopTimers();
  // A request that has not yet received a byte, or whose answer names no
  // length, may never report progress to be parked at: park it now.
  for (const auto& request : window_.requests()) {
    // A request that ended may still be held by its completion, on its way.
    if (request->isSuspended() || request->isFinished()) continue;
    listDLRequest.push_back(request);
    request->suspend();
  }
  // A pause may last until the machine is switched off: what arrived is kept.
  scheduleCheckpoint(true);
}

void OVDownloadMgr::ResumeDownload() {
  OV_ON_MAIN_THREAD();
  acquireNoSleepAssertion();
  systemLog(QStringLiteral("[OVDownloader]Resume Download"));
  bPause = false;
  {
    std::unique_lock lk(lock);  // a report may be reading the duration on another thread
    previousStartTime = now();
  }
  postToMain([this] { startTimers(); });
  for (const auto& request : listDLRequest) request->resume();
  listDLRequest.clear();
  // What could not start while paused (the next chunks, the second halves of
  // split ones) starts now.
  downloadTaskQueue->async([this, work = beginAsyncWork()] { processTasks(); });
}

void OVDownloadMgr::CancelDownload(bool bSendCancelLog,
                                   std::function<void()> sendCancelLog_CompletionHandler) {
  OV_ON_MAIN_THREAD();
  systemLog(QStringLiteral("[OVDownloader]Cancel Download"));
  // Before the flag: a start still setting up sees one or the other.
  ++cancels_;
  releaseNoSleepAssertion();
  bCancel = true;
  sharedHttpClient().cancelAllRequests();
  // Chunk requests still running would otherwise go on writing part files of
  // an abandoned download, and a restart would race them for the same names.
  cancelChunkRequests();
  resetDownload(DownloadReset::Cancel);
  notifyDelegate([](DownloadProxy& delegate) { delegate.onDownloadProgress(0.0); });
  stopTimers();
  // Neither the parts nor the partly assembled installer outlive a cancel.
  discardPartialDownload();
  if (!bSendCancelLog) return;
  sendReports([this, handler = std::move(sendCancelLog_CompletionHandler)] {
    sendLog_UpdateStatus(statusName(STATUS_ID::SI_CANCEL), QString(), QString());
    if (handler) handler();
  });
}

}  // namespace ov
