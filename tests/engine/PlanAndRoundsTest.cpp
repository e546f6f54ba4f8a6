// The chunk plan, the rounds, the timers and the runs of a download.

#include <httplib.h>

#include <algorithm>

#include "tests/support/ServiceTest.h"
#include "tests/support/TestHttpsServer.h"

namespace ov::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;
using Report = std::pair<std::string, std::string>;

struct PlanCase {
  std::int64_t size;
  std::vector<std::string> ranges;  // none: the download fails without a request
};

void PrintTo(const PlanCase& c, std::ostream* out) {
  *out << "size " << c.size;
}

class ChunkPlan : public ServiceTest, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(ChunkPlan, RequestsExactlyThePlannedRangesAndHandsTheInstallerOver) {
  const PlanCase& plan = GetParam();
  const auto chunks = static_cast<std::int64_t>(plan.ranges.size());
  prepare(addInstaller(QStringLiteral("Setup.pkg"), chunks > 0 ? plan.size : 10), plan.size, chunks > 0);
  startDownload();
  ASSERT_TRUE(waitForEnd());

  EXPECT_EQ(mgr_->dataChuckCount, chunks);
  EXPECT_EQ(outputCount(QStringLiteral("localPath, dataChuckCount = ") + QString::number(chunks)), 1);
  // One round: the requests run in parallel, so they may arrive in any order.
  EXPECT_THAT(chunkRanges(), UnorderedElementsAreArray(plan.ranges));
  EXPECT_FALSE(proxy_->calledOffMainThread());
  if (chunks == 0) {
    EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
    EXPECT_EQ(outputCount(QStringLiteral("self.lstTasks.count = 0")), 1);
    return;
  }
  ASSERT_TRUE(waitForStatusReports(3));
  EXPECT_THAT(statusReports(), ElementsAre(Report{"Downloading", ""}, Report{"Complete", "Complete"},
                                           Report{"Complete", "Install"}));
  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_EQ(proxy_->completions(), 1);
  for (const auto& request : chunkRequests())
    EXPECT_EQ(request.header("If-Range"), mgr_->szETag.toStdString());
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::doDownload() Status Code = 206")), chunks);
  EXPECT_EQ(mgr_->currentReceivedSize.load(), plan.size);
  const QString installed = downloadsPath(QStringLiteral("Setup.pkg"));
  EXPECT_TRUE(sameFileContents(installed, installerPath(QStringLiteral("Setup.pkg"))));
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_THAT(toolkit_->calls(), ElementsAre("openWithDefaultHandler", "setTerminating", "terminate"));
  EXPECT_THAT(toolkit_->openedUrls(), ElementsAre(QUrl::fromLocalFile(installed)));
  // The window sees the transfer's share, then 1.0 once.
  const auto progress = proxy_->progress();
  EXPECT_EQ(std::count(progress.begin(), progress.end(), 1.0), 1);
  for (double p : progress) EXPECT_TRUE(p == 1.0 || (p >= 0.0 && p <= 0.98)) << p;
  EXPECT_EQ(assertionsMade_.load(), 1);
  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_FALSE(mgr_->progressTimer);
  EXPECT_FALSE(mgr_->heartbeatsTimer);
  EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]Download begin")));
  EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]Download complete")));
}

INSTANTIATE_TEST_SUITE_P(
    EdgeSizes, ChunkPlan,
    ::testing::Values(PlanCase{-kChunk, {}}, PlanCase{-1, {}}, PlanCase{0, {}}, PlanCase{1, {"bytes=0-0"}},
                      PlanCase{kChunk, {"bytes=0-5242879"}},
                      PlanCase{kChunk + 1, {"bytes=0-5242879", "bytes=5242880-5242880"}},
                      PlanCase{2 * kChunk - 1, {"bytes=0-5242879", "bytes=5242880-10485758"}},
                      PlanCase{2 * kChunk, {"bytes=0-5242879", "bytes=5242880-10485759"}},
                      PlanCase{2 * kChunk + 1,
                               {"bytes=0-5242879", "bytes=5242880-10485759", "bytes=10485760-10485760"}}),
    [](const auto& info) {
      const std::int64_t size = info.param.size;
      return (size < 0 ? "Minus" : "Size") + std::to_string(size < 0 ? -size : size);
    });

// A server that lets the n-th request answer only once the test released n,
// so that each round can be counted complete at the gate. It records the
// Range of each request and the chunks still to fetch when it arrived.
struct GatedRangeServer {
  GatedRangeServer(const QString& installer, OVDownloadMgr& mgr) : body(readWholeFile(installer)) {
    server.handle(
        "GET", "/big/Setup.pkg", [this, &mgr](const httplib::Request& request, httplib::Response& response) {
          const std::string range = request.get_header_value("Range");
          std::size_t index = 0;
          {
            std::lock_guard lk(mutex);
            std::shared_lock tasks(mgr.lock);
            arrived.push_back({range, mgr.lstTasks.size()});
            index = arrived.size();
          }
          server.waitUntil([&] { return released.load() >= index; }, 60s);
          const qsizetype first = std::stoll(range.substr(6));
          const qsizetype last = std::stoll(range.substr(range.find('-') + 1));
          response.status = 206;
          response.set_header("Content-Range",
                              "bytes " + range.substr(6) + "/" + std::to_string(body.size()));
          response.set_content(body.mid(first, last - first + 1).toStdString(), "application/octet-stream");
        });
  }
  ~GatedRangeServer() { released = 1'000'000; }

  struct Arrival {
    std::string range;
    std::size_t tasksLeft;
  };
  std::vector<Arrival> arrivals() const {
    std::lock_guard lk(mutex);
    return arrived;
  }
  void release(std::size_t upTo) { released = upTo; }

