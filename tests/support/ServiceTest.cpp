#include "tests/support/ServiceTest.h"

#include <unistd.h>

#include <shared_mutex>

#include "platform/Clock.h"
#include "platform/Dispatch.h"
#include "platform/Utility.h"

namespace ov::test {
namespace {

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
  auto records = service.requests();
  std::erase_if(records, [&](const auto& r) { return r.path != "/prog/util/downloader/" + endpoint; });
  return records;
}

void ServiceTest::SetUp() {
  QDir().mkpath(installerPath(QString()));
  refservice::ServiceOptions options;
  options.installersFolder = QFile::encodeName(installerPath(QString())).toStdString();
  options.log = [](std::string_view) {};
  service_ = std::make_unique<LocalService>(options);

  Connectivity::setReachabilityForTesting([this] { return reachable_.load(); });
  DiskSpaceUtility::setFreeSpaceForTesting([this](const QString&) { return freeSpace_; });
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
  setClockForTesting({});
  service_.reset();
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
    ASSERT_TRUE(offMain([&] { return mgr_->getBuildInfo(link); }));
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

std::vector<Report> ServiceTest::statusReports() const {
  std::vector<Report> reports;
  for (const auto& record : posts("update-status.jsp"))
    reports.emplace_back(record.field("status").value_or("?"), record.field("detail_status").value_or("?"));
  return reports;
}

std::vector<refservice::RequestRecord> ServiceTest::chunkRequests() const {
  auto records = service_->requests();
  std::erase_if(records,
                [](const auto& r) { return r.method != "GET" || !r.path.starts_with("/installers/"); });
  return records;
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

}  // namespace ov::test
