// Pause parks the running requests and resume continues them; cancel stops
// everything, also while paused, and a cancelled download never completes.

#include <algorithm>
#include <set>
#include <thread>

#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;

// Two 5 MiB chunks and a small third one.
constexpr std::int64_t kSize = 2 * kChunk + 5'000;

class PauseResumeCancelTest : public EngineTest {
 protected:
  // Starts a download whose answers trickle, and waits until both big chunks
  // have reported progress (the small one is done by then).
  void startSlowDownload() {
    prepare(addInstaller(QStringLiteral("Setup.pkg"), kSize), kSize);
    service_->updateScenario([](refservice::Scenario& s) { s.installer.rateLimit = 2'000'000; });
    startDownload();
    ASSERT_TRUE(waitFor([&] {
      return mgr_->listProgress.size() == 3 && mgr_->listProgress[0] > 0 && mgr_->listProgress[1] > 0 &&
             tasksLeft() == 2;
    }));
  }

  std::set<ov::DownloadRequest*> parkedRequests() const {
    std::set<ov::DownloadRequest*> parked;
    for (const auto& request : mgr_->listDLRequest) parked.insert(request.get());
    return parked;
  }

  // Held answers of big chunks that are still being written.
  bool bothBigChunksHeld() const {
    return service_->waitForRequests(
        [](const auto& records) {
          return std::count_if(records.begin(), records.end(), [](const auto& r) { return r.held; }) == 2;
        },
        std::chrono::seconds(20));
  }
};

TEST_F(PauseResumeCancelTest, PauseParksTheRunningRequestsAndResumeFinishesExactly) {
  startSlowDownload();
  mgr_->PauseDownload();
  const std::vector<double> atPause = mgr_->listProgress;

  EXPECT_TRUE(mgr_->isPauseTask());
  EXPECT_FALSE(mgr_->progressTimer);
  EXPECT_FALSE(mgr_->heartbeatsTimer);
  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_TRUE(log_->systemLines().contains(QStringLiteral("[OVDownloader]Pause Download")));

  // Each running request is parked at its next progress report.
  ASSERT_TRUE(waitFor([&] { return parkedRequests().size() == 2; }));
  for (const auto& request : mgr_->listDLRequest) EXPECT_TRUE(request->isSuspended());
  settle();
  EXPECT_EQ(mgr_->listProgress, atPause);
  EXPECT_EQ(tasksLeft(), 2u);
  EXPECT_EQ(proxy_->completions(), 0);
  const std::size_t requestsWhilePaused = chunkRequests().size();

  service_->updateScenario([](refservice::Scenario& s) { s.installer.rateLimit = 0; });
  mgr_->ResumeDownload();
  EXPECT_TRUE(mgr_->listDLRequest.empty());
  EXPECT_FALSE(mgr_->isPauseTask());
  EXPECT_EQ(assertionsHeld_.load(), 1);
  ASSERT_TRUE(waitForOutcome());

  EXPECT_THAT(proxy_->failures(), ElementsAre());
  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")),
                               installerPath(QStringLiteral("Setup.pkg"))));
  // The parked requests asked only for the bytes they still lacked, with the same validator.
  const auto requests = chunkRequests();
  ASSERT_EQ(requests.size(), requestsWhilePaused + 2);
  for (std::size_t i = requestsWhilePaused; i < requests.size(); ++i) {
    const std::string& range = requests[i].range;
    EXPECT_TRUE(range.ends_with("-5242879") || range.ends_with("-10485759")) << range;
    EXPECT_NE(range, "bytes=0-5242879");
    EXPECT_NE(range, "bytes=5242880-10485759");
    EXPECT_EQ(requests[i].header("If-Range"), mgr_->szETag.toStdString());
  }
}

// A request that only records what is asked of it.
class ScriptedRequest : public ov::DownloadRequest {
 public:
  ScriptedRequest(int id, std::vector<int>& resumed) : id_(id), resumed_(resumed) {}
  void suspend() override { suspended_ = true; }
  void resume() override {
    suspended_ = false;
    resumed_.push_back(id_);
  }
  void cancel() override {}
  bool isSuspended() const override { return suspended_; }

 private:
  int id_;
  std::vector<int>& resumed_;
  bool suspended_ = true;
};

