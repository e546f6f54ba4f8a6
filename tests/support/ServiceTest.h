#pragma once

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/OVDownloadMgr.h"
#include "platform/NotificationCenter.h"
#include "tests/support/LocalService.h"
#include "tests/support/SandboxedTest.h"

namespace ov::test {

inline constexpr std::int64_t kChunk = 5'242'880;
inline const QString kSetup = QStringLiteral("Setup.pkg");  // the installer most tests serve
using Report = std::pair<std::string, std::string>;         // a status report's status and detail_status
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The POSTs `service` received at /prog/util/downloader/<endpoint>, in arrival order.
std::vector<refservice::RequestRecord> postsTo(const refservice::ReferenceService& service,
                                               const std::string& endpoint);

// The window as the engine sees it. Every call is recorded in order; the
// engine must make them on the main thread only.
class RecordingProxy : public DownloadProxy {
 public:
  void onDownloadProgress(double dProgress) override { record(progress_, dProgress); }
  void onFileCompleteDownload() override { record(completions_, 1); }
  void onDownloadFailed(ERROR_Code code) override { record(failures_, code); }
  bool checkRetryDownload() override { return false; }

  std::vector<double> progress() const { return read(progress_); }
  std::vector<ERROR_Code> failures() const { return read(failures_); }
  int completions() const { return static_cast<int>(read(completions_).size()); }
  // Whether any call came on another thread than the main one.
  bool calledOffMainThread() const { return offMain_.load(); }

 private:
  template <typename T>
  void record(std::vector<T>& calls, T value) {
    if (!isMainThread()) offMain_ = true;
    std::lock_guard lk(mutex_);
    calls.push_back(value);
  }
  template <typename T>
  std::vector<T> read(const std::vector<T>& calls) const {
    std::lock_guard lk(mutex_);
    return calls;
  }

  mutable std::mutex mutex_;
  std::vector<double> progress_;
  std::vector<ERROR_Code> failures_;
  std::vector<int> completions_;  // one entry per call
  std::atomic<bool> offMain_{false};
};

// The last layer of the chain: the reference service on loopback as the
// program's download service, serving the installers of a fresh folder; the
// reachability, free-space and keep-awake seams answered by the fields below;
// and a fresh manager whose window is `proxy_`. The test body runs on the main
// thread, like the window, and spins the main loop whenever it waits.
class ServiceTest : public ToolkitTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Cancels what still runs, lets the main loop deliver what was posted, and
  // ends the manager (which waits for its work in flight).
  void endManager();

  // Serves `size` pattern bytes as /installers/<name>; answers the link.
  QString addInstaller(const QString& name, std::int64_t size);
  QString installerPath(const QString& name) const {
    return sandbox_->path(QStringLiteral("installers/") + name);
  }
  void setScenario(const std::function<void(refservice::Scenario&)>& change) {
    service_->updateScenario(change);
  }

  // Gives the manager what preparation would: link, save location, size,
  // report token and, when `probe`, the ETag of a HEAD request to the link.
  // Forgets the requests so far.
  void prepare(const QString& link, std::int64_t size, bool probe = true);
  // The whole preparation on a background queue, as the window starts it,
  // and its outcome delivered: true when the download became ready.
  bool prepareForReal();
  // Runs `call` on a thread of its own and waits for it: the service's
  // blocking requests refuse the main thread.
  template <class Call>
  static auto offMain(Call call) {
    return std::async(std::launch::async, call).get();
  }
  // DownloadFile() on the global utility queue, as the window calls it.
  void startDownload() {
    globalUtilityQueue().async([mgr = mgr_.get()] { mgr->DownloadFile(); });
  }
  // Until the download completed or failed.
  bool waitForOutcome() {
    return waitFor([&] { return proxy_->completions() > 0 || !proxy_->failures().empty(); }, 60s);
  }
  // Until the installer was handed to the opener (terminate) or a failure was shown.
  bool waitForEnd() {
    return waitFor([&] { return toolkit_->terminateCount() > 0 || !proxy_->failures().empty(); }, 60s);
  }

  // POSTs to /prog/util/downloader/<endpoint>, in arrival order.
  std::vector<refservice::RequestRecord> posts(const std::string& endpoint) const {
    return postsTo(*service_, endpoint);
  }
  // (status, detail_status) of every status report, in arrival order.
  std::vector<Report> statusReports() const;
  bool waitForStatusReports(std::size_t count) {
    return waitFor([&] { return statusReports().size() >= count; });
  }
  // The installer GETs, in arrival order, and their Range values.
  std::vector<refservice::RequestRecord> chunkRequests() const;
  std::vector<std::string> chunkRanges() const;
  // How many installer GETs wait for a hold to be released.
  std::int64_t heldRequests() const {
    const auto gets = chunkRequests();
    return std::count_if(gets.begin(), gets.end(), [](const auto& r) { return r.held; });
  }

  std::size_t tasksLeft();
  QString saveLocation() const { return mgr_->fileUrl->toLocalFile(); }
  QString tempFolder() const;
  QString downloadsPath(const QString& name) const { return sandbox_->downloads() + u'/' + name; }

  std::unique_ptr<LocalService> service_;
  std::shared_ptr<RecordingProxy> proxy_;
  std::unique_ptr<OVDownloadMgr> mgr_;
  // What the seams answer; set them before the code under test asks.
  std::atomic<bool> reachable_{true};
  std::optional<std::int64_t> freeSpace_ = 50'000'000'000;
  std::atomic<int> assertionsMade_{0};  // keep-awake assertions taken
  std::atomic<int> assertionsHeld_{0};  // and not yet released
  int ready_ = 0;                       // ReadyToDownload notifications

 private:
  NotificationCenter::Token readyToken_ = 0;
};

}  // namespace ov::test
