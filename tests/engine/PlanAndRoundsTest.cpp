// The chunk plan, the rounds and a whole download from start to hand-off.

#include <algorithm>
#include <map>

#include "tests/engine/EngineFixture.h"
#include "tests/support/TestHttpsServer.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAreArray;

struct PlanCase {
  std::int64_t size;
  std::vector<std::string> ranges;
};

void PrintTo(const PlanCase& c, std::ostream* out) {
  *out << "size " << c.size;
}

class ChunkPlanTest : public EngineTest, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(ChunkPlanTest, RequestsExactlyThePlannedRangesAndRebuildsTheInstaller) {
  const PlanCase& plan = GetParam();
  prepare(addInstaller(QStringLiteral("Setup.pkg"), plan.size), plan.size);
  startDownload();
  ASSERT_TRUE(waitForOutcome());

  EXPECT_THAT(proxy_->failures(), ElementsAre());
  EXPECT_EQ(proxy_->completions(), 1);
  // One round: the requests run in parallel, so they may arrive in any order.
  EXPECT_THAT(chunkRanges(), UnorderedElementsAreArray(plan.ranges));
  for (const auto& request : chunkRequests())
    EXPECT_EQ(request.header("If-Range"), mgr_->szETag.toStdString());
  EXPECT_EQ(outputCount(QStringLiteral("localPath, dataChuckCount = ") + QString::number(plan.ranges.size())),
            1);
  EXPECT_EQ(mgr_->dataChuckCount, static_cast<std::int64_t>(plan.ranges.size()));
  EXPECT_EQ(mgr_->currentReceivedSize.load(), plan.size);
  EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")),
                               installerPath(QStringLiteral("Setup.pkg"))));
}

INSTANTIATE_TEST_SUITE_P(
    EdgeSizes, ChunkPlanTest,
    ::testing::Values(PlanCase{1, {"bytes=0-0"}}, PlanCase{kChunk, {"bytes=0-5242879"}},
                      PlanCase{kChunk + 1, {"bytes=0-5242879", "bytes=5242880-5242880"}},
                      PlanCase{2 * kChunk - 1, {"bytes=0-5242879", "bytes=5242880-10485758"}},
                      PlanCase{2 * kChunk, {"bytes=0-5242879", "bytes=5242880-10485759"}},
                      PlanCase{2 * kChunk + 1,
                               {"bytes=0-5242879", "bytes=5242880-10485759", "bytes=10485760-10485760"}}),
    [](const auto& info) { return "Size" + std::to_string(info.param.size); });

class EmptyPlanTest : public EngineTest, public ::testing::WithParamInterface<std::int64_t> {};

TEST_P(EmptyPlanTest, FailsOnceWithoutAnyRequest) {
  prepare(addInstaller(QStringLiteral("Setup.pkg"), 10), GetParam(), false);
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  settle();

  EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  EXPECT_EQ(proxy_->completions(), 0);
  EXPECT_TRUE(chunkRequests().empty());
  EXPECT_EQ(mgr_->dataChuckCount, 0);
  EXPECT_EQ(outputCount(QStringLiteral("localPath, dataChuckCount = 0")), 1);
  EXPECT_EQ(outputCount(QStringLiteral("self.lstTasks.count = 0")), 1);
  EXPECT_FALSE(proxy_->calledOffMainThread());
}

INSTANTIATE_TEST_SUITE_P(ZeroAndNegative, EmptyPlanTest, ::testing::Values(0, -1, -kChunk),
                         [](const auto& info) {
                           return info.param == 0 ? std::string("Zero")
                                                  : "Minus" + std::to_string(-info.param);
                         });

TEST_F(EngineTest, WholeDownloadReportsHandsOverAndEnds) {
  prepare(addInstaller(QStringLiteral("Setup.pkg"), kChunk + 1), kChunk + 1);
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  ASSERT_TRUE(waitForStatusReports(3));
  ASSERT_TRUE(waitFor([&] { return sizeReportCount() >= 2; }));

  EXPECT_THAT(statusReports(), ElementsAre(std::pair<std::string, std::string>{"Downloading", ""},
                                           std::pair<std::string, std::string>{"Complete", "Complete"},
                                           std::pair<std::string, std::string>{"Complete", "Install"}));
  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_FALSE(proxy_->calledOffMainThread());
  const auto progress = proxy_->progress();
  EXPECT_EQ(std::count(progress.begin(), progress.end(), 1.0), 1);
  for (double p : progress) EXPECT_TRUE(p == 1.0 || (p >= 0.0 && p <= 0.98)) << p;

  const QString installed = downloadsPath(QStringLiteral("Setup.pkg"));
  EXPECT_TRUE(sameFileContents(installed, installerPath(QStringLiteral("Setup.pkg"))));
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_THAT(toolkit_->openedUrls(), ElementsAre(QUrl::fromLocalFile(installed)));
  EXPECT_EQ(toolkit_->terminateCount(), 1);
  EXPECT_EQ(assertionsMade_.load(), 1);
  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_FALSE(mgr_->progressTimer);
  EXPECT_FALSE(mgr_->heartbeatsTimer);
  const QStringList system = log_->systemLines();
  EXPECT_TRUE(system.contains(QStringLiteral("[OVDownloader]Download begin")));
  EXPECT_TRUE(system.contains(QStringLiteral("[OVDownloader]Download complete")));
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0")), 1);
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::doDownload() Status Code = 206")), 2);
}