TEST_F(PauseResumeCancelTest, ResumeContinuesParkedRequestsInParkingOrder) {
  const QDateTime resumeTime = QDateTime::fromSecsSinceEpoch(1'700'000'000);
  ov::setClockForTesting([&] { return resumeTime; });
  std::vector<int> resumed;
  mgr_->bPause = true;
  for (int id : {3, 1, 2}) mgr_->listDLRequest.push_back(std::make_shared<ScriptedRequest>(id, resumed));

  mgr_->ResumeDownload();

  EXPECT_THAT(resumed, ElementsAre(3, 1, 2));
  EXPECT_TRUE(mgr_->listDLRequest.empty());
  EXPECT_FALSE(mgr_->isPauseTask());
  EXPECT_EQ(mgr_->previousStartTime, resumeTime);
  EXPECT_EQ(assertionsHeld_.load(), 1);
  EXPECT_TRUE(log_->systemLines().contains(QStringLiteral("[OVDownloader]Resume Download")));
  ASSERT_TRUE(waitFor([&] { return mgr_->progressTimer && mgr_->heartbeatsTimer; }));
}

TEST_F(PauseResumeCancelTest, CancelDuringARoundStopsItsRequestsAndReportsOnce) {
  prepare(addInstaller(QStringLiteral("Setup.pkg"), kSize), kSize);
  service_->updateScenario([](refservice::Scenario& s) {
    s.installer.hold = true;
    s.installer.holdAfterBytes = 65'536;
  });
  startDownload();
  ASSERT_TRUE(bothBigChunksHeld());
  ASSERT_TRUE(waitFor([&] { return tasksLeft() == 2 && mgr_->progressTimer; }));
  ASSERT_TRUE(QFileInfo::exists(tempFolder()));

  std::atomic<bool> handlerOnMain{true};
  std::atomic<bool> reportedBeforeHandler{false};
  std::atomic<bool> handlerRan{false};
  mgr_->CancelDownload(true, [&] {
    handlerOnMain = ov::isMainThread();
    const auto reports = statusReports();
    reportedBeforeHandler = !reports.empty() && reports.back().first == "Cancel";
    handlerRan = true;
  });

  EXPECT_TRUE(mgr_->isCancelTask());
  EXPECT_EQ(tasksLeft(), 0u);
  EXPECT_TRUE(mgr_->listProgress.empty());
  EXPECT_EQ(mgr_->currentReceivedSize.load(), 0);
  EXPECT_FALSE(mgr_->progressTimer);
  EXPECT_FALSE(mgr_->heartbeatsTimer);
  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_TRUE(log_->systemLines().contains(QStringLiteral("[OVDownloader]Cancel Download")));
  ASSERT_TRUE(waitFor([&] { return handlerRan.load(); }));
  EXPECT_FALSE(handlerOnMain.load());
  EXPECT_TRUE(reportedBeforeHandler.load());
  ASSERT_TRUE(waitFor([&] { return !proxy_->progress().empty(); }));
  EXPECT_EQ(proxy_->progress().back(), 0.0);

  // Released, the held answers find no reader: the chunk requests were
  // cancelled rather than left to run to their end.
  service_->setHold(false);
  ASSERT_TRUE(service_->waitForRequests(
      [](const auto& records) {
        return std::none_of(records.begin(), records.end(),
                            [](const auto& r) { return r.outcome == refservice::Outcome::Pending; });
      },
      std::chrono::seconds(20)));
  const auto gets = chunkRequests();
  EXPECT_EQ(std::count_if(gets.begin(), gets.end(),
                          [](const auto& r) { return r.outcome == refservice::Outcome::Aborted; }),
            2);
  settle(std::chrono::milliseconds(500));
  EXPECT_EQ(chunkRequests().size(), 3u);
  EXPECT_THAT(proxy_->failures(), ElementsAre());
  EXPECT_EQ(proxy_->completions(), 0);
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  EXPECT_EQ(statusReports().back(), (std::pair<std::string, std::string>{"Cancel", ""}));
}

TEST_F(PauseResumeCancelTest, CancelWhilePausedEndsTheParkedRequestsSilently) {
  startSlowDownload();
  mgr_->PauseDownload();
  ASSERT_TRUE(waitFor([&] { return parkedRequests().size() == 2; }));
  const std::size_t reportsBefore = statusReports().size();
  const std::size_t requestsBefore = chunkRequests().size();

  bool handlerRan = false;
  mgr_->CancelDownload(false, [&] { handlerRan = true; });
  service_->updateScenario([](refservice::Scenario& s) { s.installer.rateLimit = 0; });
  settle(std::chrono::milliseconds(500));

  EXPECT_FALSE(handlerRan);
  EXPECT_EQ(statusReports().size(), reportsBefore);
  EXPECT_TRUE(mgr_->isCancelTask());
  EXPECT_TRUE(mgr_->isPauseTask());
  EXPECT_TRUE(mgr_->listProgress.empty());
  EXPECT_EQ(chunkRequests().size(), requestsBefore);
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_THAT(proxy_->failures(), ElementsAre());
  EXPECT_EQ(proxy_->completions(), 0);
  ASSERT_FALSE(proxy_->progress().empty());
  EXPECT_EQ(proxy_->progress().back(), 0.0);
}

TEST_F(PauseResumeCancelTest, ASecondCancelRepeatsTheStepsQuietly) {
  mgr_->fileUrl = mgr_->getSaveFileUrl(QStringLiteral("https://127.0.0.1/x/Setup.pkg"));
  writeWholeFile(tempFolder() + QStringLiteral("/Setup.pkg.0"), "part");
  mgr_->CancelDownload(false);
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  log_->clear();

  mgr_->CancelDownload(false);
  EXPECT_TRUE(mgr_->isCancelTask());
  EXPECT_EQ(log_->systemLines(), QStringList{QStringLiteral("[OVDownloader]Cancel Download")});
  EXPECT_TRUE(log_->outputLines().filter(QStringLiteral("removeTempFiles")).isEmpty());
}

TEST_F(PauseResumeCancelTest, ACancelAfterTheLastRoundButBeforeTheCompletionStepStopsIt) {
  prepare(addInstaller(QStringLiteral("Setup.pkg"), 5'000), 5'000);
  startDownload();
  // The merge's end waits for the main loop to stop the timers; the user's
  // cancel is what the main loop runs first.
  const QString merged = QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0");
  for (int i = 0; i < 400 && !log_->outputLines().contains(merged); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  ASSERT_TRUE(log_->outputLines().contains(merged));
  mgr_->CancelDownload(false);
  settle();

  EXPECT_EQ(proxy_->completions(), 0);
  EXPECT_THAT(proxy_->failures(), ElementsAre());
  EXPECT_TRUE(toolkit_->openedUrls().empty());
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  EXPECT_FALSE(QFileInfo::exists(downloadsPath(QStringLiteral("Setup.pkg"))));
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  ASSERT_TRUE(waitForStatusReports(1));
  for (const auto& report : statusReports()) EXPECT_NE(report.first, "Complete");
}

}  // namespace
}  // namespace enginetest
