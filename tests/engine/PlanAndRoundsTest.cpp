// The chunk plan, the window of requests, the timers and the runs of a download.

#include <algorithm>
#include <map>
#include <set>

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
  // The requests run in parallel, so they may arrive in any order; a chunk
  // still under way when a short one has ended may be split, and the second
  // halves start inside it.
  std::vector<std::string> wholeChunks;
  for (const auto& range : chunkRanges())
    if (std::stoll(range.substr(6)) % kChunk == 0) wholeChunks.push_back(range);
  EXPECT_THAT(wholeChunks, UnorderedElementsAreArray(plan.ranges));
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
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::doDownload() Status Code = 206")),
            static_cast<int>(chunkRequests().size()));
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

// How a row of the window table ends.
enum class End { Delivered, FailedOnce, Cancelled };

class Window;

// An installer of `size` bytes served with `faults` (answers held), what the
// test does while the download runs, and what it checks once it has ended.
struct WindowCase {
  const char* name;
  std::int64_t size;
  std::function<void(refservice::InstallerFaults&)> faults;
  void (Window::*during)();
  End end = End::Delivered;
  void (Window::*check)() = nullptr;
};

// Body bytes sent before a held answer stops: less than half the smallest
// split, so a request narrowed while held always still lacks bytes.
constexpr std::int64_t kHeldAt = 100'000;
constexpr std::int64_t kSmallestSplit = 512 * 1024;
constexpr std::int64_t kPartsAhead = 20;

// The transfer as a window of ten requests: the next chunk starts as soon as
// one ends, the end never waits for one slow answer, a failure ends it once.
// The reference service holds answers to give a row the timing it needs, and
// counts the bodies it sends at once.
class Window : public ServiceTest, public ::testing::WithParamInterface<WindowCase> {
 public:
  using Record = refservice::RequestRecord;
  static std::int64_t firstByte(const Record& r) { return std::stoll(r.range.substr(6)); }
  static std::int64_t lastByte(const Record& r) { return std::stoll(r.range.substr(r.range.find('-') + 1)); }
  static std::int64_t chunkOf(const Record& r) { return firstByte(r) / kChunk; }
  std::int64_t chunks() const { return (GetParam().size + kChunk - 1) / kChunk; }
  std::int64_t chunkEnd(std::int64_t i) const { return std::min((i + 1) * kChunk, GetParam().size); }

  // Some installer GETs wait for a hold and every other one has ended; the
  // program has every byte the service sent (by its progress); and none that
  // waits lacks 512 KiB or more before the next piece of its chunk, unless
  // ten wait. Nothing more starts or is split until a hold ends.
  bool stalled() const {
    const auto gets = chunkRequests();
    std::map<std::int64_t, std::set<std::int64_t>> starts;  // of each chunk's pieces
    for (const auto& r : gets) starts[chunkOf(r)].insert(firstByte(r));
    std::map<std::int64_t, std::int64_t> sent;  // of each chunk, each piece up to the next one's start
    // While the first chunk still missing keeps a later one from starting,
    // that laggard alone is split.
    std::int64_t laggard = chunks();
    for (const auto& r : gets)
      if (r.outcome == refservice::Outcome::Pending) laggard = std::min(laggard, chunkOf(r));
    const bool windowHeld =
        laggard + kPartsAhead + 1 < chunks() && !starts.contains(laggard + kPartsAhead + 1);
    int waiting = 0;
    bool splittable = false;
    for (const auto& r : gets) {
      const auto& pieces = starts[chunkOf(r)];
      const auto next = pieces.upper_bound(firstByte(r));
      const std::int64_t end = next == pieces.end() ? chunkEnd(chunkOf(r)) : *next;
      sent[chunkOf(r)] += std::min(r.bytesSent, end - firstByte(r));
      if (r.outcome != refservice::Outcome::Pending) continue;
      if (!r.held) return false;
      ++waiting;
      if (windowHeld && chunkOf(r) != laggard) continue;
      splittable = splittable || end - firstByte(r) - r.bytesSent >= kSmallestSplit;
    }
    for (const auto& [chunk, bytes] : sent) {
      const std::int64_t length = chunkEnd(chunk) - chunk * kChunk;
      if (static_cast<std::size_t>(chunk) >= mgr_->listProgress.size() ||
          std::llround(mgr_->listProgress[static_cast<std::size_t>(chunk)] * static_cast<double>(length)) <
              bytes)
        return false;
    }
    return waiting > 0 && (waiting == 10 || !splittable);
  }
  void waitUntilStalled() {
    ASSERT_TRUE(waitFor([&] { return stalled(); }));
  }
  bool nonePending() const {
    const auto gets = chunkRequests();
    return std::none_of(gets.begin(), gets.end(),
                        [](const auto& r) { return r.outcome == refservice::Outcome::Pending; });
  }

