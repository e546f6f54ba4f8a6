#include "engine/OVDownloadMgr.h"
#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/Utility.h"
#include "service/StatusReport.h"

void OVDownloadMgr::PauseDownload() {
  ov::systemLog(QStringLiteral("[OVDownloader]Pause Download"));
  releaseNoSleepAssertion();
  bPause = true;
  const double active = getCurrentDownloadDuration();
  downloadDuration = active;
  {
    std::unique_lock lk(lock);  // a report may be reading the duration on another thread
    previousDownloadDuration = active;
  }
  stopTimers();
}

void OVDownloadMgr::ResumeDownload() {
  acquireNoSleepAssertion();
  ov::systemLog(QStringLiteral("[OVDownloader]Resume Download"));
  bPause = false;
  {
    std::unique_lock lk(lock);  // a report may be reading the duration on another thread
    previousStartTime = ov::now();
  }
  postToMain([this] { startTimers(); });
  for (const auto& request : listDLRequest) request->resume();
  listDLRequest.clear();
}

void OVDownloadMgr::CancelDownload(bool bSendCancelLog,
                                   std::function<void()> sendCancelLog_CompletionHandler) {
  ov::systemLog(QStringLiteral("[OVDownloader]Cancel Download"));
  releaseNoSleepAssertion();
  bCancel = true;
  ov::sharedHttpClient().cancelAllRequests();
  // Chunk requests still running would otherwise go on writing part files of
  // an abandoned download, and a restart would race them for the same names.
  cancelChunkRequests();
  totalFileSize = 0;
  currentReceivedSize = 0;
  {
    std::unique_lock lk(lock);
    lstTasks.clear();
  }
  listProgress.clear();
  notifyDelegate([](DownloadProxy& delegate) { delegate.onDownloadProgress(0.0); });
  stopTimers();
  removeTempFiles();
  if (!bSendCancelLog) return;
  ov::globalUtilityQueue().async(
      [this, handler = std::move(sendCancelLog_CompletionHandler), work = beginAsyncWork()] {
        sendLog_UpdateStatus(statusName(STATUS_ID::SI_CANCEL), QString(), QString());
        if (handler) handler();
      });
}
