// The overall progress from the per-chunk fractions, and the active download
// time that leaves out paused stretches.

#include <future>

#include "platform/Clock.h"
#include "platform/RepeatingTimer.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
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

class ProgressTick : public ServiceTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(ProgressTick, ReportsTheMeanScaledToTheTransferShare) {
  mgr_->progressTimer = RepeatingTimer::scheduled(600, [] {});
  mgr_->listProgress = GetParam().chunks;
  mgr_->onUpdateProgress();
  drainMainQueue();

  if (GetParam().reported) {
    EXPECT_THAT(proxy_->progress(), ElementsAre(DoubleNear(*GetParam().reported, 1e-12)));
  } else {
    EXPECT_THAT(proxy_->progress(), ElementsAre());
  }
  EXPECT_FALSE(proxy_->calledOffMainThread());
}

INSTANTIATE_TEST_SUITE_P(
    Fractions, ProgressTick,
    ::testing::Values(ProgressCase{"NoChunks", {}, 0.0}, ProgressCase{"Mixed", {1.0, 0.5, 0.0, 0.5}, 0.49},
                      ProgressCase{"AllArrived", {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0}, 0.98},
                      ProgressCase{"Nothing", {0.0, 0.0}, 0.0},
                      ProgressCase{"AboveTheShare", {1.0, 1.5}, std::nullopt},
                      ProgressCase{"Negative", {-0.5, 0.0}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, AProgressTickQueuedBeforeTheTimerStoppedIsDropped) {
  mgr_->progressTimer = RepeatingTimer::scheduled(600, [] {});
  mgr_->listProgress = {0.5};
  mgr_->onUpdateProgress();
  mgr_->progressTimer->invalidate();
  mgr_->progressTimer = nullptr;
  drainMainQueue();
  EXPECT_THAT(proxy_->progress(), ElementsAre());
}

TEST_F(ServiceTest, PausedStretchesAreLeftOutOfTheDuration) {
  const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1'700'000'000);
  const auto at = [&](double seconds) {
    setClockForTesting([moment = t0.addMSecs(static_cast<qint64>(seconds * 1000))] { return moment; });
  };
  at(0);
  prepare(addInstaller(QStringLiteral("Setup.pkg"), 10), 0, false);
  mgr_->previousDownloadDuration = 99;
  std::async(std::launch::async, [mgr = mgr_.get()] { mgr->DownloadFile(); }).get();
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

}  // namespace
}  // namespace ov::test
