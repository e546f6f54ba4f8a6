#pragma once

// Shared set-up of the engine tests: a sandboxed home, the scripted toolkit,
// both log channels captured, the reference service answering the reports and
// serving installers, and a fresh manager with a recording window.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/OVDownloadMgr.h"
#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Utility.h"
#include "service/ServiceRequest.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LocalService.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "tests/support/ScriptedToolkit.h"
#include "tools/refservice/ReferenceService.h"

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace enginetest {

constexpr std::int64_t kChunk = 5'242'880;

// Deterministic pseudo-random bytes, so a chunk stored at the wrong offset
// shows as wrong content.
inline std::string patternBytes(std::int64_t size, std::uint32_t seed = 0x9e3779b9u) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::uint32_t x = seed;
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<char>(x >> 24);
  }
  return bytes;
}

inline QByteArray readWholeFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

inline void writeWholeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    throw std::runtime_error("cannot write " + path.toStdString());
}

// An installer file of `size` pattern bytes named `name`, made once per test
// binary and shared by the tests (hard-linked into each service's folder).
inline QString shelfInstaller(const QString& name, std::int64_t size) {
  static QTemporaryDir shelf(QDir::tempPath() + QStringLiteral("/ovdownloader-engine-shelf-XXXXXX"));
  static std::mutex mutex;
  std::lock_guard lk(mutex);
  const QString path = shelf.path() + u'/' + QString::number(size) + u'/' + name;
  if (!QFileInfo::exists(path)) {
    const std::string bytes = patternBytes(size);
    writeWholeFile(path, QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
  }
  return path;
}

// Whether two files hold the same bytes.
inline bool sameFileContents(const QString& a, const QString& b) {
  QFile fa(a);
  QFile fb(b);
  if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size()) return false;
  while (!fa.atEnd())
    if (fa.read(1 << 20) != fb.read(1 << 20)) return false;
  return true;
}

// The window as the engine sees it. Every call is recorded in order with the
// thread it came on; the engine must call it on the main thread only.
class RecordingProxy : public DownloadProxy {
 public:
  void onDownloadProgress(double dProgress) override {
    note("progress");
    std::lock_guard lk(mutex_);
    progress_.push_back(dProgress);
  }
  void onFileCompleteDownload() override {
    note("complete");
    std::lock_guard lk(mutex_);
    ++completions_;
  }
  void onDownloadFailed(ERROR_Code code) override {
    note("failed:" + std::to_string(static_cast<int>(code)));
    std::function<void(ERROR_Code)> hook;
    {
      std::lock_guard lk(mutex_);
      failures_.push_back(code);
      hook = failureHook_;
    }
    if (hook) hook(code);
  }
  bool checkRetryDownload() override { return false; }

  std::vector<double> progress() const {
    std::lock_guard lk(mutex_);
    return progress_;
  }
  std::vector<ERROR_Code> failures() const {
    std::lock_guard lk(mutex_);
    return failures_;
  }
  int completions() const {
    std::lock_guard lk(mutex_);
    return completions_;
  }
  // "progress", "complete" and "failed:<raw value>", in call order.
  std::vector<std::string> events() const {
    std::lock_guard lk(mutex_);
    return events_;
  }
  // Whether any call came on another thread than the main one.
  bool calledOffMainThread() const { return offMain_.load(); }
  // Runs inside onDownloadFailed(), before it returns (a failed round's thread waits meanwhile).
  void setFailureHook(std::function<void(ERROR_Code)> hook) {
    std::lock_guard lk(mutex_);
    failureHook_ = std::move(hook);
  }

 private:
  void note(const std::string& event) {
    if (!ov::isMainThread()) offMain_ = true;
    std::lock_guard lk(mutex_);
    events_.push_back(event);
  }

  mutable std::mutex mutex_;
  std::vector<double> progress_;
  std::vector<ERROR_Code> failures_;
  int completions_ = 0;
  std::vector<std::string> events_;
  std::function<void(ERROR_Code)> failureHook_;
  std::atomic<bool> offMain_{false};
};

