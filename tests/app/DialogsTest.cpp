#include "tests/app/AppFixture.h"
#include "tests/support/Rows.h"

namespace ov::test {
namespace {

using test::PrintTo;

using enum ERROR_Code;

// What follows an answer; the later ones quit, the last two ordering the window out first.
enum class After {
  Nothing,          // nothing changes
  PrepareAgain,     // the preparation runs again up to a second readiness
  Restart,          // a fresh transfer, pause button titled Pause
  Quit,             // terminateOVDownloader() at once, no cancellation report
  OpenAndQuit,      // the address handed to the opener, then Quit
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
  // The new downloader's address the service named; only a web address is opened.
  const char* address = nullptr;
};
class Dialogs : public AppTest, public ::testing::WithParamInterface<Row> {};

TEST_P(Dialogs, EachFailureHasItsDialogAndEachAnswerItsAction) {
  const Row& row = GetParam();
  loadReady();
  // A restarted transfer stays under way while the test looks at it.
  holdAfter(4096);
  setScenario([](auto& s) { s.answerDelay = 300ms; });
  vc().pauseButton->setText(IDS_BTNCAPTION_RESUME);
  mgr_->newDownloaderURL = row.address ? std::optional(QString::fromLatin1(row.address)) : std::nullopt;
  const WindowState before = windowState();

  toolkit_->queueAlertAnswers({row.answer});
  vc().onDownloadFailed(row.code);

  const auto alerts = toolkit_->alerts();
  ASSERT_EQ(alerts.size(), row.message ? 1u : 0u);
  if (row.message) {
    // Only the server error names the product.
    EXPECT_EQ(alerts[0].message, formatString(*row.message, {u"Sample Studio"_qs}));
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
      EXPECT_TRUE(waitFor([&] { return ready_ == 2; }));
      EXPECT_EQ(posts("get-link.jsp").size(), 2u);
      break;
    case Restart:
      EXPECT_EQ(windowState(), (WindowState{false, true, true, false, true, IDS_BTNCAPTION_PAUSE, false,
                                            IDS_DOWNLOAD_STATE, sizeText(0, kInstallerSize / 1048576.0), 0}));
      EXPECT_TRUE(waitFor([&] { return downloadsBegun() == 1 && !mgr_->bCancel.load(); }));
      settle();
      break;
    case Quit:
    case OpenAndQuit:
    case HideAndQuit:
      EXPECT_EQ(toolkit_->setTerminatingCount(), 1);
      EXPECT_EQ(toolkit_->terminateCount(), 1);
      settle(500ms);
      break;
    case QuitAfterReport:
      EXPECT_EQ(toolkit_->terminateCount(), 0);
      ASSERT_TRUE(waitFor([&] { return toolkit_->terminateCount() > 0; }));
      break;
  }
  // Only the answers that give the download up end it; the others leave it as it was or start afresh.
  EXPECT_EQ(mgr_->bCancel.load(), row.after == HideAndQuit || row.after == QuitAfterReport);
  EXPECT_EQ(toolkit_->terminateCount(), row.after >= Quit ? 1 : 0);
  EXPECT_EQ(cancelReports(), row.after == QuitAfterReport ? 1 : 0);
  EXPECT_EQ(toolkit_->openedUrls(),
            row.after == OpenAndQuit ? std::vector{QUrl(row.address)} : std::vector<QUrl>{});
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
        Row{"NeedUpdateClose", E_NEED_UPDATE, 1, &IDS_NEED_UPDATE, &kUpdateClose, Quit, "https://o.test"},
        Row{"UpdateHttps", E_NEED_UPDATE, 0, &IDS_NEED_UPDATE, &kUpdateClose, OpenAndQuit, "https://o.test"},
        Row{"UpdateHttp", E_NEED_UPDATE, 0, &IDS_NEED_UPDATE, &kUpdateClose, OpenAndQuit, "http://o.test"},
        Row{"UpdateNoAddress", E_NEED_UPDATE, 0, &IDS_NEED_UPDATE, &kUpdateClose, Quit},
        Row{"UpdateInvalid", E_NEED_UPDATE, 0, &IDS_NEED_UPDATE, &kUpdateClose, Quit, "https://exa mple/%zz"},
        Row{"UpdateFile", E_NEED_UPDATE, 0, &IDS_NEED_UPDATE, &kUpdateClose, Quit, "file:///etc/passwd"},
        Row{"UpdateNoHost", E_NEED_UPDATE, 0, &IDS_NEED_UPDATE, &kUpdateClose, Quit, "https:///x"},
        Row{"DownloadFailedRetry", E_DOWNLOAD_FAILED, 0, &IDS_INTERNET_CONNECTION, &kRetryCancel, Restart},
        Row{"DownloadFailedCancel", E_DOWNLOAD_FAILED, 1, &IDS_INTERNET_CONNECTION, &kRetryCancel,
            QuitAfterReport},
        Row{"LowDiskSpaceOk", E_LOW_DISK_SPACE, 0, &IDS_LOW_DISCSPACE, &kOk, Quit},
        Row{"SignCheckYes", E_SIGN_CHECK_FAILED, 0, &IDS_DOWNLOAD_ERROR, &kYesNo, Restart},
        Row{"SignCheckNo", E_SIGN_CHECK_FAILED, 1, &IDS_DOWNLOAD_ERROR, &kYesNo, HideAndQuit},
        Row{"SizeCheckYes", E_SIZE_CHECK_FAILED, 0, &IDS_DOWNLOAD_ERROR, &kYesNo, Restart},
        Row{"SizeCheckNo", E_SIZE_CHECK_FAILED, 1, &IDS_DOWNLOAD_ERROR, &kYesNo, HideAndQuit},
        Row{"RetryUnanswered", E_DOWNLOAD_FAILED, -1, &IDS_INTERNET_CONNECTION, &kRetryCancel, Nothing}),
    rowName);

// The delegate's retry question. No part of the engine asks it (a failed chunk is answered by the
// download-failed dialog above), but it answers as the delegate's contract says: asked in English,
// never translated, and true only for its first button.
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