  // Once ten wait, five are released: five more start in their places, and
  // then ten wait again.
  void releaseFiveThenAll() {
    ASSERT_TRUE(waitFor([&] { return chunkRequests().size() == 10 && stalled(); }));
    setScenario([](refservice::Scenario& s) {
      for (std::int64_t i = 0; i < 5; ++i) s.installer.holdRanges.erase(i * kChunk);
    });
    ASSERT_TRUE(waitFor([&] { return chunkRequests().size() >= 15 && stalled(); }));
    EXPECT_EQ(heldRequests(), 10);
    service_->setHold(false);
  }
  // Chunk 3 ends while the other nine of the first ten are held.
  void releaseChunkThreeFirst() {
    setScenario([](refservice::Scenario& s) { s.installer.holdRanges.erase(3 * kChunk); });
    ASSERT_TRUE(waitFor([&] { return chunkRequests().size() >= 12 && stalled(); }));
    EXPECT_EQ(heldRequests(), 9);
    service_->setHold(false);
  }
  void releaseWhenStalled() {
    waitUntilStalled();
    beforeTheEnd_ = chunkRequests();
    EXPECT_GT(splitLines(), 0);
    // A laggard holds the window: no part more than 20 beyond the first one missing.
    const auto gets = chunkRequests();
    EXPECT_LE(
        chunkOf(*std::max_element(gets.begin(), gets.end(),
                                  [](const auto& a, const auto& b) { return chunkOf(a) < chunkOf(b); })),
        20);
    service_->setHold(false);
  }
  void pauseAndResumeWhenStalled() {
    waitUntilStalled();
    ASSERT_GT(heldRequests(), 1) << "the chunk was split";
    beforeTheEnd_ = chunkRequests();
    mgr_->PauseDownload();
    ASSERT_GE(mgr_->listDLRequest.size(), 2u);
    for (const auto& request : mgr_->listDLRequest) EXPECT_TRUE(request->isSuspended());
    // Released while paused, the held answers find their connections given up.
    service_->setHold(false);
    ASSERT_TRUE(waitFor([&] { return nonePending(); }));
    const std::size_t whilePaused = chunkRequests().size();
    settle();
    EXPECT_EQ(chunkRequests().size(), whilePaused) << "nothing starts while paused";
    mgr_->ResumeDownload();
  }
  void cancelWhenStalled() {
    waitUntilStalled();
    mgr_->CancelDownload(false);
    service_->setHold(false);
  }
  void waitForTheFailure() {
    ASSERT_TRUE(waitForOutcome());
    service_->setHold(false);
  }