// The fixture of every engine test. The test body runs on the main thread,
// like the window; it spins the main loop whenever it waits.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_ = std::make_unique<ov::test::Sandbox>();
    toolkit_ = std::make_unique<ov::test::ScriptedToolkit>();
    log_ = std::make_unique<ov::test::LogCapture>();
    installers_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(installers_->isValid());

    refservice::ServiceOptions options;
    options.installersFolder = installers_->path().toStdString();
    options.log = [](std::string_view) {};
    service_ = std::make_unique<ov::test::LocalService>(options);

    setNoSleepBackendForTesting(NoSleepBackend{[this](std::uint32_t& id) {
                                                 id = 7;
                                                 ++assertionsMade_;
                                                 ++assertionsHeld_;
                                                 return 0;
                                               },
                                               [this](std::uint32_t) { --assertionsHeld_; }});

    proxy_ = std::make_shared<RecordingProxy>();
    mgr_ = OVDownloadMgr::makeForTesting();
    mgr_->downloadDelegate.set(proxy_);
    mgr_->downloadSessionConfiguration.requestTimeout = std::chrono::seconds(20);
    mgr_->downloadSessionConfiguration.resourceTimeout = std::chrono::seconds(60);
    mgr_->downloadSessionConfiguration.connectTimeout = std::chrono::seconds(5);
    mgr_->downloadSessionConfiguration.progressInterval = std::chrono::milliseconds(20);
    mgr_->chunkRetryPolicy.delays = {std::chrono::milliseconds(20), std::chrono::milliseconds(40),
                                     std::chrono::milliseconds(80)};
    Connectivity::setReachabilityForTesting([] { return true; });
    DiskSpaceUtility::setFreeSpaceForTesting([](const QString&) { return std::int64_t{50'000'000'000}; });
    readyToken_ = ov::NotificationCenter::defaultCenter().addObserver(ReadyToDownload, [this] { ++ready_; });
  }

  void TearDown() override {
    if (service_) service_->setHold(false);
    if (mgr_) {
      // Whatever still runs is stopped. The manager's end waits for work in
      // flight; once the main loop has run what the download already posted
      // (a failed round waits for its dialog), that is only reports.
      if (mgr_->fileUrl) mgr_->CancelDownload(false);
      settle(std::chrono::milliseconds(200));
      mgr_.reset();
    }
    releaseNoSleepAssertion();
    setNoSleepBackendForTesting(std::nullopt);
    ov::NotificationCenter::defaultCenter().removeObserver(readyToken_);
    Connectivity::setReachabilityForTesting(nullptr);
    DiskSpaceUtility::setFreeSpaceForTesting(nullptr);
    ov::setClockForTesting({});
    service_.reset();
    log_.reset();
    toolkit_.reset();
    sandbox_.reset();
  }

  // Serves a pattern installer of `size` bytes as /installers/<name>; answers its link.
  QString addInstaller(const QString& name, std::int64_t size) {
    const QString served = installerPath(name);
    QFile::remove(served);
    if (::link(QFile::encodeName(shelfInstaller(name, size)).constData(),
               QFile::encodeName(served).constData()) != 0)
      throw std::runtime_error("cannot link the installer " + name.toStdString());
    return QString::fromStdString(service_->installerUrl(name.toStdString()));
  }
  QString installerPath(const QString& name) const { return installers_->path() + u'/' + name; }

  // Gives the manager what preparation would: link, save location, size,
  // report token and, when `probe`, the ETag of a HEAD request to the link.
  void prepare(const QString& link, std::int64_t size, bool probe = true) {
    mgr_->sourceUrl = link;
    mgr_->fileUrl = mgr_->getSaveFileUrl(link);
    ASSERT_FALSE(mgr_->fileUrl->isEmpty());
    mgr_->szTokenID = QStringLiteral("engine-test-token");
    if (probe) {
      auto probed = std::async(std::launch::async, [&] { return mgr_->getBuildInfo(link); });
      ASSERT_TRUE(probed.get());
      ASSERT_FALSE(mgr_->szETag.isEmpty());
    }
    mgr_->i64FileSize = size;
    service_->clearRequests();
  }

  // The whole preparation, as the window starts it: the link query, the
  // heartbeat, the probe and the start reports against the service. True
  // when the download became ready; false after one reported failure.
  bool prepareForReal() {
    ov::globalUtilityQueue().async([this] {
      mgr_->initDownloadMgr(proxy_, QStringLiteral("BrindleCutter"), QStringLiteral("SR-1"),
                            QStringLiteral("21.0"), QStringLiteral("Retail"));
    });
    const bool settled = waitFor([&] { return ready_ > 0 || !proxy_->failures().empty(); });
    return settled && ready_ > 0;
  }

  // DownloadFile() on the global utility queue, as the window calls it.
  void startDownload() {
    ov::globalUtilityQueue().async([mgr = mgr_.get()] { mgr->DownloadFile(); });
  }

  bool waitFor(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return ov::test::runEventLoopUntil(condition, limit);
  }
  // Spins the main loop until the download completed or failed.
  bool waitForOutcome(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    return waitFor([&] { return proxy_->completions() > 0 || !proxy_->failures().empty(); }, limit);
  }
  // Spins the main loop for a while so that anything still to come has come.
  void settle(std::chrono::milliseconds duration = std::chrono::milliseconds(300)) {
    ov::test::runEventLoopFor(duration);
  }

  // The installer GETs the service received, in arrival order.
  std::vector<refservice::RequestRecord> chunkRequests() const {
    std::vector<refservice::RequestRecord> gets;
    for (auto& record : service_->requests())
      if (record.method == "GET" && record.path.starts_with("/installers/"))
        gets.push_back(std::move(record));
    return gets;
  }
  std::vector<std::string> chunkRanges() const {
    std::vector<std::string> ranges;
    for (const auto& record : chunkRequests()) ranges.push_back(record.range);
    return ranges;
  }
  // (status, detail_status) of every status report, in arrival order.
  std::vector<std::pair<std::string, std::string>> statusReports() const {
    std::vector<std::pair<std::string, std::string>> reports;
    for (const auto& record : service_->requests())
      if (record.path == "/prog/util/downloader/update-status.jsp")
        reports.emplace_back(record.field("status").value_or("?"),
                             record.field("detail_status").value_or("?"));
    return reports;
  }
  bool waitForStatusReports(std::size_t count) {
    return waitFor([&] { return statusReports().size() >= count; });
  }
  int sizeReportCount() const {
    int count = 0;
    for (const auto& record : service_->requests())
      count += record.path == "/prog/util/downloader/update-size-v2.jsp" ? 1 : 0;
    return count;
  }
  std::size_t tasksLeft() {
    std::shared_lock lk(mgr_->lock);
    return mgr_->lstTasks.size();
  }
  int outputCount(const QString& line) const { return static_cast<int>(log_->outputLines().count(line)); }

  QString saveLocation() const { return mgr_->fileUrl->toLocalFile(); }
  QString tempFolder() const {
    const auto [directory, filenameOnly, ext] = OVDownloadMgr::splitFilename(*mgr_->fileUrl);
    return directory + u'/' + filenameOnly + QStringLiteral("_TempFiles");
  }
  QString downloadsPath(const QString& name) const { return sandbox_->downloads() + u'/' + name; }

  // Trusts the reference service and also the CA in `otherCaFile` (another test server's).
  void trustAlso(const std::string& otherCaFile) {
    caBundle_ = std::make_unique<QTemporaryDir>();
    const QString bundle = caBundle_->path() + QStringLiteral("/ca-bundle.pem");
    writeWholeFile(bundle, readWholeFile(QString::fromStdString(service_->caFile())) + '\n' +
                               readWholeFile(QString::fromStdString(otherCaFile)));
    ov::httpSettings().caFile = bundle;
  }

  std::unique_ptr<ov::test::Sandbox> sandbox_;
  std::unique_ptr<ov::test::ScriptedToolkit> toolkit_;
  std::unique_ptr<ov::test::LogCapture> log_;
  std::unique_ptr<ov::test::LocalService> service_;
  std::unique_ptr<QTemporaryDir> installers_;
  std::shared_ptr<RecordingProxy> proxy_;
  std::unique_ptr<OVDownloadMgr> mgr_;
  std::atomic<int> assertionsHeld_{0};
  int ready_ = 0;
  ov::NotificationCenter::Token readyToken_ = 0;
  std::atomic<int> assertionsMade_{0};

 private:
  std::unique_ptr<QTemporaryDir> caBundle_;
};

}  // namespace enginetest