// A server that lets each request through only when the test says so, so
// that a round can be held complete at the gate and counted.
class GatedRangeServer {
 public:
  GatedRangeServer(const QString& installer, OVDownloadMgr& mgr)
      : body_(readWholeFile(installer)), mgr_(mgr) {
    server_.handle(
        "GET", "/big/Setup.pkg", [this](const httplib::Request& request, httplib::Response& response) {
          int index = 0;
          {
            std::lock_guard lk(mutex_);
            index = ++arrived_;
            ranges_.push_back(request.get_header_value("Range"));
            std::shared_lock tasks(mgr_.lock);
            tasksLeftAtArrival_[index] = mgr_.lstTasks.size();
          }
          server_.waitUntil([&] { return released_.load() >= index; }, std::chrono::seconds(60));
          const std::string range = request.get_header_value("Range").substr(6);
          const qsizetype first = std::stoll(range.substr(0, range.find('-')));
          const qsizetype last = std::stoll(range.substr(range.find('-') + 1));
          response.status = 206;
          response.set_header("Content-Range", "bytes " + range + "/" + std::to_string(body_.size()));
          response.set_content(body_.mid(first, last - first + 1).toStdString(), "application/octet-stream");
        });
  }
  ~GatedRangeServer() { released_ = 1'000'000; }

  QString url() const { return server_.url("/big/Setup.pkg"); }
  const std::string& caFile() const { return server_.caFile(); }
  int arrived() const {
    std::lock_guard lk(mutex_);
    return arrived_;
  }
  std::vector<std::string> ranges() const {
    std::lock_guard lk(mutex_);
    return ranges_;
  }
  std::size_t tasksLeftAtArrival(int index) const {
    std::lock_guard lk(mutex_);
    return tasksLeftAtArrival_.at(index);
  }
  void release(int upTo) { released_ = upTo; }
  std::vector<ovtest::RecordedRequest> requests() const { return server_.requests(); }

 private:
  const QByteArray body_;
  OVDownloadMgr& mgr_;
  mutable std::mutex mutex_;
  int arrived_ = 0;
  std::vector<std::string> ranges_;
  std::map<int, std::size_t> tasksLeftAtArrival_;
  std::atomic<int> released_{0};
  ovtest::TestHttpsServer server_;  // last: it stops (and its handlers end) before the rest goes
};

std::vector<std::string> rangesOfChunks(int first, int last, std::int64_t size) {
  std::vector<std::string> ranges;
  for (std::int64_t i = first; i <= last; ++i)
    ranges.push_back("bytes=" + std::to_string(i * kChunk) + "-" +
                     std::to_string(std::min((i + 1) * kChunk, size) - 1));
  return ranges;
}

