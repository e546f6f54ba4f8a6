#include "engine/OVDownloadMgr.h"

#include <chrono>

#include "platform/Log.h"
#include "platform/TerminationSignals.h"
#include "platform/ThreadCheck.h"
#include "platform/Utility.h"

namespace ov {

OVDownloadMgr& OVDownloadMgr::shared() {
  // Created once, on first use, thread-safely; never destroyed while the program runs.
  static OVDownloadMgr* manager = [] {
    auto* created = new OVDownloadMgr;
    // Every way out of the program leaves no part of a download behind.
    setCleanupBeforeExit([created] { created->discardPartialDownload(); });
    return created;
  }();
  return *manager;
}

std::unique_ptr<OVDownloadMgr> OVDownloadMgr::makeForTesting() {
  return std::unique_ptr<OVDownloadMgr>(new OVDownloadMgr);
}

OVDownloadMgr::OVDownloadMgr()
    : downloadTaskQueue(makeConcurrentQueue("DownloadMgrTaskQueue")),
      reportQueue_(makeSerialQueue("reports")) {
  systemLog(QStringLiteral("[OVDownloader]OVDownloadMgr init!"));
}

OVDownloadMgr::~OVDownloadMgr() {
  outputLine(QStringLiteral("OVDownloadMgr deinit"));
  *alive_ = false;
  stopTimers();
  // Reports and completion handlers still in flight refer to this manager.
  std::unique_lock lk(asyncMutex_);
  asyncDone_.wait_for(lk, std::chrono::seconds(90), [this] { return asyncWork_ == 0; });
}

void OVDownloadMgr::postToMain(std::function<void()> task) {
  mainQueue().async([alive = alive_, task = std::move(task)] {
    if (*alive) task();
  });
}

void OVDownloadMgr::notifyDelegate(std::function<void(DownloadProxy&)> call) {
  postToMain([this, call = std::move(call)] {
    if (auto delegate = downloadDelegate.lock()) call(*delegate);
  });
}

void OVDownloadMgr::runOnMainAndWait(std::function<void()> task) {
  OV_OFF_MAIN_THREAD();
  auto done = std::make_shared<Semaphore>(0);
  mainQueue().async([alive = alive_, task = std::move(task), done] {
    if (*alive) task();
    done->signal();
  });
  // A manager that ends meanwhile (tests) waits for this very thread.
  while (!done->waitFor(std::chrono::milliseconds(50)))
    if (!*alive_) return;
}

void OVDownloadMgr::notifyDelegateAndWait(ERROR_Code code) {
  runOnMainAndWait([this, code] {
    if (auto delegate = downloadDelegate.lock()) delegate->onDownloadFailed(code);
  });
}

bool OVDownloadMgr::sendReports(std::function<void()> reports, bool wait) {
  // One serial queue: the service sees "Downloading" before "Complete" even
  // when a download takes less time than a report.
  auto sent = std::make_shared<Semaphore>(0);
  reportQueue_->async([reports = std::move(reports), sent, work = beginAsyncWork()] {
    reports();
    sent->signal();
  });
  if (!wait) return true;
  // A termination signal is handled by the event loop this thread is keeping
  // from running: it must not wait behind a service that answers slowly.
  while (!sent->waitFor(std::chrono::milliseconds(50)))
    if (TerminationSignals::requested()) return false;
  return true;
}

std::shared_ptr<void> OVDownloadMgr::beginAsyncWork() {
  {
    std::lock_guard lk(asyncMutex_);
    ++asyncWork_;
  }
  return std::shared_ptr<void>(nullptr, [this](void*) {
    std::lock_guard lk(asyncMutex_);
    if (--asyncWork_ == 0) asyncDone_.notify_all();
  });
}

void OVDownloadMgr::resetDownload(DownloadReset reset) {
  if (reset != DownloadReset::Cancel) {
    bCancel = false;
    bPause = false;
  }
  if (reset != DownloadReset::NewRun) totalFileSize = 0;
  if (reset == DownloadReset::Preparation) {
    i64FileSize = 0;
    dataChuckCount = 0;
    linkUsed_ = false;
  }
  taskFailCount = 0;
  handledTaskInARound = 0;
  sizeMismatch_ = false;
  {
    std::unique_lock lk(lock);
    lstTasks.clear();
    currentReceivedSize = 0;
  }
  auto clearLists = [this] {
    listProgress.clear();
    listDLRequest.clear();
  };
  if (isMainThread()) {
    clearLists();
  } else {
    postToMain(clearLists);
  }
}

std::shared_ptr<DownloadSession> OVDownloadMgr::downloadSession() {
  std::lock_guard lk(sessionMutex_);
  if (!alamoFireDownloadSession) alamoFireDownloadSession = makeDownloadSession(downloadSessionConfiguration);
  return alamoFireDownloadSession;
}

}  // namespace ov
