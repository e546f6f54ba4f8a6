#include <QApplication>
#include <QEvent>
#include <QStyle>

#include "app/DarkAppearance.h"
#include "app/WidgetsToolkit.h"
#include "tests/app/AppFixture.h"

namespace apptest {
namespace {

// The application's toolkit with its alerts answered by a script and the
// quit itself recorded instead of performed.
class RecordingWidgetsToolkit : public WidgetsToolkit {
 public:
  using WidgetsToolkit::WidgetsToolkit;
  std::vector<int> answers;
  std::vector<ov::Alert> alerts;
  int quits = 0;

  int runModalAlert(const ov::Alert& alert) override {
    alerts.push_back(alert);
    if (answers.empty()) return 0;
    const int answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }

 protected:
  void quitApplication() override { ++quits; }
};

class QuitProtocol : public AppTest {
 protected:
  void loadShown() {
    load();
    vc().autoCountDownTimerInterval = 3600;
    ASSERT_TRUE(waitForReady());
    vc().showWindow();
    ASSERT_TRUE(waitFor([&] { return delegate_->mainVC.lock() == controller_; }));
  }
  void delayReports(std::chrono::milliseconds delay) {
    service_->updateScenario([delay](refservice::Scenario& s) { s.answerDelay = delay; });
  }
};

TEST_F(QuitProtocol, TheDelegateIsTheApplicationsAndKnowsTheWindowOnceShown) {
  EXPECT_EQ(AppDelegate::current(), delegate_.get());
  load();
  EXPECT_TRUE(delegate_->mainVC.expired());
  vc().showWindow();
  EXPECT_EQ(delegate_->mainVC.lock(), controller_);
  waitForReady();
}

TEST_F(QuitProtocol, NoLeavesEverythingAsItWas) {
  loadShown();
  toolkit_->queueAlertAnswers({0});
  EXPECT_EQ(delegate_->applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateCancel);
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  const ov::Alert alert = toolkit_->alerts()[0];
  EXPECT_EQ(alert.message, IDS_LEAVEAPP.text());
  EXPECT_EQ(alert.buttons, (std::vector<QString>{IDS_BTNCAPTION_NO, IDS_BTNCAPTION_YES}));
  EXPECT_EQ(alert.style, ov::AlertStyle::Warning);
  settle();
  EXPECT_TRUE(toolkit_->hiddenWindows().empty());
  EXPECT_FALSE(mgr_->bCancel.load());
  EXPECT_TRUE(vc().autoCountDownTimer);
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  EXPECT_EQ(cancelReports(), 0);
}

TEST_F(QuitProtocol, YesHidesTheWindowAndQuitsOnlyAfterTheReport) {
  loadShown();
  delayReports(500ms);
  toolkit_->queueAlertAnswers({1});
  EXPECT_EQ(delegate_->applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateCancel);
  EXPECT_EQ(toolkit_->hiddenWindows(), std::vector<QObject*>{vc().window()});
  EXPECT_TRUE(mgr_->bCancel.load());
  settle(200ms);
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  ASSERT_TRUE(waitForTerminate());
  EXPECT_EQ(cancelReports(), 1);
  EXPECT_EQ(toolkit_->calls().back(), u"terminate"_qs);
}

TEST_F(QuitProtocol, YesWithoutAWindowStillCancelsAndQuits) {
  load();
  ASSERT_TRUE(waitForReady());
  ASSERT_TRUE(delegate_->mainVC.expired());
  toolkit_->queueAlertAnswers({1});
  delegate_->applicationShouldTerminate();
  EXPECT_TRUE(toolkit_->hiddenWindows().empty());
  ASSERT_TRUE(waitForTerminate());
  EXPECT_EQ(cancelReports(), 1);
}

TEST_F(QuitProtocol, AQuitAfterTerminateIsGrantedWithoutAsking) {
  delegate_->bIsTerminating = true;
  EXPECT_EQ(delegate_->applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateNow);
  EXPECT_TRUE(toolkit_->alerts().empty());
}

TEST_F(QuitProtocol, TerminateOVDownloaderGoesThroughTheDelegateAndIsGranted) {
  RecordingWidgetsToolkit widgets(*delegate_);
  widgets.install();
  terminateOVDownloader();
  EXPECT_TRUE(delegate_->bIsTerminating);
  EXPECT_TRUE(widgets.alerts.empty());
  EXPECT_EQ(widgets.quits, 1);
}

TEST_F(QuitProtocol, TheQuitCommandAsksAndNoKeepsTheApplication) {
  loadShown();
  RecordingWidgetsToolkit widgets(*delegate_);
  widgets.install();
  widgets.answers = {0};
  widgets.terminate();
  ASSERT_EQ(widgets.alerts.size(), 1u);
  EXPECT_EQ(widgets.alerts[0].message, IDS_LEAVEAPP.text());
  EXPECT_EQ(widgets.quits, 0);
  EXPECT_TRUE(vc().window()->isVisible());

  // Yes: the window goes at once, the application once the report is back.
  widgets.answers = {1};
  widgets.terminate();
  EXPECT_FALSE(vc().window()->isVisible());
  EXPECT_EQ(widgets.quits, 0);
  ASSERT_TRUE(waitFor([&] { return widgets.quits == 1; }));
  EXPECT_TRUE(delegate_->bIsTerminating);
  EXPECT_EQ(cancelReports(), 1);
}

TEST_F(QuitProtocol, ThePlatformsQuitRequestIsRefusedAndHandedToTheDelegate) {
  load();
  RecordingWidgetsToolkit widgets(*delegate_);
  widgets.install();
  widgets.answers = {0};
  QEvent quit(QEvent::Quit);
  QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
  EXPECT_FALSE(quit.isAccepted());
  ASSERT_TRUE(waitFor([&] { return widgets.alerts.size() == 1; }));
  EXPECT_EQ(widgets.quits, 0);
  waitForReady();
}

TEST_F(QuitProtocol, ASignalCancelsWithTheReportWithoutAsking) {
  loadShown();
  delayReports(400ms);
  delegate_->terminateOnSignal();
  EXPECT_TRUE(toolkit_->alerts().empty());
  EXPECT_EQ(toolkit_->hiddenWindows(), std::vector<QObject*>{vc().window()});
  EXPECT_TRUE(mgr_->bCancel.load());
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  ASSERT_TRUE(waitForTerminate());
  EXPECT_EQ(cancelReports(), 1);
}

TEST_F(QuitProtocol, ASignalWaitsForASilentServiceOnlySoLong) {
  loadShown();
  delayReports(10s);
  delegate_->signalReportWait = 200ms;
  delegate_->terminateOnSignal();
  ASSERT_TRUE(waitFor([&] { return toolkit_->terminateCount() == 1; }, 3s));
  // The report went out but had no answer yet.
  const auto reports = requestsTo("/prog/util/downloader/update-status.jsp");
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().outcome, refservice::Outcome::Pending);
  service_->stop();
}

TEST_F(QuitProtocol, ASecondSignalTerminatesAtOnce) {
  loadShown();
  delayReports(10s);
  delegate_->terminateOnSignal();
  EXPECT_EQ(toolkit_->terminateCount(), 0);
  delegate_->terminateOnSignal();
  EXPECT_EQ(toolkit_->terminateCount(), 1);
  service_->stop();
}

struct AppearanceCase {
  const char* name;
  std::optional<ov::SystemVersion> version;
  bool dark;
};
void PrintTo(const AppearanceCase& c, std::ostream* out) {
  *out << c.name;
}

class Appearance : public ::testing::TestWithParam<AppearanceCase> {
 protected:
  void TearDown() override {
    ov::setMacOSVersionForTesting({});
    QApplication::setStyle(savedStyle_);
    QApplication::setPalette(savedPalette_);
    qApp->setProperty("ovDarkAppearance", QVariant());
  }
  QString savedStyle_ = QApplication::style()->name();
  QPalette savedPalette_ = QApplication::palette();
};

TEST_P(Appearance, IsDarkFromMojaveOnAndOnSystemsWithoutAMacOSVersion) {
  ov::setMacOSVersionForTesting([v = GetParam().version] { return v; });
  AppDelegate delegate;
  delegate.applicationWillFinishLaunching();
  EXPECT_EQ(ov::isDarkAppearanceApplied(), GetParam().dark);
  const QColor window = QApplication::palette().color(QPalette::Window);
  if (GetParam().dark) {
    EXPECT_LT(window.lightness(), 80);
    EXPECT_GT(QApplication::palette().color(QPalette::WindowText).lightness(), 180);
    EXPECT_EQ(QApplication::style()->name().toLower(), u"fusion"_qs);
  } else {
    EXPECT_EQ(window, savedPalette_.color(QPalette::Window));
  }
}

INSTANTIATE_TEST_SUITE_P(Systems, Appearance,
                         ::testing::Values(AppearanceCase{"HighSierra", ov::SystemVersion{10, 13, 6}, false},
                                           AppearanceCase{"Mojave", ov::SystemVersion{10, 14, 0}, true},
                                           AppearanceCase{"Monterey", ov::SystemVersion{12, 3, 1}, true},
                                           AppearanceCase{"Linux", std::nullopt, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace apptest
