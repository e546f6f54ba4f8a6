#include "tests/support/ServiceTest.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <future>
#include <shared_mutex>
#include <stdexcept>

#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/HttpClient.h"
#include "platform/Utility.h"

namespace ov::test {
namespace {

const std::string kServicePath = "/prog/util/downloader/";

// An installer of `size` pattern bytes, made once per test binary and
// hard-linked into each service's folder: tests serve many of the same size.
QString shelfInstaller(const QString& name, std::int64_t size) {
  static QTemporaryDir shelf(QDir::tempPath() + QStringLiteral("/ovdownloader-shelf-XXXXXX"));
  static std::mutex mutex;
  std::lock_guard lk(mutex);
  const QString path = shelf.path() + u'/' + QString::number(size) + u'/' + name;
  if (!QFileInfo::exists(path)) writeWholeFile(path, QByteArray::fromStdString(patternBytes(size)));
  return path;
}

}  // namespace

std::vector<refservice::RequestRecord> postsTo(const refservice::ReferenceService& service,
                                               const std::string& endpoint) {
  std::vector<refservice::RequestRecord> matching;
  for (auto& record : service.requests())
    if (record.path == kServicePath + endpoint) matching.push_back(std::move(record));
  return matching;
}

void ServiceTest::SetUp() {
  ToolkitTest::SetUp();
  installers_ = std::make_unique<QTemporaryDir>();
  ASSERT_TRUE(installers_->isValid());
  refservice::ServiceOptions options;
  options.installersFolder = installers_->path().toStdString();
  options.log = [](std::string_view) {};
  service_ = std::make_unique<LocalService>(options);

  Connectivity::setReachabilityForTesting([this] { return reachable_.load(); });
  DiskSpaceUtility::setFreeSpaceForTesting([this](const QString&) { return freeSpace_; });
  DiskSpaceUtility::setTotalSpaceForTesting([this](const QString&) { return capacity_; });
  setNoSleepBackendForTesting(NoSleepBackend{[this](std::uint32_t& id) {
                                               id = 7;
                                               ++assertionsMade_;
                                               ++assertionsHeld_;
                                               return 0;
                                             },
                                             [this](std::uint32_t) { --assertionsHeld_; }});
  readyToken_ = NotificationCenter::defaultCenter().addObserver(ReadyToDownload, [this] { ++ready_; });

  proxy_ = std::make_shared<RecordingProxy>();
  mgr_ = OVDownloadMgr::makeForTesting();
  mgr_->downloadDelegate.set(proxy_);
  mgr_->product = QStringLiteral("BrindleCutter");
  mgr_->version = QStringLiteral("21.0");
  mgr_->versionType = QStringLiteral("Retail");
  mgr_->sr = QStringLiteral("SR-1");
  mgr_->language = QStringLiteral("ENU");
  auto& session = mgr_->downloadSessionConfiguration;
  session.requestTimeout = 20s;
  session.resourceTimeout = 60s;
  session.connectTimeout = 5s;
  session.progressInterval = 20ms;
  mgr_->chunkRetryPolicy.delays = {20ms, 40ms, 80ms};
}

void ServiceTest::TearDown() {
  if (service_) service_->setHold(false);
  endManager();
  releaseNoSleepAssertion();
  setNoSleepBackendForTesting(std::nullopt);
  NotificationCenter::defaultCenter().removeObserver(readyToken_);
  Connectivity::setReachabilityForTesting(nullptr);
  DiskSpaceUtility::setFreeSpaceForTesting(nullptr);
  DiskSpaceUtility::setTotalSpaceForTesting(nullptr);
  setClockForTesting({});
  service_.reset();
  ToolkitTest::TearDown();
}

void ServiceTest::endManager() {
  if (!mgr_) return;
  if (mgr_->fileUrl) mgr_->CancelDownload(false);
  // What the manager posted runs while it still lives; threads that wait for
  // the main loop (a failed round's dialog) give up once it has ended.
  settle(100ms);
  mgr_.reset();
}

QString ServiceTest::addInstaller(const QString& name, std::int64_t size) {
  const QString served = installerPath(name);
  QFile::remove(served);
  if (::link(QFile::encodeName(shelfInstaller(name, size)).constData(),
             QFile::encodeName(served).constData()))
    throw std::runtime_error("cannot link the installer " + name.toStdString());
  return QString::fromStdString(service_->installerUrl(name.toStdString()));
}

void ServiceTest::prepare(const QString& link, std::int64_t size, bool probe) {
  mgr_->sourceUrl = link;
  mgr_->fileUrl = mgr_->getSaveFileUrl(link);
  ASSERT_FALSE(mgr_->fileUrl->isEmpty());
  mgr_->szTokenID = QStringLiteral("engine-test-token");
  if (probe) {
    // A background thread, as in the program: the probe blocks until answered.
    ASSERT_TRUE(std::async(std::launch::async, [&] { return mgr_->getBuildInfo(link); }).get());
    ASSERT_FALSE(mgr_->szETag.isEmpty());
  }
  mgr_->i64FileSize = size;
  service_->clearRequests();
}

bool ServiceTest::prepareForReal() {
  const int readyBefore = ready_;
  auto returned = std::make_shared<std::atomic<bool>>(false);
  globalUtilityQueue().async([mgr = mgr_.get(), proxy = proxy_, returned] {
    mgr->initDownloadMgr(proxy, QStringLiteral("BrindleCutter"), QStringLiteral("SR-1"),
                         QStringLiteral("21.0"), QStringLiteral("Retail"));
    *returned = true;
  });
  // Once the call has returned, everything it posted for the main thread is queued.
  if (!waitFor([&] { return returned->load(); })) return false;
  drainMainQueue();
  return ready_ > readyBefore;
}

void ServiceTest::startDownload() {
  globalUtilityQueue().async([mgr = mgr_.get()] { mgr->DownloadFile(); });
}

bool ServiceTest::waitForOutcome(std::chrono::milliseconds limit) {
  return waitFor([&] { return proxy_->completions() > 0 || !proxy_->failures().empty(); }, limit);
}

bool ServiceTest::waitForEnd(std::chrono::milliseconds limit) {
  return waitFor([&] { return toolkit_->terminateCount() > 0 || !proxy_->failures().empty(); }, limit);
}

bool ServiceTest::waitForPosts(const std::string& endpoint, std::size_t count) {
  return waitFor([&] { return posts(endpoint).size() >= count; });
}

std::vector<std::pair<std::string, std::string>> ServiceTest::statusReports() const {
  std::vector<std::pair<std::string, std::string>> reports;
  for (const auto& record : posts("update-status.jsp"))
    reports.emplace_back(record.field("status").value_or("?"), record.field("detail_status").value_or("?"));
  return reports;
}

std::vector<refservice::RequestRecord> ServiceTest::chunkRequests() const {
  std::vector<refservice::RequestRecord> gets;
  for (auto& record : service_->requests())
    if (record.method == "GET" && record.path.starts_with("/installers/")) gets.push_back(std::move(record));
  return gets;
}

std::vector<std::string> ServiceTest::chunkRanges() const {
  std::vector<std::string> ranges;
  for (const auto& record : chunkRequests()) ranges.push_back(record.range);
  return ranges;
}

std::size_t ServiceTest::tasksLeft() {
  std::shared_lock lk(mgr_->lock);
  return mgr_->lstTasks.size();
}

QString ServiceTest::tempFolder() const {
  const auto [directory, filenameOnly, ext] = OVDownloadMgr::splitFilename(*mgr_->fileUrl);
  return directory + u'/' + filenameOnly + QStringLiteral("_TempFiles");
}

void ServiceTest::trustAlso(const std::string& otherCaFile) {
  caBundle_ = std::make_unique<QTemporaryDir>();
  const QString bundle = caBundle_->path() + QStringLiteral("/ca-bundle.pem");
  writeWholeFile(bundle, readWholeFile(QString::fromStdString(service_->caFile())) + '\n' +
                             readWholeFile(QString::fromStdString(otherCaFile)));
  httpSettings().caFile = bundle;
}

}  // namespace ov::test
