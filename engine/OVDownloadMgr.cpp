#include "engine/OVDownloadMgr.h"

#include <chrono>

#include "platform/Log.h"

OVDownloadMgr& OVDownloadMgr::shared() {
  // Created once, on first use, thread-safely; never destroyed while the program runs.
  static OVDownloadMgr* manager = new OVDownloadMgr;
  return *manager;
}

std::unique_ptr<OVDownloadMgr> OVDownloadMgr::makeForTesting() {
  return std::unique_ptr<OVDownloadMgr>(new OVDownloadMgr);
}

OVDownloadMgr::OVDownloadMgr() : downloadTaskQueue(ov::makeConcurrentQueue("DownloadMgrTaskQueue")) {
  ov::systemLog(QStringLiteral("[OVDownloader]OVDownloadMgr init!"));
}

OVDownloadMgr::~OVDownloadMgr() {
  ov::outputLine(QStringLiteral("OVDownloadMgr deinit"));
  *alive_ = false;
  if (progressTimer) progressTimer->invalidate();
  progressTimer = nullptr;
  if (heartbeatsTimer) heartbeatsTimer->invalidate();
  heartbeatsTimer = nullptr;
  // Reports and completion handlers still in flight refer to this manager.
  std::unique_lock lk(asyncMutex_);
  asyncDone_.wait_for(lk, std::chrono::seconds(90), [this] { return asyncWork_ == 0; });
}

void OVDownloadMgr::postToMain(std::function<void()> task) {
  ov::mainQueue().async([alive = alive_, task = std::move(task)] {
    if (*alive) task();
  });
}

void OVDownloadMgr::notifyDelegate(std::function<void(DownloadProxy&)> call) {
  postToMain([this, call = std::move(call)] {
    if (auto delegate = downloadDelegate.lock()) call(*delegate);
  });
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

std::shared_ptr<ov::DownloadSession> OVDownloadMgr::downloadSession() {
  std::lock_guard lk(sessionMutex_);
  if (!alamoFireDownloadSession)
    alamoFireDownloadSession = ov::makeDownloadSession(downloadSessionConfiguration);
  return alamoFireDownloadSession;
}