TEST_F(EngineTest, TwentyFiveChunksGoInRoundsOfTenTenAndFive) {
  constexpr std::int64_t size = 24 * kChunk + 4321;
  const QString installer = shelfInstaller(QStringLiteral("Big.pkg"), size);
  GatedRangeServer server(installer, *mgr_);
  trustAlso(server.caFile());
  prepare(server.url(), size, false);
  startDownload();

  // Each round must be complete at the gate, and nothing beyond it may be asked for.
  for (const int roundEnd : {10, 20, 25}) {
    ASSERT_TRUE(waitFor([&] { return server.arrived() >= roundEnd; })) << "round ending at " << roundEnd;
    settle();
    ASSERT_EQ(server.arrived(), roundEnd);
    server.release(roundEnd);
  }
  ASSERT_TRUE(waitForOutcome());

  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_THAT(proxy_->failures(), ElementsAre());
  const auto ranges = server.ranges();
  EXPECT_THAT(std::vector(ranges.begin(), ranges.begin() + 10),
              UnorderedElementsAreArray(rangesOfChunks(0, 9, size)));
  EXPECT_THAT(std::vector(ranges.begin() + 10, ranges.begin() + 20),
              UnorderedElementsAreArray(rangesOfChunks(10, 19, size)));
  EXPECT_THAT(std::vector(ranges.begin() + 20, ranges.end()),
              UnorderedElementsAreArray(rangesOfChunks(20, 24, size)));
  // A later round starts only once every chunk of the one before has arrived.
  EXPECT_EQ(server.tasksLeftAtArrival(11), 15u);
  EXPECT_EQ(server.tasksLeftAtArrival(21), 5u);
  // Without an ETag from the probe there is no validator to send.
  for (const auto& request : server.requests()) EXPECT_FALSE(request.header("If-Range"));

  EXPECT_EQ(
      outputCount(QStringLiteral("OVDownloadMgr::checkTasksStatus(), lstTask is not empty, Do next round!!")),
      2);
  QStringList counts = log_->outputLines().filter(QStringLiteral("self.lstTasks.count = "));
  EXPECT_EQ(counts, (QStringList{QStringLiteral("self.lstTasks.count = 25"),
                                 QStringLiteral("self.lstTasks.count = 15"),
                                 QStringLiteral("self.lstTasks.count = 5")}));
  EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")), installer));
}

struct HeartbeatCase {
  std::optional<std::int64_t> heartbeatsTime;
  double period;
};

void PrintTo(const HeartbeatCase& c, std::ostream* out) {
  *out << "period " << c.period;
}

class HeartbeatPeriodTest : public EngineTest, public ::testing::WithParamInterface<HeartbeatCase> {};

TEST_P(HeartbeatPeriodTest, TimersStartWithTheirPeriods) {
  mgr_->heartbeatsTime = GetParam().heartbeatsTime;
  prepare(addInstaller(QStringLiteral("Setup.pkg"), 10), 0, false);
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  ASSERT_TRUE(mgr_->progressTimer && mgr_->heartbeatsTimer);
  EXPECT_DOUBLE_EQ(mgr_->progressTimer->interval(), 0.3);
  EXPECT_DOUBLE_EQ(mgr_->heartbeatsTimer->interval(), GetParam().period);
}

INSTANTIATE_TEST_SUITE_P(ServiceAnswers, HeartbeatPeriodTest,
                         ::testing::Values(HeartbeatCase{std::nullopt, 30}, HeartbeatCase{0, 30},
                                           HeartbeatCase{-5, 30}, HeartbeatCase{7, 7}));

TEST_F(EngineTest, ARetryStopsTheTimersItReplaces) {
  prepare(addInstaller(QStringLiteral("Setup.pkg"), 10), 0, false);
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  const auto firstProgress = mgr_->progressTimer;
  const auto firstHeartbeat = mgr_->heartbeatsTimer;
  ASSERT_TRUE(firstProgress && firstHeartbeat);

  startDownload();
  ASSERT_TRUE(waitFor([&] { return proxy_->failures().size() == 2; }));
  ASSERT_TRUE(mgr_->progressTimer && mgr_->heartbeatsTimer);
  EXPECT_NE(mgr_->heartbeatsTimer, firstHeartbeat);
  EXPECT_FALSE(firstProgress->isValid());
  EXPECT_FALSE(firstHeartbeat->isValid());
  EXPECT_TRUE(mgr_->heartbeatsTimer->isValid());
}

TEST_F(EngineTest, ARestartAbandonsTheEarlierRunsRequests) {
  constexpr std::int64_t size = kChunk + 70'000;
  prepare(addInstaller(QStringLiteral("Setup.pkg"), size), size);
  service_->updateScenario([](refservice::Scenario& s) {
    s.installer.hold = true;
    s.installer.holdAfterBytes = 65'536;
  });
  startDownload();
  ASSERT_TRUE(service_->waitForRequests(
      [](const auto& records) {
        return std::count_if(records.begin(), records.end(), [](const auto& r) { return r.held; }) == 2;
      },
      std::chrono::seconds(20)));

  startDownload();
  ASSERT_TRUE(waitFor([&] { return chunkRequests().size() == 4; }));
  service_->setHold(false);
  ASSERT_TRUE(waitForOutcome());
  settle();

  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_THAT(proxy_->failures(), ElementsAre());
  EXPECT_EQ(chunkRequests().size(), 4u);
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0")), 1);
  EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")),
                               installerPath(QStringLiteral("Setup.pkg"))));
}

}  // namespace
}  // namespace enginetest
