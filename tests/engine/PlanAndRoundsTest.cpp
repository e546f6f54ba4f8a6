// The chunk plan, the rounds, the timers and the runs of a download.

#include <algorithm>

#include "tests/support/Rows.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using test::PrintTo;

using ::testing::UnorderedElementsAreArray;

struct PlanCase {
  std::int64_t size;
  std::vector<std::string> ranges;  // none: the download fails without a request
};

std::string sizeName(const PlanCase& plan) {
  return (plan.size < 0 ? "Minus" : "Size") + std::to_string(plan.size < 0 ? -plan.size : plan.size);
}
void PrintTo(const PlanCase& plan, std::ostream* out) {
  *out << sizeName(plan);
}

class ChunkPlan : public ServiceTest, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(ChunkPlan, RequestsExactlyThePlannedRangesAndHandsTheInstallerOver) {
  const PlanCase& plan = GetParam();
  const auto chunks = static_cast<std::int64_t>(plan.ranges.size());
  prepare(addInstaller(kSetup, chunks > 0 ? plan.size : 10), plan.size, chunks > 0);
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
  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_EQ(proxy_->completions(), 1);
  for (const auto& request : chunkRequests())
    EXPECT_EQ(request.header("If-Range"), mgr_->szETag.toStdString());
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::doDownload() Status Code = 206")), chunks);
  EXPECT_EQ(mgr_->currentReceivedSize.load(), plan.size);
  EXPECT_TRUE(sameFileContents(downloadsPath(kSetup), installerPath(kSetup)));
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  // The window sees the transfer's share, then 1.0 once.
  const auto progress = proxy_->progress();
  EXPECT_EQ(std::count(progress.begin(), progress.end(), 1.0), 1);
  for (double p : progress) EXPECT_TRUE(p == 1.0 || (p >= 0.0 && p <= 0.98)) << p;
  EXPECT_EQ(assertionsMade_.load(), 1);
  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_FALSE(mgr_->progressTimer);
  EXPECT_FALSE(mgr_->heartbeatsTimer);
  EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]Download begin")));
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
    [](const auto& info) { return sizeName(info.param); });

// The Range values of chunks first to last of an installer of `size` bytes.
std::vector<std::string> rangesOfChunks(std::int64_t first, std::int64_t last, std::int64_t size) {
  std::vector<std::string> ranges;
  for (std::int64_t i = first; i <= last; ++i)
    ranges.push_back(byteRange(i * kChunk, std::min((i + 1) * kChunk, size) - 1));
  return ranges;
}

TEST_F(ServiceTest, TwentyFiveChunksGoInRoundsOfTenTenAndFive) {
  constexpr std::int64_t size = 24 * kChunk + 4321;
  prepare(addInstaller(kSetup, size), size, false);
  // The first round's answers stop short of their last byte until released.
  setScenario(
      [](refservice::Scenario& s) { s.installer.hold = true, s.installer.holdAfterBytes = kChunk - 1; });
  startDownload();
  ASSERT_TRUE(waitFor([&] { return heldRequests() == 10; }));
  settle();
  // No later round starts before every chunk of the one before has arrived.
  EXPECT_EQ(chunkRequests().size(), 10u);
  EXPECT_EQ(tasksLeft(), 25u);
  service_->setHold(false);
  ASSERT_TRUE(waitForOutcome());

  EXPECT_EQ(proxy_->completions(), 1);
  const auto ranges = chunkRanges();
  ASSERT_EQ(ranges.size(), 25u);
  for (const auto& [first, last] : {std::pair(0, 9), std::pair(10, 19), std::pair(20, 24)})
    EXPECT_THAT(std::vector(ranges.begin() + first, ranges.begin() + last + 1),
                UnorderedElementsAreArray(rangesOfChunks(first, last, size)));
  // Without an ETag from the probe there is no validator to send.
  for (const auto& request : chunkRequests()) EXPECT_FALSE(request.header("If-Range"));
  EXPECT_EQ(
      log_->outputLines().filter(QStringLiteral("self.lstTasks.count = ")),
      (QStringList{QStringLiteral("self.lstTasks.count = 25"), QStringLiteral("self.lstTasks.count = 15"),
                   QStringLiteral("self.lstTasks.count = 5")}));
  EXPECT_TRUE(sameFileContents(downloadsPath(kSetup), installerPath(kSetup)));
}

class HeartbeatPeriod : public ServiceTest,
                        public ::testing::WithParamInterface<std::pair<std::optional<std::int64_t>, double>> {
};

TEST_P(HeartbeatPeriod, TimersStartWithTheirPeriodsAndARetryReplacesThem) {
  mgr_->heartbeatsTime = GetParam().first;
  prepare(addInstaller(kSetup, 10), 0, false);
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
  prepare(addInstaller(kSetup, size), size);
  setScenario([](refservice::Scenario& s) { s.installer.hold = true, s.installer.holdAfterBytes = 65'536; });
  startDownload();
  ASSERT_TRUE(waitFor([&] { return heldRequests() == 2; }));

  startDownload();
  ASSERT_TRUE(waitFor([&] { return chunkRequests().size() == 4; }));
  service_->setHold(false);
  ASSERT_TRUE(waitForEnd());

  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_EQ(chunkRequests().size(), 4u);
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0")), 1);
  EXPECT_TRUE(sameFileContents(downloadsPath(kSetup), installerPath(kSetup)));
}

}  // namespace
}  // namespace ov::test
