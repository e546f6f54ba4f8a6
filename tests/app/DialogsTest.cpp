#include "tests/app/AppFixture.h"

namespace ov::test {
namespace {

using enum ERROR_Code;

// What follows an answer; the later ones quit, the last two ordering the window out first.
enum class After {
  Nothing,          // nothing changes
  PrepareAgain,     // the preparation runs again up to a second readiness
  Restart,          // a fresh transfer, pause button titled Pause
  Quit,             // terminateOVDownloader() at once, no cancellation report
  HideAndQuit,      // the window ordered out, then Quit
  QuitAfterReport,  // the window ordered out, the cancellation report, then terminateOVDownloader()
};
using enum After;

using Buttons = std::vector<const UiString*>;
const Buttons kNone, kOk{&IDS_BTNCAPTION_OK}, kYesNo{&IDS_BTNCAPTION_YES, &IDS_BTNCAPTION_NO};
const Buttons kRetryCancel{&IDS_BTNCAPTION_RETRY, &IDS_BTNCAPTION_CANCEL};
const Buttons kUpdateClose{&IDS_BTNCAPTION_UPDATE, &IDS_BTNCAPTION_CLOSE};

struct Row {
  const char* name;
  ERROR_Code code;
  int answer;
  const UiString* message;  // null: no dialog
  const Buttons* buttons;
  After after;
};
class Dialogs : public AppTest, public ::testing::WithParamInterface<Row> {};

TEST_P(Dialogs, EachFailureHasItsDialogAndEachAnswerItsAction) {
  const Row& row = GetParam();
  loadReady();
  // A restarted transfer stays under way while the test looks at it.
  holdAfter(4096);
  setScenario([](auto& s) { s.answerDelay = 300ms; });
  vc().pauseButton->setText(IDS_BTNCAPTION_RESUME);
  const WindowState before = windowState();

  toolkit_->queueAlertAnswers({row.answer});
  vc().onDownloadFailed(row.code);

  const auto alerts = toolkit_->alerts();
  ASSERT_EQ(alerts.size(), row.message ? 1u : 0u);
  if (row.message) {
    EXPECT_EQ(alerts[0].message, row.message == &IDS_SERVER_ERROR
                                     ? formatString(IDS_SERVER_ERROR, {u"Sample Studio"_qs})
                                     : row.message->text());
    EXPECT_EQ(alerts[0].style, AlertStyle::Warning);
    std::vector<QString> buttons;
    for (const UiString* button : *row.buttons) buttons.push_back(button->text());
    EXPECT_EQ(alerts[0].buttons, buttons);
  }
  EXPECT_EQ(toolkit_->hiddenWindows(),
            row.after >= HideAndQuit ? std::vector<QObject*>{vc().window()} : std::vector<QObject*>{});

  switch (row.after) {
    case Nothing:
      settle();
      EXPECT_EQ(windowState(), before);
      break;
    case PrepareAgain:
      EXPECT_TRUE(waitFor(
          [&] { return log_->outputLines().count(u"Receive ReadyToDownload notification"_qs) == 2; }));
      EXPECT_EQ(posts("get-link.jsp").size(), 2u);
      break;
    case Restart:
      EXPECT_EQ(windowState(), (WindowState{false, true, true, false, true, IDS_BTNCAPTION_PAUSE, false,
                                            IDS_DOWNLOAD_STATE, sizeText(0, installerMegabytes()), 0}));
      EXPECT_TRUE(waitFor([&] { return downloadsBegun() == 1 && !mgr_->bCancel.load(); }));
      settle();
      break;
    case Quit:
    case HideAndQuit:
      EXPECT_EQ(toolkit_->setTerminatingCount(), 1);
      EXPECT_EQ(toolkit_->terminateCount(), 1);
      settle(500ms);
      break;
    case QuitAfterReport:
      EXPECT_TRUE(mgr_->bCancel.load());
      EXPECT_EQ(toolkit_->terminateCount(), 0);
      ASSERT_TRUE(waitFor([&] { return toolkit_->terminateCount() > 0; }));
      break;
  }
  EXPECT_EQ(toolkit_->terminateCount(), row.after >= Quit ? 1 : 0);
  EXPECT_EQ(cancelReports(), row.after == QuitAfterReport ? 1 : 0);
  EXPECT_TRUE(toolkit_->openedUrls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Dialogs,
    ::testing::Values(
        Row{"UnclearIgnored", E_UNCLEAR, 0, nullptr, &kNone, Nothing},
        Row{"NoMd5Ignored", E_NO_MD5, 0, nullptr, &kNone, Nothing},
        Row{"NoPromoteIgnored", E_NO_PROMOTE, 0, nullptr, &kNone, Nothing},
        Row{"NoConnectionRetry", E_NO_CONNECTION, 0, &IDS_INTERNET_CONNECTION, &kRetryCancel, PrepareAgain},
        Row{"NoConnectionCancel", E_NO_CONNECTION, 1, &IDS_INTERNET_CONNECTION, &kRetryCancel, Quit},
        Row{"ServerErrorOk", E_SERVER_ERROR, 0, &IDS_SERVER_ERROR, &kOk, Quit},
        Row{"NeedUpdateClose", E_NEED_UPDATE, 1, &IDS_NEED_UPDATE, &kUpdateClose, Quit},
        Row{"DownloadFailedRetry", E_DOWNLOAD_FAILED, 0, &IDS_INTERNET_CONNECTION, &kRetryCancel, Restart},
        Row{"DownloadFailedCancel", E_DOWNLOAD_FAILED, 1, &IDS_INTERNET_CONNECTION, &kRetryCancel,
            QuitAfterReport},
        Row{"LowDiskSpaceOk", E_LOW_DISK_SPACE, 0, &IDS_LOW_DISCSPACE, &kOk, Quit},
        Row{"SignCheckYes", E_SIGN_CHECK_FAILED, 0, &IDS_DOWNLOAD_ERROR, &kYesNo, Restart},
        Row{"SignCheckNo", E_SIGN_CHECK_FAILED, 1, &IDS_DOWNLOAD_ERROR, &kYesNo, HideAndQuit},
        Row{"SizeCheckYes", E_SIZE_CHECK_FAILED, 0, &IDS_DOWNLOAD_ERROR, &kYesNo, Restart},
        Row{"SizeCheckNo", E_SIZE_CHECK_FAILED, 1, &IDS_DOWNLOAD_ERROR, &kYesNo, HideAndQuit},
        Row{"RetryUnanswered", E_DOWNLOAD_FAILED, -1, &IDS_INTERNET_CONNECTION, &kRetryCancel, Nothing}),
    [](const auto& info) { return std::string(info.param.name); });

class NeedUpdate : public AppTest,
                   public ::testing::WithParamInterface<std::pair<std::optional<QString>, bool>> {};

// The service names the new downloader; only a web address goes to the opener.
TEST_P(NeedUpdate, UpdateOpensOnlyAWebAddressAndQuitsEitherWay) {
  loadReady();
  mgr_->newDownloaderURL = GetParam().first;
  toolkit_->queueAlertAnswers({0});
  vc().onDownloadFailed(ERROR_Code::E_NEED_UPDATE);
  EXPECT_EQ(toolkit_->openedUrls(),
            GetParam().second ? std::vector<QUrl>{QUrl(*GetParam().first)} : std::vector<QUrl>{});
  EXPECT_EQ(toolkit_->terminateCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, NeedUpdate,
    ::testing::Values(std::pair(std::optional(u"https://www.orvalen.example/OVDownloader.dmg"_qs), true),
                      std::pair(std::optional(u"http://www.orvalen.example/new"_qs), true),
                      std::pair(std::optional<QString>(), false),
                      std::pair(std::optional(u"https://exa mple.com/%zz"_qs), false),
                      std::pair(std::optional(u"file:///etc/passwd"_qs), false),
                      std::pair(std::optional(u"https:///x"_qs), false)));

// The manager asks before it retries a failed round; the question is never translated.
TEST_F(AppTest, TheRetryQuestionIsAskedInEnglishAndAnsweredByItsFirstButton) {
  loadReady();
  toolkit_->queueAlertAnswers({0, 1});
  EXPECT_TRUE(vc().checkRetryDownload());
  EXPECT_FALSE(vc().checkRetryDownload());
  ASSERT_EQ(alertMessages(), (std::vector<QString>{u"Retry download?"_qs, u"Retry download?"_qs}));
  EXPECT_EQ(toolkit_->alerts()[0].buttons, (std::vector<QString>{IDS_BTNCAPTION_OK, IDS_BTNCAPTION_CANCEL}));
}

}  // namespace
}  // namespace ov::test
