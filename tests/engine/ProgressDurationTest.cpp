// The overall progress from the per-chunk fractions, and the active download
// time that leaves out paused stretches.

#include "platform/RepeatingTimer.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using ::testing::DoubleNear;
using ::testing::ElementsAre;

struct ProgressCase {
  const char* name;
  std::vector<double> chunks;
  std::optional<double> reported;  // nothing: the tick reports nothing
};

void PrintTo(const ProgressCase& c, std::ostream* out) {
  *out << c.name;
}

class ProgressTickTest : public EngineTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(ProgressTickTest, ReportsTheMeanScaledToTheTransferShare) {
  mgr_->progressTimer = ov::RepeatingTimer::scheduled(600, [] {});
  mgr_->listProgress = GetParam().chunks;
  mgr_->onUpdateProgress();
  settle(std::chrono::milliseconds(50));

  if (GetParam().reported) {
    EXPECT_THAT(proxy_->progress(), ElementsAre(DoubleNear(*GetParam().reported, 1e-12)));
  } else {
    EXPECT_THAT(proxy_->progress(), ElementsAre());
  }
  EXPECT_FALSE(proxy_->calledOffMainThread());
}

INSTANTIATE_TEST_SUITE_P(Fractions, ProgressTickTest,
                         ::testing::Values(ProgressCase{"NoChunks", {}, 0.0},
                                           ProgressCase{"Mixed", {1.0, 0.5, 0.0, 0.5}, 0.49},
                                           ProgressCase{"AllArrived", {1.0, 1.0, 1.0}, 0.98},
                                           ProgressCase{"Nothing", {0.0, 0.0}, 0.0},
                                           ProgressCase{"AboveTheShare", {1.0, 1.5}, std::nullopt},
                                           ProgressCase{"Negative", {-0.5, 0.0}, std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, AllChunksArrivedReportsExactlyTheTransferShare) {
  mgr_->progressTimer = ov::RepeatingTimer::scheduled(600, [] {});
  mgr_->listProgress.assign(7, 1.0);
  mgr_->onUpdateProgress();
  settle(std::chrono::milliseconds(50));
  EXPECT_THAT(proxy_->progress(), ElementsAre(0.98));
}

TEST_F(EngineTest, ATickQueuedBeforeTheTimerStoppedIsDropped) {
  mgr_->progressTimer = ov::RepeatingTimer::scheduled(600, [] {});
  mgr_->listProgress = {0.5};
  mgr_->onUpdateProgress();
  mgr_->progressTimer->invalidate();
  mgr_->progressTimer = nullptr;
  settle(std::chrono::milliseconds(50));
  EXPECT_THAT(proxy_->progress(), ElementsAre());
}

TEST_F(EngineTest, TheTimerDrivesTheProgressOnTheMainThread) {
  mgr_->listProgress = {1.0, 0.0};
  mgr_->progressTimer =
      ov::RepeatingTimer::scheduled(mgr_->progressTimerInterval, [&] { mgr_->onUpdateProgress(); });
  ASSERT_TRUE(waitFor([&] { return proxy_->progress().size() >= 2; }));
  EXPECT_DOUBLE_EQ(proxy_->progress().front(), 0.49);
  EXPECT_FALSE(proxy_->calledOffMainThread());
}

class DurationTest : public EngineTest {
 protected:
  void at(double seconds) {
    const QDateTime moment = t0_.addMSecs(static_cast<qint64>(seconds * 1000));
    ov::setClockForTesting([moment] { return moment; });
  }
  const QDateTime t0_ = QDateTime::fromSecsSinceEpoch(1'700'000'000);
};

TEST_F(DurationTest, PausedStretchesAreLeftOut) {
  at(0);
  prepare(addInstaller(QStringLiteral("Setup.pkg"), 10), 0, false);
  mgr_->previousDownloadDuration = 99;
  std::async(std::launch::async, [mgr = mgr_.get()] { mgr->DownloadFile(); }).get();
  EXPECT_EQ(mgr_->previousStartTime, t0_);
  EXPECT_EQ(mgr_->previousDownloadDuration, 0.0);
  // The start's size report reads the duration too; it has gone out before the pause.
  ASSERT_TRUE(waitForStatusReports(1));

  at(10);
  mgr_->PauseDownload();
  EXPECT_DOUBLE_EQ(mgr_->downloadDuration.load(), 10.0);
  EXPECT_DOUBLE_EQ(mgr_->previousDownloadDuration, 10.0);

  at(100);
  mgr_->ResumeDownload();
  EXPECT_EQ(mgr_->previousStartTime, t0_.addSecs(100));

  at(105);
  log_->clear();
  mgr_->PauseDownload();
  EXPECT_DOUBLE_EQ(mgr_->downloadDuration.load(), 15.0);
  EXPECT_DOUBLE_EQ(mgr_->previousDownloadDuration, 15.0);
  const QStringList lines =
      log_->outputLines().filter(QStringLiteral("getCurrentDownloadDuration() previousStartTime : "));
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines.front().endsWith(QStringLiteral(", previousDownloadDuration : 10")))
      << lines.front().toStdString();

  at(100 + 2.9);
  EXPECT_DOUBLE_EQ(mgr_->getCurrentDownloadDuration(), 17.9);
}

TEST_F(DurationTest, TheSizeReportSendsTheWholeSecondsOfActiveTime) {
  at(0);
  prepare(addInstaller(QStringLiteral("Setup.pkg"), 10), 0, false);
  mgr_->previousStartTime = t0_;
  mgr_->previousDownloadDuration = 15;
  mgr_->currentReceivedSize = 1234;
  at(7.9);
  std::async(std::launch::async, [mgr = mgr_.get()] { mgr->sendLog_UpdateSize(); }).get();
  ASSERT_TRUE(waitFor([&] { return sizeReportCount() == 1; }));

  EXPECT_DOUBLE_EQ(mgr_->downloadDuration.load(), 22.9);
  for (const auto& record : service_->requests()) {
    if (record.path != "/prog/util/downloader/update-size-v2.jsp") continue;
    EXPECT_EQ(record.field("Duration"), "22");
    EXPECT_EQ(record.field("currentDownloadSize"), "1234");
    EXPECT_EQ(record.field("fileSize"), "0");
  }
}

}  // namespace
}  // namespace enginetest
