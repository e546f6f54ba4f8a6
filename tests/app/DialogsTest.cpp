#include "app/StringFormat.h"
#include "tests/app/AppFixture.h"

namespace apptest {
namespace {

using ov::formatString;

// What follows an answer.
enum class After {
  Nothing,          // no dialog at all, nothing changes
  PrepareAgain,     // the preparation runs again; the window waits for readiness
  Restart,          // a fresh transfer, pause button titled Pause
  Quit,             // terminateOVDownloader() at once, no cancellation report
  QuitAfterReport,  // the cancellation report first, then terminateOVDownloader()
};

struct DialogRow {
  const char* name;
  ERROR_Code code;
  int answer;
  const UiString* message;  // null: no dialog
  std::vector<const UiString*> buttons;
  After after;
  bool hidesWindow;
};
void PrintTo(const DialogRow& c, std::ostream* out) {
  *out << c.name;
}

class Dialogs : public AppTest, public ::testing::WithParamInterface<DialogRow> {
 protected:
  int linkQueries() const {
    return static_cast<int>(requestsTo("/prog/util/downloader/get-link.jsp").size());
  }
  int downloadsBegun() const {
    return static_cast<int>(log_->systemLines().count(u"[OVDownloader]Download begin"_qs));
  }
};

TEST_P(Dialogs, EachFailureHasItsDialogAndEachAnswerItsAction) {
  const DialogRow& row = GetParam();
  load();
  vc().autoCountDownTimerInterval = 3600;
  ASSERT_TRUE(waitForReady());
  // A restarted transfer stays under way while the test looks at it.
  service_->updateScenario([](refservice::Scenario& s) {
    s.installer.hold = true;
    s.installer.holdAfterBytes = 4096;
    s.answerDelay = 300ms;
  });
  vc().pauseButton->setText(IDS_BTNCAPTION_RESUME);
  const WindowState before = windowState();

  toolkit_->queueAlertAnswers({row.answer});
  vc().onDownloadFailed(row.code);

  if (!row.message) {
    EXPECT_TRUE(toolkit_->alerts().empty());
  } else {
    ASSERT_EQ(toolkit_->alerts().size(), 1u);
    const ov::Alert alert = toolkit_->alerts()[0];
    const QString expected = row.message == &IDS_SERVER_ERROR
                                 ? formatString(IDS_SERVER_ERROR, {u"Sample Studio"_qs})
                                 : row.message->text();
    EXPECT_EQ(alert.message, expected);
    EXPECT_TRUE(alert.informativeText.isEmpty());
    EXPECT_EQ(alert.style, ov::AlertStyle::Warning);
    std::vector<QString> buttons;
    for (const UiString* button : row.buttons) buttons.push_back(button->text());
    EXPECT_EQ(alert.buttons, buttons);
  }
  EXPECT_EQ(toolkit_->hiddenWindows(),
            row.hidesWindow ? std::vector<QObject*>{vc().window()} : std::vector<QObject*>{});

  switch (row.after) {
    case After::Nothing:
      settle();
      EXPECT_EQ(windowState(), before);
      EXPECT_EQ(toolkit_->terminateCount(), 0);
      break;
    case After::PrepareAgain:
      EXPECT_TRUE(waitFor([&] { return linkQueries() == 2; }));
      EXPECT_EQ(toolkit_->terminateCount(), 0);
      break;
    case After::Restart:
      EXPECT_EQ(vc().pauseButton->text(), IDS_BTNCAPTION_PAUSE.text());
      EXPECT_EQ(vc().stateLabel->text(), IDS_DOWNLOAD_STATE.text());
      EXPECT_TRUE(vc().startButton->isHidden());
      EXPECT_TRUE(vc().cancelButton->isEnabled());
      EXPECT_TRUE(waitFor([&] { return downloadsBegun() == 1 && !mgr_->bCancel.load(); }));
      settle();
      EXPECT_EQ(toolkit_->terminateCount(), 0);
      EXPECT_EQ(cancelReports(), 0);
      break;
    case After::Quit:
      EXPECT_EQ(toolkit_->setTerminatingCount(), 1);
      EXPECT_EQ(toolkit_->terminateCount(), 1);
      settle(500ms);
      EXPECT_EQ(cancelReports(), 0);
      EXPECT_EQ(toolkit_->terminateCount(), 1);
      break;
    case After::QuitAfterReport:
      EXPECT_TRUE(mgr_->bCancel.load());
      EXPECT_EQ(toolkit_->terminateCount(), 0);
      ASSERT_TRUE(waitForTerminate());
      EXPECT_EQ(cancelReports(), 1);
      break;
  }
  EXPECT_TRUE(toolkit_->openedUrls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Dialogs,
    ::testing::Values(
        DialogRow{"UnclearIgnored", ERROR_Code::E_UNCLEAR, 0, nullptr, {}, After::Nothing, false},
        DialogRow{"NoMd5Ignored", ERROR_Code::E_NO_MD5, 0, nullptr, {}, After::Nothing, false},
        DialogRow{"NoPromoteIgnored", ERROR_Code::E_NO_PROMOTE, 0, nullptr, {}, After::Nothing, false},
        DialogRow{"NoConnectionRetry",
                  ERROR_Code::E_NO_CONNECTION,
                  0,
                  &IDS_INTERNET_CONNECTION,
                  {&IDS_BTNCAPTION_RETRY, &IDS_BTNCAPTION_CANCEL},
                  After::PrepareAgain,
                  false},
        DialogRow{"NoConnectionCancel",
                  ERROR_Code::E_NO_CONNECTION,
                  1,
                  &IDS_INTERNET_CONNECTION,
                  {&IDS_BTNCAPTION_RETRY, &IDS_BTNCAPTION_CANCEL},
                  After::Quit,
                  false},
        DialogRow{"ServerErrorOk",
                  ERROR_Code::E_SERVER_ERROR,
                  0,
                  &IDS_SERVER_ERROR,
                  {&IDS_BTNCAPTION_OK},
                  After::Quit,
                  false},
        DialogRow{"NeedUpdateClose",
                  ERROR_Code::E_NEED_UPDATE,
                  1,
                  &IDS_NEED_UPDATE,
                  {&IDS_BTNCAPTION_UPDATE, &IDS_BTNCAPTION_CLOSE},
                  After::Quit,
                  false},
        DialogRow{"DownloadFailedRetry",
                  ERROR_Code::E_DOWNLOAD_FAILED,
                  0,
                  &IDS_INTERNET_CONNECTION,
                  {&IDS_BTNCAPTION_RETRY, &IDS_BTNCAPTION_CANCEL},
                  After::Restart,
                  false},
        DialogRow{"DownloadFailedCancel",
                  ERROR_Code::E_DOWNLOAD_FAILED,
                  1,
                  &IDS_INTERNET_CONNECTION,
                  {&IDS_BTNCAPTION_RETRY, &IDS_BTNCAPTION_CANCEL},
                  After::QuitAfterReport,
                  true},
        DialogRow{"LowDiskSpaceOk",
                  ERROR_Code::E_LOW_DISK_SPACE,
                  0,
                  &IDS_LOW_DISCSPACE,
                  {&IDS_BTNCAPTION_OK},
                  After::Quit,
                  false},
        DialogRow{"SignCheckYes",
                  ERROR_Code::E_SIGN_CHECK_FAILED,
                  0,
                  &IDS_DOWNLOAD_ERROR,
                  {&IDS_BTNCAPTION_YES, &IDS_BTNCAPTION_NO},
                  After::Restart,
                  false},
        DialogRow{"SignCheckNo",
                  ERROR_Code::E_SIGN_CHECK_FAILED,
                  1,
                  &IDS_DOWNLOAD_ERROR,
                  {&IDS_BTNCAPTION_YES, &IDS_BTNCAPTION_NO},
                  After::Quit,
                  true},
        DialogRow{"SizeCheckYes",
                  ERROR_Code::E_SIZE_CHECK_FAILED,
                  0,
                  &IDS_DOWNLOAD_ERROR,
                  {&IDS_BTNCAPTION_YES, &IDS_BTNCAPTION_NO},
                  After::Restart,
                  false},
        DialogRow{"SizeCheckNo",
                  ERROR_Code::E_SIZE_CHECK_FAILED,
                  1,
                  &IDS_DOWNLOAD_ERROR,
                  {&IDS_BTNCAPTION_YES, &IDS_BTNCAPTION_NO},
                  After::Quit,
                  true},
        DialogRow{"UnansweredRetryDialog",
                  ERROR_Code::E_DOWNLOAD_FAILED,
                  -1,
                  &IDS_INTERNET_CONNECTION,
                  {&IDS_BTNCAPTION_RETRY, &IDS_BTNCAPTION_CANCEL},
                  After::Nothing,
                  false}),
    [](const auto& info) { return std::string(info.param.name); });

class DialogFlows : public AppTest {};

struct UpdateCase {
  const char* name;
  std::optional<QString> address;
  bool opened;
};
void PrintTo(const UpdateCase& c, std::ostream* out) {
  *out << c.name;
}

class NeedUpdate : public DialogFlows, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(NeedUpdate, UpdateOpensOnlyAWebAddressAndQuitsEitherWay) {
  Connectivity::setReachabilityForTesting([] { return false; });
  toolkit_->setAlertScript([](const ov::Alert&) { return -1; });
  load();
  ASSERT_TRUE(waitForAlerts(1));
  mgr_->newDownloaderURL = GetParam().address;
  toolkit_->queueAlertAnswers({0});
  vc().onDownloadFailed(ERROR_Code::E_NEED_UPDATE);
  EXPECT_EQ(toolkit_->openedUrls(),
            GetParam().opened ? std::vector<QUrl>{QUrl(*GetParam().address)} : std::vector<QUrl>{});
  EXPECT_EQ(toolkit_->terminateCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, NeedUpdate,
    ::testing::Values(UpdateCase{"Https", u"https://www.orvalen.example/OVDownloader.dmg"_qs, true},
                      UpdateCase{"Http", u"http://www.orvalen.example/new"_qs, true},
                      UpdateCase{"Absent", std::nullopt, false}, UpdateCase{"Empty", QString(), false},
                      UpdateCase{"NotAUrl", u"https://exa mple.com/%zz"_qs, false},
                      UpdateCase{"LocalFile", u"file:///etc/passwd"_qs, false},
                      UpdateCase{"OtherScheme", u"javascript:alert(1)"_qs, false},
                      UpdateCase{"NoHost", u"https:///x"_qs, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogFlows, TheServiceDemandingAnUpdateLeadsToTheUpdateDialog) {
  service_->updateScenario([](refservice::Scenario& s) {
    s.link = refservice::LinkAnswer::NeedUpdate;
    s.updateLink = "https://www.orvalen.example/OVDownloader-2.dmg";
  });
  toolkit_->queueAlertAnswers({0});
  load();
  ASSERT_TRUE(waitForTerminate());
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  EXPECT_EQ(toolkit_->alerts()[0].message, IDS_NEED_UPDATE.text());
  EXPECT_EQ(toolkit_->openedUrls(),
            std::vector<QUrl>{QUrl(u"https://www.orvalen.example/OVDownloader-2.dmg"_qs)});
}

TEST_F(DialogFlows, AServerErrorNamesTheProduct) {
  service_->updateScenario([](refservice::Scenario& s) { s.link = refservice::LinkAnswer::ServerError; });
  load();
  ASSERT_TRUE(waitForTerminate());
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  EXPECT_TRUE(
      toolkit_->alerts()[0].message.startsWith(u"The Sample Studio download is currently unavailable."_qs));
  EXPECT_TRUE(toolkit_->alerts()[0].message.endsWith(u" and try downloading it again."_qs));
}

TEST_F(DialogFlows, LowDiskSpaceEndsTheProgram) {
  DiskSpaceUtility::setFreeSpaceForTesting([](const QString&) { return std::int64_t(1048576000); });
  load();
  ASSERT_TRUE(waitForTerminate());
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  EXPECT_EQ(toolkit_->alerts()[0].message, IDS_LOW_DISCSPACE.text());
}

TEST_F(DialogFlows, RetryAfterNoConnectionCountsDownFromFifteenAtTheNextReadiness) {
  std::atomic<bool> online{false};
  Connectivity::setReachabilityForTesting([&] { return online.load(); });
  toolkit_->setAlertScript([&](const ov::Alert& alert) {
    EXPECT_EQ(alert.message, IDS_INTERNET_CONNECTION.text());
    online = true;
    return 0;
  });
  load();
  vc().autoCountDownTimerInterval = 3600;
  ASSERT_TRUE(waitForAlerts(1));
  EXPECT_FALSE(vc().bReadyToDownload);
  EXPECT_EQ(vc().stateLabel->text(), IIDS_PREPARE_STATE.text());
  EXPECT_FALSE(vc().startButton->isEnabled());
  ASSERT_TRUE(waitForReady());
  EXPECT_EQ(vc().currentCount, 15);
  EXPECT_EQ(vc().stateLabel->text(), formatString(IDS_COUNT_AUTO_DOWNLOAD, {15}));
  EXPECT_TRUE(vc().startButton->isEnabled());
  EXPECT_EQ(toolkit_->alerts().size(), 1u);
}

TEST_F(DialogFlows, AFailedTransferRetriedDownloadsAfresh) {
  // The first chunk request is answered 404: the round fails.
  service_->updateScenario([](refservice::Scenario& s) { s.installer.failAtRequest = 1; });
  toolkit_->queueAlertAnswers({0});
  load();
  vc().autoCountDownTimerInterval = 3600;
  ASSERT_TRUE(waitForReady());
  vc().startButton->click();
  ASSERT_TRUE(waitForTerminate());
  ASSERT_EQ(toolkit_->alerts().size(), 1u);
  EXPECT_EQ(toolkit_->alerts()[0].message, IDS_INTERNET_CONNECTION.text());
  EXPECT_EQ(vc().stateLabel->text(), IDS_COMPLETE_STATE.text());
  EXPECT_EQ(QFileInfo(sandbox_->downloads() + u'/' + kInstallerName).size(), kInstallerSize);
  EXPECT_EQ(cancelReports(), 0);
}

TEST_F(DialogFlows, TheRetryQuestionIsAskedInEnglishAndAnsweredByItsFirstButton) {
  Connectivity::setReachabilityForTesting([] { return false; });
  toolkit_->setAlertScript([](const ov::Alert&) { return -1; });
  load();
  ASSERT_TRUE(waitForAlerts(1));
  toolkit_->queueAlertAnswers({0, 1});
  EXPECT_TRUE(vc().checkRetryDownload());
  EXPECT_FALSE(vc().checkRetryDownload());
  const auto alerts = toolkit_->alerts();
  ASSERT_EQ(alerts.size(), 3u);
  EXPECT_EQ(alerts[1].message, u"Retry download?"_qs);
  EXPECT_EQ(alerts[1].buttons, (std::vector<QString>{IDS_BTNCAPTION_OK, IDS_BTNCAPTION_CANCEL}));
  EXPECT_EQ(alerts[1].style, ov::AlertStyle::Warning);
  EXPECT_EQ(toolkit_->terminateCount(), 0);
}

}  // namespace
}  // namespace apptest