  // The first ten chunks, then the next ones as others ended, each once.
  void startedInOrderOfTheEnds() {
    const auto gets = chunkRequests();
    ASSERT_GE(static_cast<std::int64_t>(gets.size()), chunks());
    std::vector<std::int64_t> first, next;
    for (std::int64_t k = 0; k < chunks(); ++k) {
      EXPECT_EQ(gets[static_cast<std::size_t>(k)].range,
                byteRange(chunkOf(gets[static_cast<std::size_t>(k)]) * kChunk,
                          chunkEnd(chunkOf(gets[static_cast<std::size_t>(k)])) - 1));
      (k < 10 ? first : next).push_back(chunkOf(gets[static_cast<std::size_t>(k)]));
    }
    std::sort(first.begin(), first.end());
    std::sort(next.begin(), next.end());
    EXPECT_EQ(first, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    for (std::size_t k = 0; k < next.size(); ++k) EXPECT_EQ(next[k], static_cast<std::int64_t>(10 + k));
  }
  // Each second request asks exactly for the back of a piece: from a byte of
  // its own to the chunk's end, or to the byte before another piece starts.
  void piecesTileTheChunk() {
    std::map<std::int64_t, std::vector<Record>> byChunk;
    for (const auto& r : chunkRequests()) byChunk[chunkOf(r)].push_back(r);
    bool split = false;
    for (auto& [chunk, pieces] : byChunk) {
      std::sort(pieces.begin(), pieces.end(),
                [](const auto& a, const auto& b) { return firstByte(a) < firstByte(b); });
      split = split || pieces.size() > 1;
      EXPECT_EQ(pieces.front().range, byteRange(chunk * kChunk, chunkEnd(chunk) - 1));
      std::set<std::int64_t> ends{chunkEnd(chunk) - 1};
      for (std::size_t k = 1; k < pieces.size(); ++k) ends.insert(firstByte(pieces[k]) - 1);
      for (std::size_t k = 1; k < pieces.size(); ++k) {
        EXPECT_NE(firstByte(pieces[k]), firstByte(pieces[k - 1])) << "asked for twice: " << pieces[k].range;
        EXPECT_TRUE(ends.contains(lastByte(pieces[k]))) << pieces[k].range;
      }
    }
    EXPECT_TRUE(split);
  }
  // While chunk 0 held the window, it alone was split: a split of another
  // chunk would end a request halfway and free nothing.
  void onlyTheLaggardWasSplit() {
    std::set<std::int64_t> split;
    for (const auto& r : beforeTheEnd_)
      if (firstByte(r) % kChunk != 0) split.insert(chunkOf(r));
    EXPECT_EQ(split, std::set<std::int64_t>{0});
    piecesTileTheChunk();
  }
  // After the resume, no request asks for bytes at or past a second request's
  // start from before the pause: each first half stops where its back begins.
  void resumedRequestsStopAtTheirSplits() {
    std::set<std::int64_t> backs;
    for (const auto& r : beforeTheEnd_)
      if (firstByte(r) % kChunk != 0) backs.insert(firstByte(r));
    ASSERT_FALSE(backs.empty());
    const auto gets = chunkRequests();
    for (std::size_t k = beforeTheEnd_.size(); k < gets.size(); ++k) {
      const auto next = backs.upper_bound(firstByte(gets[k]));
      if (next != backs.end() && *next / kChunk == chunkOf(gets[k])) {
        EXPECT_LT(lastByte(gets[k]), *next) << gets[k].range;
      }
    }
  }
  // Once the end has settled, no request follows.
  void nothingAfterTheEnd() {
    ASSERT_TRUE(waitFor([&] { return nonePending(); }));
    settle();
    const std::size_t settled = chunkRequests().size();
    settle();
    EXPECT_EQ(chunkRequests().size(), settled);
    if (GetParam().end == End::FailedOnce) {
      // Ten chunks, and three retries of the one that failed; the others were ended.
      const auto gets = chunkRequests();
      EXPECT_EQ(gets.size(), 13u);
      EXPECT_TRUE(std::all_of(gets.begin(), gets.end(), [](const auto& r) { return chunkOf(r) < 10; }));
      EXPECT_EQ(mgr_->taskFailCount.load(), 1);
    }
  }

 protected:
  int splitLines() const {
    return static_cast<int>(
        log_->outputLines().filter(QStringLiteral("OVDownloadMgr::processTasks(), split")).size());
  }
  std::vector<Record> beforeTheEnd_;  // the GETs when a pause or cancel came
};

TEST_P(Window, AtMostTenInFlightAndNoneHoldsTheDownloadBack) {
  const WindowCase& c = GetParam();
  prepare(addInstaller(kSetup, c.size), c.size);
  setScenario([&](refservice::Scenario& s) {
    s.installer.hold = true;
    c.faults(s.installer);
  });
  startDownload();
  (this->*c.during)();
  ASSERT_TRUE(c.end == End::Cancelled || waitForEnd());

  EXPECT_LE(service_->peakOpenInstallerBodies(), 10);
  for (const auto& request : chunkRequests()) {
    EXPECT_EQ(request.header("If-Range"), mgr_->szETag.toStdString());
    EXPECT_EQ(chunkOf(request), lastByte(request) / kChunk) << "within one chunk: " << request.range;
  }
  if (c.end == End::Delivered) {
    EXPECT_THAT(proxy_->failures(), IsEmpty());
    EXPECT_EQ(proxy_->completions(), 1);
    EXPECT_TRUE(sameFileContents(downloadsPath(kSetup), installerPath(kSetup)));
    EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0")), 1);
  } else {
    EXPECT_EQ(proxy_->failures(), c.end == End::FailedOnce ? std::vector{ERROR_Code::E_DOWNLOAD_FAILED}
                                                           : std::vector<ERROR_Code>{});
    EXPECT_EQ(proxy_->completions(), 0);
    EXPECT_FALSE(QFileInfo::exists(downloadsPath(kSetup)));
  }
  EXPECT_EQ(QFileInfo::exists(tempFolder()), c.end == End::FailedOnce);
  if (c.check) (this->*c.check)();
}

std::function<void(refservice::InstallerFaults&)> heldAt(std::int64_t bytes,
                                                         std::set<std::int64_t> ranges = {}) {
  return [=](refservice::InstallerFaults& f) { f.holdAfterBytes = bytes, f.holdRanges = ranges; };
}

// The first byte of each chunk of `count`.
std::set<std::int64_t> chunkStarts(std::int64_t count) {
  std::set<std::int64_t> starts;
  for (std::int64_t i = 0; i < count; ++i) starts.insert(i * kChunk);
  return starts;
}

const std::vector<WindowCase> kWindow = {
    {"TheEleventhChunkStartsAsSoonAsAnyOfTheFirstTenEnds", 12 * kChunk,
     heldAt(kChunk - 1,
            [] {
              auto starts = chunkStarts(10);
              starts.erase(3 * kChunk);
              return starts;
            }()),
     &Window::releaseChunkThreeFirst, End::Delivered, &Window::startedInOrderOfTheEnds},
    {"NeverMoreThanTenInFlight", 15 * kChunk, heldAt(kChunk - 1, chunkStarts(15)),
     &Window::releaseFiveThenAll, End::Delivered, &Window::startedInOrderOfTheEnds},
    {"AHeldChunkIsSplitAndThePartIsExact", kChunk + 50'000, heldAt(kHeldAt), &Window::releaseWhenStalled,
     End::Delivered, &Window::piecesTileTheChunk},
    {"ALaggardHoldsTheWindowAtTwentyPartsAndIsSplit", 21 * kChunk + 1000, heldAt(kHeldAt, {0}),
     &Window::releaseWhenStalled, End::Delivered, &Window::piecesTileTheChunk},
    // Chunk 20, held too, has the most bytes still to come but holds nothing up.
    {"OnlyTheLaggardIsSplitWhileItHoldsTheWindow", 21 * kChunk + 1000, heldAt(kHeldAt, {0, 20 * kChunk}),
     &Window::releaseWhenStalled, End::Delivered, &Window::onlyTheLaggardWasSplit},
    {"PauseDuringASplit", kChunk + 50'000, heldAt(kHeldAt), &Window::pauseAndResumeWhenStalled,
     End::Delivered, &Window::resumedRequestsStopAtTheirSplits},
    {"CancelDuringASplit", kChunk + 50'000, heldAt(kHeldAt), &Window::cancelWhenStalled, End::Cancelled,
     &Window::nothingAfterTheEnd},
    {"AChunkFailingAfterItsRetriesEndsTheDownloadOnce", 14 * kChunk + 4321,
     [](refservice::InstallerFaults& f) {
       f.holdAfterBytes = kChunk - 1, f.failAtByte = 2 * kChunk, f.failStatus = 503;
     },
     &Window::waitForTheFailure, End::FailedOnce, &Window::nothingAfterTheEnd},
};

INSTANTIATE_TEST_SUITE_P(Transfer, Window, ::testing::ValuesIn(kWindow), rowName);

class HeartbeatPeriod : public ServiceTest,
                        public ::testing::WithParamInterface<std::pair<std::optional<std::int64_t>, double>> {
};

TEST_P(HeartbeatPeriod, TimersStartWithTheirPeriodsAndARetryReplacesThem) {
  mgr_->heartbeatsTime = GetParam().first;
  prepare(addInstaller(kSetup, 10), 0, false);
  // The first run has no chunk to fetch; the Retry probes the size again and finds its chunk refused.
  setScenario([](refservice::Scenario& s) { s.installer.failAtByte = 0; });
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
