#include "tests/app/AppFixture.h"

namespace ov::test {
namespace {

using Window = AppTest;

TEST_F(Window, FollowsTheStateTableThroughAWholeDownload) {
  load();
  vc().autoCountDownTimerInterval = 3600;
  const double total = kInstallerSize / 1048576.0;
  EXPECT_EQ(windowState(), (WindowState{false, false, false, true, false, u"Pause"_qs, true,
                                        IIDS_PREPARE_STATE, sizeText(0, 0), 0}));

  ASSERT_TRUE(waitFor([&] { return vc().bReadyToDownload; }));
  EXPECT_EQ(vc().locationLabel->text(), downloadsPath(kInstallerName));
  EXPECT_EQ(windowState(), (WindowState{true, false, false, true, false, u"Pause"_qs, false,
                                        formatString(IDS_COUNT_AUTO_DOWNLOAD, {15}), sizeText(0, total), 0}));

  holdAfter(1048576);
  vc().startButton->click();
  // A countdown left running would start the download a second time.
  EXPECT_FALSE(vc().autoCountDownTimer);
  EXPECT_EQ(windowState(), (WindowState{false, true, true, false, true, u"Pause"_qs, false,
                                        IDS_DOWNLOAD_STATE, sizeText(0, total), 0}));
  ASSERT_TRUE(waitFor([&] { return vc().progressIndicator->value() > 0; }));
  // The label and the bar tell the same fraction.
  const QStringList parts = vc().progressLabel->text().split(u' ');
  ASSERT_EQ(parts.size(), 5);
  EXPECT_NEAR(parts[0].toDouble() / total * 100.0, vc().progressIndicator->value(), 1.0);

  vc().pauseButton->click();
  EXPECT_TRUE(mgr_->bPause.load());
  EXPECT_EQ(vc().pauseButton->text(), IDS_BTNCAPTION_RESUME.text());
  EXPECT_EQ(vc().pauseButton->accessibleName(), IDS_BTNCAPTION_RESUME.text());
  vc().pauseButton->click();
  EXPECT_FALSE(mgr_->bPause.load());
  EXPECT_EQ(vc().pauseButton->text(), IDS_BTNCAPTION_PAUSE.text());

  service_->setHold(false);
  ASSERT_TRUE(waitFor([&] { return toolkit_->terminateCount() > 0; }));
  EXPECT_EQ(windowState(), (WindowState{false, true, true, false, true, u"Pause"_qs, false,
                                        IDS_COMPLETE_STATE, sizeText(total, total), 100}));
  EXPECT_TRUE(toolkit_->alerts().empty());
}

TEST_F(Window, TheCountdownShowsFifteenTenAndTheLastFiveSecondsThenStartsOnce) {
  loadReady();
  // The label after each tick, from 14 seconds left down to 1.
  const std::vector<int> shown = {15, 15, 15, 15, 10, 10, 10, 10, 10, 5, 4, 3, 2, 1};
  for (std::size_t i = 0; i < shown.size(); ++i) {
    vc().onAutoCountDownTimer();
    EXPECT_EQ(vc().stateLabel->text(), formatString(IDS_COUNT_AUTO_DOWNLOAD, {shown[i]}))
        << "after tick " << i + 1;
  }
  EXPECT_EQ(downloadsBegun(), 0);
  vc().onAutoCountDownTimer();
  EXPECT_EQ(vc().stateLabel->text(), IDS_DOWNLOAD_STATE.text());
  EXPECT_FALSE(vc().autoCountDownTimer);
  ASSERT_TRUE(waitFor([&] { return toolkit_->terminateCount() > 0; }));
  EXPECT_EQ(downloadsBegun(), 1);
}

TEST_F(Window, TheCountdownGoesOnBehindTheLeaveConfirmation) {
  loadReady(0.01);
  holdAfter(4096);
  bool startedBehind = false;
  toolkit_->setAlertScript([&](const Alert&) {
    startedBehind = waitFor([&] { return downloadsBegun() == 1; });
    return 0;
  });
  vc().window()->close();
  EXPECT_TRUE(startedBehind);
  EXPECT_EQ(vc().stateLabel->text(), IDS_DOWNLOAD_STATE.text());
  EXPECT_EQ(toolkit_->terminateCount(), 0);
}

// What assistive technology reads is checked through AT-SPI (tests/desktop).
TEST_F(Window, EveryLabelIsPlainTextAndTheButtonsTakeTheKeyboardInOrder) {
  load();
  for (QWidget* control : std::initializer_list<QWidget*>{
           vc().titleLabel, vc().productLabel, vc().stateLabel, vc().progressIndicator, vc().progressLabel,
           vc().locationLabel, vc().startButton, vc().pauseButton, vc().cancelButton}) {
    if (auto* label = qobject_cast<QLabel*>(control)) {
      EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
      EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus);
    }
  }
  EXPECT_EQ(vc().startButton->nextInFocusChain(), vc().pauseButton.data());
  EXPECT_EQ(vc().pauseButton->nextInFocusChain(), vc().cancelButton.data());
}

}  // namespace
}  // namespace ov::test