  const QByteArray body;
  mutable std::mutex mutex;
  std::vector<Arrival> arrived;
  std::atomic<std::size_t> released{0};
  TestHttpsServer server;  // last: it stops (and its handlers end) before the rest goes
};

std::vector<std::string> rangesOfChunks(int first, int last, std::int64_t size) {
  std::vector<std::string> ranges;
  for (std::int64_t i = first; i <= last; ++i)
    ranges.push_back("bytes=" + std::to_string(i * kChunk) + "-" +
                     std::to_string(std::min((i + 1) * kChunk, size) - 1));
  return ranges;
}

TEST_F(ServiceTest, TwentyFiveChunksGoInRoundsOfTenTenAndFive) {
  constexpr std::int64_t size = 24 * kChunk + 4321;
  addInstaller(QStringLiteral("Big.pkg"), size);
  const QString installer = installerPath(QStringLiteral("Big.pkg"));
  GatedRangeServer gate(installer, *mgr_);
  trustAlso(gate.server.caFile());
  prepare(gate.server.url("/big/Setup.pkg"), size, false);
  startDownload();
  for (const std::size_t roundEnd : {10, 20, 25}) {
    ASSERT_TRUE(waitFor([&] { return gate.arrivals().size() >= roundEnd; }))
        << "round ending at " << roundEnd;
    gate.release(roundEnd);
  }
  ASSERT_TRUE(waitForOutcome());

  EXPECT_EQ(proxy_->completions(), 1);
  const auto arrivals = gate.arrivals();
  ASSERT_EQ(arrivals.size(), 25u);
  std::vector<std::string> ranges;
  for (const auto& arrival : arrivals) ranges.push_back(arrival.range);
  EXPECT_THAT(std::vector(ranges.begin(), ranges.begin() + 10),
              UnorderedElementsAreArray(rangesOfChunks(0, 9, size)));
  EXPECT_THAT(std::vector(ranges.begin() + 10, ranges.begin() + 20),
              UnorderedElementsAreArray(rangesOfChunks(10, 19, size)));
  EXPECT_THAT(std::vector(ranges.begin() + 20, ranges.end()),
              UnorderedElementsAreArray(rangesOfChunks(20, 24, size)));
  // A later round starts only once every chunk of the one before has arrived
  // (requests held at the gate have not).
  EXPECT_EQ(arrivals[10].tasksLeft, 15u);
  EXPECT_EQ(arrivals[20].tasksLeft, 5u);
  // Without an ETag from the probe there is no validator to send.
  for (const auto& request : gate.server.requests()) EXPECT_FALSE(request.header("If-Range"));
  EXPECT_EQ(
      log_->outputLines().filter(QStringLiteral("self.lstTasks.count = ")),
      (QStringList{QStringLiteral("self.lstTasks.count = 25"), QStringLiteral("self.lstTasks.count = 15"),
                   QStringLiteral("self.lstTasks.count = 5")}));
  EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")), installer));
}

class HeartbeatPeriod : public ServiceTest,
                        public ::testing::WithParamInterface<std::pair<std::optional<std::int64_t>, double>> {
};

TEST_P(HeartbeatPeriod, TimersStartWithTheirPeriodsAndARetryReplacesThem) {
  mgr_->heartbeatsTime = GetParam().first;
  prepare(addInstaller(QStringLiteral("Setup.pkg"), 10), 0, false);
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  const auto firstProgress = mgr_->progressTimer;
  const auto firstHeartbeat = mgr_->heartbeatsTimer;
  ASSERT_TRUE(firstProgress && firstHeartbeat);
  EXPECT_DOUBLE_EQ(firstProgress->interval(), 0.3);
  EXPECT_DOUBLE_EQ(firstHeartbeat->interval(), GetParam().second);

  startDownload();
  ASSERT_TRUE(waitFor([&] { return proxy_->failures().size() == 2; }));
  ASSERT_TRUE(mgr_->progressTimer && mgr_->heartbeatsTimer);
  EXPECT_NE(mgr_->heartbeatsTimer, firstHeartbeat);
  EXPECT_FALSE(firstProgress->isValid());
  EXPECT_FALSE(firstHeartbeat->isValid());
  EXPECT_TRUE(mgr_->heartbeatsTimer->isValid());
}

INSTANTIATE_TEST_SUITE_P(ServiceAnswers, HeartbeatPeriod,
                         ::testing::Values(std::pair{std::optional<std::int64_t>(), 30.0}, std::pair{0, 30.0},
                                           std::pair{-5, 30.0}, std::pair{7, 7.0}));

TEST_F(ServiceTest, ARestartAbandonsTheEarlierRunsRequests) {
  constexpr std::int64_t size = kChunk + 70'000;
  prepare(addInstaller(QStringLiteral("Setup.pkg"), size), size);
  setScenario([](refservice::Scenario& s) {
    s.installer.hold = true;
    s.installer.holdAfterBytes = 65'536;
  });
  startDownload();
  ASSERT_TRUE(waitFor([&] {
    const auto gets = chunkRequests();
    return std::count_if(gets.begin(), gets.end(), [](const auto& r) { return r.held; }) == 2;
  }));

  startDownload();
  ASSERT_TRUE(waitFor([&] { return chunkRequests().size() == 4; }));
  service_->setHold(false);
  ASSERT_TRUE(waitForEnd());

  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_EQ(chunkRequests().size(), 4u);
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0")), 1);
  EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")),
                               installerPath(QStringLiteral("Setup.pkg"))));
}

}  // namespace
}  // namespace ov::test
