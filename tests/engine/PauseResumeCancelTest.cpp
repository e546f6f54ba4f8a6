// Pause parks the running requests and resume continues them; cancel stops
// everything, also while paused, and a cancelled download never completes.

#include <algorithm>
#include <thread>

#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

// Two 5 MiB chunks, each answer held 400,000 bytes short of its end.
constexpr std::int64_t kSize = 2 * kChunk;
constexpr std::int64_t kHeldAt = kChunk - 400'000;

class PauseResumeCancel : public ServiceTest {
 protected:
  // Starts a download whose two chunks stop short until released, and waits
  // until the program has every byte sent so far (too little is left of
  // either to split it) and the start's status report has been received
  // (nothing else is reported until the download ends).
  void startHeldDownload() {
    prepare(addInstaller(kSetup, kSize), kSize);
    setScenario(
        [](refservice::Scenario& s) { s.installer.hold = true, s.installer.holdAfterBytes = kHeldAt; });
    startDownload();
    ASSERT_TRUE(waitFor([&] {
      const auto& progress = mgr_->listProgress;
      const auto arrived = [](double fraction) { return std::llround(fraction * kChunk) >= kHeldAt; };
      return progress.size() == 2 && arrived(progress[0]) && arrived(progress[1]) && heldRequests() == 2 &&
             statusReports().size() == 1;
    }));
  }
  // Pauses and waits until both running requests are parked, each once.
  void pause() {
    mgr_->PauseDownload();
    ASSERT_TRUE(waitFor([&] { return mgr_->listDLRequest.size() >= 2; }));
    drainMainQueue();
    ASSERT_EQ(mgr_->listDLRequest.size(), 2u);
    EXPECT_NE(mgr_->listDLRequest[0], mgr_->listDLRequest[1]);
    for (const auto& request : mgr_->listDLRequest) EXPECT_TRUE(request->isSuspended());
  }
};

TEST_F(PauseResumeCancel, PauseParksTheRunningRequestsAndResumeFinishesExactly) {
  startHeldDownload();
  pause();
  EXPECT_TRUE(mgr_->isPauseTask());
  EXPECT_FALSE(mgr_->progressTimer);
  EXPECT_FALSE(mgr_->heartbeatsTimer);
  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]Pause Download")));
  const std::vector<double> atPause = mgr_->listProgress;
  settle();
  EXPECT_EQ(mgr_->listProgress, atPause);
  EXPECT_EQ(tasksLeft(), 2u);
  EXPECT_EQ(proxy_->completions(), 0);
  const std::size_t requestsWhilePaused = chunkRequests().size();

  service_->setHold(false);
  mgr_->ResumeDownload();
  EXPECT_TRUE(mgr_->listDLRequest.empty());
  EXPECT_FALSE(mgr_->isPauseTask());
  EXPECT_EQ(assertionsHeld_.load(), 1);
  EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]Resume Download")));
  ASSERT_TRUE(waitForOutcome());

  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_TRUE(sameFileContents(downloadsPath(kSetup), installerPath(kSetup)));
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

TEST_F(PauseResumeCancel, CancelDuringTheTransferStopsItsRequestsAndReportsOnce) {
  startHeldDownload();
  ASSERT_TRUE(waitFor([&] { return mgr_->progressTimer != nullptr; }));
  ASSERT_TRUE(QFileInfo::exists(tempFolder()));

  std::atomic<bool> handlerOnMain{true};
  std::atomic<bool> reportedBeforeHandler{false};
  std::atomic<bool> handlerRan{false};
  mgr_->CancelDownload(true, [&] {
    handlerOnMain = isMainThread();
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
  EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]Cancel Download")));
  ASSERT_TRUE(waitFor([&] { return handlerRan.load(); }));
  EXPECT_FALSE(handlerOnMain.load());
  EXPECT_TRUE(reportedBeforeHandler.load());
  drainMainQueue();
  ASSERT_FALSE(proxy_->progress().empty());
  EXPECT_EQ(proxy_->progress().back(), 0.0);

  // Released, the held answers find no reader: the chunk requests were
  // cancelled rather than left to run to their end.
  service_->setHold(false);
  ASSERT_TRUE(waitFor([&] {
    const auto gets = chunkRequests();
    return std::count_if(gets.begin(), gets.end(),
                         [](const auto& r) { return r.outcome == refservice::Outcome::Aborted; }) == 2;
  }));
  settle();
  EXPECT_EQ(chunkRequests().size(), 2u);
  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_EQ(proxy_->completions(), 0);
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  EXPECT_EQ(statusReports().back(), (Report{"Cancel", ""}));
}

TEST_F(PauseResumeCancel, CancelWhilePausedEndsTheParkedRequestsSilently) {
  startHeldDownload();
  pause();
  const std::size_t requestsBefore = chunkRequests().size();

  std::atomic<bool> handlerRan{false};
  mgr_->CancelDownload(false, [&] { handlerRan = true; });
  service_->setHold(false);
  drainMainQueue();
  ASSERT_FALSE(proxy_->progress().empty());
  EXPECT_EQ(proxy_->progress().back(), 0.0);
  settle();

  EXPECT_FALSE(handlerRan.load());
  EXPECT_THAT(statusReports(), ElementsAre(Report{"Downloading", ""}));
  EXPECT_TRUE(mgr_->isCancelTask());
  EXPECT_TRUE(mgr_->isPauseTask());
  EXPECT_TRUE(mgr_->listProgress.empty());
  EXPECT_EQ(chunkRequests().size(), requestsBefore);
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_EQ(proxy_->completions(), 0);
}

TEST_F(PauseResumeCancel, ACancelWhileTheRetryAsksForTheLinkAgainWins) {
  prepare(addInstaller(kSetup, 5'000), 5'000);
  setScenario([](refservice::Scenario& s) { s.installer.failAtByte = 0; });
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  ASSERT_TRUE(waitForStatusReports(1));
  // The Retry's link query waits for its answer when the user cancels.
  setScenario([](refservice::Scenario& s) { s.installer = {}, s.answerDelay = 20s; });
  startDownload();
  ASSERT_TRUE(waitFor([&] { return posts("get-link.jsp").size() == 1; }));
  mgr_->CancelDownload(false);
  settle();

  EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  EXPECT_THAT(statusReports(), ElementsAre(Report{"Downloading", ""}));
  EXPECT_EQ(chunkRequests().size(), 1u);
  EXPECT_TRUE(mgr_->isCancelTask());
  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
}

TEST_F(PauseResumeCancel, ACancelAfterTheLastChunkButBeforeTheCompletionStepStopsIt) {
  prepare(addInstaller(kSetup, 5'000), 5'000);
  startDownload();
  // The merge's end waits for the main loop to stop the timers, so the
  // user's cancel is what the main loop runs first: the test holds it. The
  // start's report goes out meanwhile; a cancel would end it in flight.
  const QString merged = QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0");
  const auto merging = [&] { return log_->outputLines().contains(merged) && statusReports().size() == 1; };
  for (int i = 0; i < 2400 && !merging(); ++i) std::this_thread::sleep_for(25ms);
  ASSERT_TRUE(merging());
  mgr_->CancelDownload(false);
  settle();

  EXPECT_EQ(proxy_->completions(), 0);
  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_THAT(toolkit_->calls(), IsEmpty());
  EXPECT_FALSE(QFileInfo::exists(downloadsPath(kSetup)));
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  EXPECT_THAT(statusReports(), ElementsAre(Report{"Downloading", ""}));
}

}  // namespace
}  // namespace ov::test
