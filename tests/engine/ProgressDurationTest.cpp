// The overall progress from the per-chunk fractions, and the active download
// time that leaves out paused stretches.

#include "platform/Clock.h"
#include "platform/RepeatingTimer.h"
#include "tests/support/Rows.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using test::PrintTo;

using ::testing::DoubleNear;
using ::testing::Pointwise;

struct ProgressCase {
  const char* name;
  std::vector<double> chunks;
  std::vector<double> reported;  // none: the tick reports nothing
  bool timerStopped = false;     // the timer stops after the tick was queued
};

class ProgressTick : public ServiceTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(ProgressTick, ReportsTheMeanScaledToTheTransferShare) {
  mgr_->progressTimer = RepeatingTimer::scheduled(600, [] {});
  mgr_->listProgress = GetParam().chunks;
  mgr_->onUpdateProgress();
  if (GetParam().timerStopped) {
    mgr_->progressTimer->invalidate();
    mgr_->progressTimer = nullptr;
  }
  drainMainQueue();
  EXPECT_THAT(proxy_->progress(), Pointwise(DoubleNear(1e-12), GetParam().reported));
  EXPECT_FALSE(proxy_->calledOffMainThread());
}

INSTANTIATE_TEST_SUITE_P(Fractions, ProgressTick,
                         ::testing::Values(ProgressCase{"NoChunks", {}, {0.0}},
                                           ProgressCase{"Mixed", {1.0, 0.5, 0.0, 0.5}, {0.49}},
                                           ProgressCase{
                                               "AllArrived", {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0}, {0.98}},
                                           ProgressCase{"Nothing", {0.0, 0.0}, {0.0}},
                                           ProgressCase{"AboveTheShare", {1.0, 1.5}, {}},
                                           ProgressCase{"Negative", {-0.5, 0.0}, {}},
                                           ProgressCase{"QueuedBeforeTheTimerStopped", {0.5}, {}, true}),
                         rowName);

TEST_F(ServiceTest, PausedStretchesAreLeftOutOfTheDuration) {
  const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1'700'000'000);
  const auto at = [&](double seconds) {
    setClockForTesting([moment = t0.addMSecs(static_cast<qint64>(seconds * 1000))] { return moment; });
  };
  at(0);
  prepare(addInstaller(kSetup, 10), 0, false);
  mgr_->previousDownloadDuration = 99;
  offMain([&] { mgr_->DownloadFile(); });
  EXPECT_EQ(mgr_->previousStartTime, t0);
  EXPECT_EQ(mgr_->previousDownloadDuration, 0.0);
  // The start's size report reads the duration too; it has gone out before the pause.
  ASSERT_TRUE(waitForStatusReports(1));

  at(10);
  mgr_->PauseDownload();
  EXPECT_DOUBLE_EQ(mgr_->downloadDuration.load(), 10.0);
  EXPECT_DOUBLE_EQ(mgr_->previousDownloadDuration, 10.0);

  at(100);
  mgr_->ResumeDownload();
  EXPECT_EQ(mgr_->previousStartTime, t0.addSecs(100));

  at(105);
  const qsizetype linesBefore = log_->outputLines().size();
  mgr_->PauseDownload();
  EXPECT_DOUBLE_EQ(mgr_->downloadDuration.load(), 15.0);
  EXPECT_DOUBLE_EQ(mgr_->previousDownloadDuration, 15.0);
  const QStringList lines = log_->outputLines()
                                .mid(linesBefore)
                                .filter(QStringLiteral("getCurrentDownloadDuration() previousStartTime : "));
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines.front().endsWith(QStringLiteral(", previousDownloadDuration : 10")))
      << lines.front().toStdString();

  at(100 + 2.9);
  EXPECT_DOUBLE_EQ(mgr_->getCurrentDownloadDuration(), 17.9);
}

}  // namespace
}  // namespace ov::test
