#include <gtest/gtest.h>

#include <QObject>

#include "tests/support/ScriptedToolkit.h"

namespace ov {
namespace {

Alert alertWith(const char* message) {
  return Alert{QString::fromUtf8(message),
               QString(),
               AlertStyle::Warning,
               {QStringLiteral("No"), QStringLiteral("Yes")}};
}

TEST(ScriptedToolkit, AnswersFromTheQueueThenTheScriptThenTheDefaultButton) {
  test::ScriptedToolkit scripted;
  EXPECT_EQ(toolkit().runModalAlert(alertWith("a")), 0);
  scripted.queueAlertAnswers({1, 0});
  scripted.setAlertScript(
      [](const Alert& alert) { return alert.message == QStringLiteral("leave") ? 1 : 0; });
  EXPECT_EQ(toolkit().runModalAlert(alertWith("b")), 1);
  EXPECT_EQ(toolkit().runModalAlert(alertWith("leave")), 0);
  EXPECT_EQ(toolkit().runModalAlert(alertWith("leave")), 1);
  EXPECT_EQ(toolkit().runModalAlert(alertWith("other")), 0);

  const auto alerts = scripted.alerts();
  ASSERT_EQ(alerts.size(), 5u);
  EXPECT_EQ(alerts[1].message, QStringLiteral("b"));
  EXPECT_EQ(alerts[1].buttons, (std::vector<QString>{QStringLiteral("No"), QStringLiteral("Yes")}));
}

TEST(ScriptedToolkit, ScriptsMayCallTheToolkitAgain) {
  test::ScriptedToolkit scripted;
  QObject window;
  scripted.setAlertScript([&](const Alert&) {
    toolkit().hideWindow(&window);
    return 1;
  });
  EXPECT_EQ(toolkit().runModalAlert(alertWith("x")), 1);
  EXPECT_EQ(scripted.hiddenWindows(), std::vector<QObject*>{&window});
}

TEST(ScriptedToolkit, RecordsOpenedUrlsWithTheConfiguredAnswer) {
  test::ScriptedToolkit scripted;
  const QUrl installer = QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/Setup.pkg"));
  EXPECT_TRUE(toolkit().openWithDefaultHandler(installer));
  scripted.setOpenAnswer(false);
  EXPECT_FALSE(toolkit().openWithDefaultHandler(QUrl(QStringLiteral("https://example.invalid/update"))));
  EXPECT_EQ(scripted.openedUrls(),
            (std::vector<QUrl>{installer, QUrl(QStringLiteral("https://example.invalid/update"))}));
}

TEST(ScriptedToolkit, RecordsTheQuitCallsInOrderAndRunsTheTerminateAction) {
  test::ScriptedToolkit scripted;
  int terminations = 0;
  scripted.setOnTerminate([&] { ++terminations; });
  toolkit().stopModal();
  toolkit().setTerminating();
  toolkit().terminate();
  EXPECT_EQ(terminations, 1);
  EXPECT_EQ(scripted.stopModalCount(), 1);
  EXPECT_EQ(scripted.setTerminatingCount(), 1);
  EXPECT_EQ(scripted.terminateCount(), 1);
  EXPECT_EQ(scripted.calls(),
            (std::vector<QString>{QStringLiteral("stopModal"), QStringLiteral("setTerminating"),
                                  QStringLiteral("terminate")}));
}

}  // namespace
}  // namespace ov
