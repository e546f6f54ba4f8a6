#include <QApplication>
#include <QEvent>
#include <QStyle>

#include "app/WidgetsToolkit.h"
#include "tests/app/AppFixture.h"
#include "tests/support/Rows.h"

namespace ov {
// A system version reads as one in a test's parameter.
inline void PrintTo(const SystemVersion& v, std::ostream* out) {
  *out << v.major << '.' << v.minor << '.' << v.patch;
}
}  // namespace ov

namespace ov::test {
namespace {

using test::PrintTo;

enum class Trigger { CancelButton, CloseButton, QuitNotification, QuitRequest, Signal };

struct LeaveCase {
  const char* name;
  Trigger trigger;
  int answer;  // to the leave confirmation: 1 (Yes) leaves; a signal leaves without asking
};
class Leaving : public AppTest, public ::testing::WithParamInterface<LeaveCase> {};

// Every way out asks first (a signal cannot ask anyone). Leaving hides the
// window at once, cancels with the report and quits only once it has returned.
TEST_P(Leaving, AsksThenCancelsWithTheReportAndQuitsAfterIt) {
  const LeaveCase& c = GetParam();
  const bool leaves = c.answer == 1;
  loadReady();
  vc().showWindow();
  ASSERT_TRUE(waitFor([&] { return delegate_->mainVC.lock() == controller_; }));
  holdAfter(4096);
  vc().startButton->click();
  ASSERT_TRUE(waitFor([&] { return downloadsBegun() == 1; }));
  setScenario([](auto& s) { s.answerDelay = 400ms; });
  toolkit_->queueAlertAnswers({c.answer});
  switch (c.trigger) {
    case Trigger::CancelButton:
      vc().cancelButton->click();
      break;
    case Trigger::CloseButton:
      EXPECT_FALSE(vc().window()->close());
      break;
    case Trigger::QuitNotification:
      delegate_->onQuitOVDownloader();
      break;
    case Trigger::QuitRequest:
      EXPECT_EQ(delegate_->applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateCancel);
      break;
    case Trigger::Signal:
      delegate_->terminateOnSignal();
      break;
  }
  if (c.trigger == Trigger::Signal) {
    EXPECT_TRUE(toolkit_->alerts().empty());
  } else {
    ASSERT_EQ(alertMessages(), std::vector<QString>{IDS_LEAVEAPP});
    EXPECT_EQ(toolkit_->alerts()[0].buttons, (std::vector<QString>{IDS_BTNCAPTION_NO, IDS_BTNCAPTION_YES}));
  }
  EXPECT_EQ(toolkit_->hiddenWindows(),
            leaves ? std::vector<QObject*>{vc().window()} : std::vector<QObject*>{});
  EXPECT_EQ(mgr_->bCancel.load(), leaves);
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  if (leaves) {
    ASSERT_TRUE(waitFor([&] { return toolkit_->terminateCount() > 0; }));
    EXPECT_EQ(toolkit_->setTerminatingCount(), 1);
  } else {
    settle();
    EXPECT_EQ(toolkit_->terminateCount(), 0);
    EXPECT_TRUE(vc().window()->isVisible());
  }
  EXPECT_EQ(cancelReports(), leaves ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, Leaving,
                         ::testing::Values(LeaveCase{"CancelButtonNo", Trigger::CancelButton, 0},
                                           LeaveCase{"CancelButtonYes", Trigger::CancelButton, 1},
                                           LeaveCase{"CloseButtonYes", Trigger::CloseButton, 1},
                                           LeaveCase{"QuitNotificationYes", Trigger::QuitNotification, 1},
                                           LeaveCase{"QuitRequestUnanswered", Trigger::QuitRequest, -1},
                                           LeaveCase{"QuitRequestYes", Trigger::QuitRequest, 1},
                                           LeaveCase{"Signal", Trigger::Signal, 1}),
                         rowName);

TEST_F(AppTest, ASecondSignalQuitsAtOnce) {
  loadReady();
  setScenario([](auto& s) { s.answerDelay = 10s; });
  delegate_->terminateOnSignal();
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  delegate_->terminateOnSignal();
  EXPECT_EQ(toolkit_->terminateCount(), 1);
  service_->stop();
}

// The application's toolkit with every alert answered No and the quit itself
// recorded instead of performed.
class RecordingWidgetsToolkit : public WidgetsToolkit {
 public:
  using WidgetsToolkit::WidgetsToolkit;
  int alerts = 0;
  int quits = 0;
  int runModalAlert(const Alert&) override {
    ++alerts;
    return 0;
  }

 protected:
  void quitApplication() override { ++quits; }
};

TEST_F(AppTest, TheQuitCommandAndThePlatformsQuitAskTheDelegateAndOnlyTheProgramsOwnIsGranted) {
  RecordingWidgetsToolkit widgets(*delegate_);
  widgets.install();
  QEvent quit(QEvent::Quit);
  QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
  EXPECT_FALSE(quit.isAccepted());
  ASSERT_TRUE(waitFor([&] { return widgets.alerts == 1; }));
  EXPECT_EQ(widgets.quits, 0);
  terminateOVDownloader();
  EXPECT_EQ(widgets.alerts, 1);
  EXPECT_EQ(widgets.quits, 1);
}

class Appearance : public ::testing::TestWithParam<std::pair<std::optional<SystemVersion>, bool>> {
 protected:
  void TearDown() override {
    setMacOSVersionForTesting({});
    QApplication::setStyle(savedStyle_);
    QApplication::setPalette(savedPalette_);
    qApp->setProperty("ovDarkAppearance", QVariant());
  }
  QString savedStyle_ = QApplication::style()->name();
  QPalette savedPalette_ = QApplication::palette();
};

TEST_P(Appearance, IsDarkFromMojaveOnAndOnSystemsWithoutAMacOSVersion) {
  setMacOSVersionForTesting([v = GetParam().first] { return v; });
  AppDelegate().applicationWillFinishLaunching();
  EXPECT_EQ(QApplication::palette().color(QPalette::Window).lightness() < 80, GetParam().second);
  EXPECT_EQ(QApplication::palette().color(QPalette::WindowText).lightness() > 180, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Systems, Appearance,
                         ::testing::Values(std::pair(std::optional(SystemVersion{10, 13, 6}), false),
                                           std::pair(std::optional<SystemVersion>(), true)));

}  // namespace
}  // namespace ov::test
