#include <QFileInfo>
#include <cmath>

#include "app/StringFormat.h"
#include "tests/app/AppFixture.h"

namespace apptest {
namespace {

using ov::formatString;

class Window : public AppTest {
 protected:
  // Loads the window and waits until the download is ready; the countdown
  // ticks only when the test says so.
  void loadReady(double countdownInterval = 3600) {
    load();
    vc().autoCountDownTimerInterval = countdownInterval;
    ASSERT_TRUE(waitForReady());
  }
  // Installer bodies stop after `bytes` until released.
  void holdAfter(std::int64_t bytes) {
    service_->updateScenario([bytes](refservice::Scenario& s) {
      s.installer.hold = true;
      s.installer.holdAfterBytes = bytes;
    });
  }
  QString countdownText(int seconds) const { return formatString(IDS_COUNT_AUTO_DOWNLOAD, {seconds}); }
  int downloadsBegun() const {
    return static_cast<int>(log_->systemLines().count(u"[OVDownloader]Download begin"_qs));
  }
  QString expectedLocation() const { return sandbox_->downloads() + u'/' + kInstallerName; }
};

TEST_F(Window, FollowsTheStateTableThroughAWholeDownload) {
  load();
  vc().autoCountDownTimerInterval = 3600;
  const double total = installerMegabytes();
  EXPECT_EQ(windowState(), (WindowState{false, false, false, true, false, u"Pause"_qs, true,
                                        IIDS_PREPARE_STATE, sizeText(0, 0), 0}));

  ASSERT_TRUE(waitForReady());
  EXPECT_TRUE(outputHas(u"Receive ReadyToDownload notification"_qs));
  EXPECT_EQ(vc().i64FileSize, kInstallerSize);
  EXPECT_EQ(vc().fileLocation, expectedLocation());
  EXPECT_EQ(vc().locationLabel->text(), expectedLocation());
  EXPECT_EQ(windowState(), (WindowState{true, false, false, true, false, u"Pause"_qs, false,
                                        countdownText(15), sizeText(0, total), 0}));

  holdAfter(1048576);
  vc().startButton->click();
  EXPECT_EQ(windowState(), (WindowState{false, true, true, false, true, u"Pause"_qs, false,
                                        IDS_DOWNLOAD_STATE, sizeText(0, total), 0}));
  EXPECT_FALSE(vc().autoCountDownTimer);

  ASSERT_TRUE(waitFor([&] { return vc().progressIndicator->value() > 0; }));
  const int bar = vc().progressIndicator->value();
  EXPECT_LE(bar, 98);
  // The label and the bar tell the same fraction.
  const QStringList parts = vc().progressLabel->text().split(u' ');
  ASSERT_EQ(parts.size(), 5);
  EXPECT_EQ(parts[3], QString::number(total, 'f', 2));
  EXPECT_NEAR(parts[0].toDouble() / total * 100.0, bar, 1.0);

  vc().pauseButton->click();
  EXPECT_TRUE(mgr_->bPause.load());
  WindowState paused = windowState();
  EXPECT_EQ(paused.pauseTitle, IDS_BTNCAPTION_RESUME.text());
  EXPECT_EQ(vc().pauseButton->accessibleName(), IDS_BTNCAPTION_RESUME.text());
  EXPECT_EQ(paused.state, IDS_DOWNLOAD_STATE.text());
  EXPECT_TRUE(paused.cancelEnabled && paused.pauseEnabled && paused.startHidden);

  vc().pauseButton->click();
  EXPECT_FALSE(mgr_->bPause.load());
  EXPECT_EQ(vc().pauseButton->text(), IDS_BTNCAPTION_PAUSE.text());

  service_->setHold(false);
  ASSERT_TRUE(waitForTerminate());
  EXPECT_EQ(windowState(), (WindowState{false, true, true, false, true, u"Pause"_qs, false,
                                        IDS_COMPLETE_STATE, sizeText(total, total), 100}));
  ASSERT_EQ(toolkit_->openedUrls().size(), 1u);
  EXPECT_EQ(toolkit_->openedUrls()[0], QUrl::fromLocalFile(expectedLocation()));
  EXPECT_EQ(QFileInfo(expectedLocation()).size(), kInstallerSize);
  EXPECT_TRUE(toolkit_->alerts().empty());
}

TEST_F(Window, ProgressIsShownInMegabytesAndPercent) {
  load();
  struct Case {
    std::int64_t size;
    double progress;
    QString text;
    int bar;
  };
  for (const Case& c :
       {Case{104857600, 0.5, u"50.00 MB of 100.00 MB"_qs, 50},
        Case{104857600, 0.98, u"98.00 MB of 100.00 MB"_qs, 98}, Case{0, 0.5, u"0.00 MB of 0.00 MB"_qs, 50},
        Case{1048576, 1.7, u"1.00 MB of 1.00 MB"_qs, 100}, Case{1048576, -0.2, u"0.00 MB of 1.00 MB"_qs, 0},
        Case{1048576, std::nan(""), u"0.00 MB of 1.00 MB"_qs, 0}}) {
    SCOPED_TRACE(c.text.toStdString());
    vc().i64FileSize = c.size;
    vc().onDownloadProgress(c.progress);
    EXPECT_EQ(vc().progressLabel->text(), c.text);
    EXPECT_EQ(vc().progressIndicator->value(), c.bar);
  }
  vc().i64FileSize = 52428800;
  vc().onFileCompleteDownload();
  EXPECT_EQ(vc().progressLabel->text(), u"50.00 MB of 50.00 MB"_qs);
  EXPECT_EQ(vc().progressIndicator->value(), 100);
  EXPECT_EQ(vc().stateLabel->text(), IDS_COMPLETE_STATE.text());
}

TEST_F(Window, TheCountdownShowsFifteenTenAndTheLastFiveSeconds) {
  loadReady();
  // The label after each tick, from 14 seconds left down to 0.
  const std::vector<int> shown = {15, 15, 15, 15, 10, 10, 10, 10, 10, 5, 4, 3, 2, 1};
  EXPECT_EQ(vc().stateLabel->text(), countdownText(15));
  for (std::size_t i = 0; i < shown.size(); ++i) {
    vc().onAutoCountDownTimer();
    EXPECT_EQ(vc().currentCount, 14 - int(i));
    EXPECT_EQ(vc().stateLabel->text(), countdownText(shown[i])) << "after tick " << i + 1;
    EXPECT_EQ(downloadsBegun(), 0);
  }
  vc().onAutoCountDownTimer();
  EXPECT_EQ(vc().currentCount, 0);
  EXPECT_EQ(vc().stateLabel->text(), IDS_DOWNLOAD_STATE.text());
  EXPECT_FALSE(vc().autoCountDownTimer);
  ASSERT_TRUE(waitFor([&] { return downloadsBegun() == 1; }));
  ASSERT_TRUE(waitForTerminate());
}

TEST_F(Window, TheCountdownStartsTheDownloadByItselfOnce) {
  loadReady(0.01);
  ASSERT_TRUE(waitFor([&] { return vc().currentCount == 0; }, 5s));
  EXPECT_EQ(vc().stateLabel->text(), IDS_DOWNLOAD_STATE.text());
  EXPECT_TRUE(vc().startButton->isHidden());
  ASSERT_TRUE(waitForTerminate());
  settle(100ms);
  EXPECT_EQ(vc().currentCount, 0);
  EXPECT_EQ(downloadsBegun(), 1);
}

TEST_F(Window, TheStartButtonStartsAtOnceAndNoLaterStartFollows) {
  loadReady(0.02);
  holdAfter(4096);
  ASSERT_TRUE(vc().startButton->isEnabled());
  vc().startButton->click();
  const int left = vc().currentCount;
  EXPECT_GT(left, 0);
  EXPECT_EQ(vc().stateLabel->text(), IDS_DOWNLOAD_STATE.text());
  settle(500ms);
  EXPECT_EQ(vc().currentCount, left);
  EXPECT_EQ(vc().stateLabel->text(), IDS_DOWNLOAD_STATE.text());
  EXPECT_EQ(downloadsBegun(), 1);
  service_->setHold(false);
  ASSERT_TRUE(waitForTerminate());
}

TEST_F(Window, TheCountdownGoesOnBehindTheLeaveConfirmation) {
  loadReady(0.01);
  holdAfter(4096);
  bool startedBehind = false;
  toolkit_->setAlertScript([&](const ov::Alert& alert) {
    EXPECT_EQ(alert.message, IDS_LEAVEAPP.text());
    // The modal loop keeps the timers firing.
    startedBehind = waitFor([&] { return vc().currentCount == 0; }, 5s);
    return 0;
  });
  vc().cancelButton->setEnabled(true);
  vc().cancelButton->click();
  EXPECT_TRUE(startedBehind);
  EXPECT_EQ(vc().stateLabel->text(), IDS_DOWNLOAD_STATE.text());
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  service_->setHold(false);
  ASSERT_TRUE(waitForTerminate());
}

TEST_F(Window, ConfirmedCancelHidesTheWindowAndQuitsOnlyAfterTheReport) {
  loadReady();
  holdAfter(4096);
  vc().startButton->click();
  ASSERT_TRUE(waitFor([&] { return vc().progressIndicator->value() > 0 || !statusReports().empty(); }));
  vc().pauseButton->click();
  ASSERT_EQ(vc().pauseButton->text(), IDS_BTNCAPTION_RESUME.text());

  toolkit_->queueAlertAnswers({0});
  vc().cancelButton->click();
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  EXPECT_EQ(toolkit_->alerts()[0].message, IDS_LEAVEAPP.text());
  EXPECT_EQ(toolkit_->alerts()[0].buttons, (std::vector<QString>{IDS_BTNCAPTION_NO, IDS_BTNCAPTION_YES}));
  EXPECT_TRUE(toolkit_->hiddenWindows().empty());
  EXPECT_FALSE(mgr_->bCancel.load());
  EXPECT_TRUE(vc().cancelButton->isEnabled());

  service_->updateScenario([](refservice::Scenario& s) { s.answerDelay = 400ms; });
  toolkit_->queueAlertAnswers({1});
  vc().cancelButton->click();
  EXPECT_EQ(toolkit_->hiddenWindows(), std::vector<QObject*>{vc().window()});
  EXPECT_TRUE(mgr_->bCancel.load());
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  ASSERT_TRUE(waitFor([&] { return vc().progressIndicator->value() == 0; }));
  EXPECT_EQ(windowState(), (WindowState{true, true, false, false, false, u"Pause"_qs, false,
                                        IDS_DOWNLOAD_STATE, sizeText(0, installerMegabytes()), 0}));
  ASSERT_TRUE(waitForTerminate());
  EXPECT_EQ(cancelReports(), 1);
  EXPECT_EQ(toolkit_->setTerminatingCount(), 1);
}

TEST_F(Window, TheCloseButtonAsksAndNeverClosesTheWindow) {
  loadReady();
  vc().window()->show();
  toolkit_->queueAlertAnswers({0});
  EXPECT_FALSE(vc().window()->close());
  EXPECT_TRUE(vc().window()->isVisible());
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  EXPECT_EQ(toolkit_->alerts()[0].message, IDS_LEAVEAPP.text());
  EXPECT_FALSE(mgr_->bCancel.load());

  toolkit_->queueAlertAnswers({1});
  EXPECT_FALSE(vc().window()->close());
  EXPECT_EQ(toolkit_->hiddenWindows(), std::vector<QObject*>{vc().window()});
  EXPECT_TRUE(mgr_->bCancel.load());
  EXPECT_FALSE(vc().autoCountDownTimer);
  ASSERT_TRUE(waitForTerminate());
  EXPECT_EQ(cancelReports(), 1);
}

TEST_F(Window, TheQuitNotificationRunsTheCancelFlow) {
  loadReady();
  vc().window()->show();
  ASSERT_TRUE(waitFor([&] { return delegate_->mainVC.lock() == controller_; }));
  toolkit_->queueAlertAnswers({0});
  delegate_->onQuitOVDownloader();
  EXPECT_TRUE(outputHas(u"onQuitOVDownloader"_qs));
  EXPECT_TRUE(outputHas(u"Receive QuitOVDownloader notification"_qs));
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  EXPECT_EQ(toolkit_->alerts()[0].buttons, (std::vector<QString>{IDS_BTNCAPTION_NO, IDS_BTNCAPTION_YES}));
  EXPECT_FALSE(mgr_->bCancel.load());
  EXPECT_EQ(toolkit_->terminateCount(), 0);
}

TEST_F(Window, EveryControlHasAnAccessibleNameAndTheButtonsTakeTheKeyboard) {
  loadReady();
  for (QWidget* control : std::initializer_list<QWidget*>{
           vc().titleLabel, vc().productLabel, vc().stateLabel, vc().progressIndicator, vc().progressLabel,
           vc().locationLabel, vc().startButton, vc().pauseButton, vc().cancelButton}) {
    SCOPED_TRACE(control->objectName().toStdString());
    EXPECT_FALSE(control->accessibleName().isEmpty());
  }
  for (QLabel* label : {vc().titleLabel.data(), vc().productLabel.data(), vc().stateLabel.data(),
                        vc().progressLabel.data(), vc().locationLabel.data()})
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
  EXPECT_EQ(vc().progressIndicator->minimum(), 0);
  EXPECT_EQ(vc().progressIndicator->maximum(), 100);
  for (QPushButton* button : {vc().startButton.data(), vc().pauseButton.data(), vc().cancelButton.data()})
    EXPECT_EQ(button->focusPolicy() & Qt::TabFocus, Qt::TabFocus) << button->objectName().toStdString();
  EXPECT_EQ(vc().startButton->nextInFocusChain(), vc().pauseButton.data());
  EXPECT_EQ(vc().pauseButton->nextInFocusChain(), vc().cancelButton.data());
}

}  // namespace
}  // namespace apptest
