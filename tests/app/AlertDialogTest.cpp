#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

#include "app/AlertDialog.h"
#include "app/AppDelegate.h"
#include "app/WidgetsToolkit.h"
#include "engine/OVDownloadMgr.h"
#include "tests/support/EventLoop.h"

namespace {

ov::Alert alertWith(std::vector<QString> buttons) {
  ov::Alert alert;
  alert.message = QStringLiteral("Keep <b>going</b>? 100%");
  alert.buttons = std::move(buttons);
  return alert;
}

void pressKey(QWidget* widget, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
}

TEST(AlertDialog, PutsTheFirstButtonRightmostAsTheFocusedDefault) {
  AlertDialog dialog(alertWith({QStringLiteral("No"), QStringLiteral("Yes")}));
  ASSERT_EQ(dialog.buttons().size(), 2u);
  EXPECT_EQ(dialog.buttons()[0]->text(), QStringLiteral("No"));
  EXPECT_EQ(dialog.buttons()[1]->text(), QStringLiteral("Yes"));
  EXPECT_TRUE(dialog.buttons()[0]->isDefault());
  EXPECT_FALSE(dialog.buttons()[1]->isDefault());
  dialog.show();
  EXPECT_GT(dialog.buttons()[0]->geometry().left(), dialog.buttons()[1]->geometry().right());
  EXPECT_EQ(dialog.focusWidget(), dialog.buttons()[0]);
  EXPECT_EQ(dialog.buttons()[0]->nextInFocusChain(), dialog.buttons()[1]);
  dialog.hide();
}

TEST(AlertDialog, ShowsTheMessageAsPlainText) {
  AlertDialog dialog(alertWith({QStringLiteral("OK")}));
  bool found = false;
  for (QLabel* label : dialog.findChildren<QLabel*>()) {
    if (label->text() != QStringLiteral("Keep <b>going</b>? 100%")) continue;
    found = true;
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_TRUE(label->wordWrap());
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(dialog.accessibleDescription(), QStringLiteral("Keep <b>going</b>? 100%"));
}

struct AnswerCase {
  const char* name;
  std::vector<QString> buttons;
  std::function<void(AlertDialog&)> act;
  int expected;
};
void PrintTo(const AnswerCase& c, std::ostream* out) {
  *out << c.name;
}

class AlertAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AlertAnswer, IsTheChosenButtonsIndex) {
  AlertDialog dialog(alertWith(GetParam().buttons));
  QTimer::singleShot(0, &dialog, [&] {
    GetParam().act(dialog);
    // An alert that is still open after the action is answered by its first button.
    if (dialog.isVisible()) QTimer::singleShot(0, &dialog, [&] { dialog.buttons()[0]->click(); });
  });
  EXPECT_EQ(dialog.runModal(), GetParam().expected);
  EXPECT_FALSE(dialog.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, AlertAnswer,
    ::testing::Values(
        AnswerCase{
            "SecondButton", {u"Retry"_qs, u"Cancel"_qs}, [](AlertDialog& d) { d.buttons()[1]->click(); }, 1},
        AnswerCase{"EnterTakesTheDefault",
                   {u"Retry"_qs, u"Cancel"_qs},
                   [](AlertDialog& d) { pressKey(d.buttons()[0], Qt::Key_Return); },
                   0},
        AnswerCase{"EscapeDoesNotAnswerTwoButtons",
                   {u"No"_qs, u"Yes"_qs},
                   [](AlertDialog& d) { pressKey(&d, Qt::Key_Escape); },
                   0},
        AnswerCase{"CloseDoesNotAnswerTwoButtons",
                   {u"No"_qs, u"Yes"_qs},
                   [](AlertDialog& d) {
                     d.close();
                     EXPECT_TRUE(d.isVisible());
                   },
                   0},
        AnswerCase{"EscapeAnswersTheOnlyButton",
                   {u"OK"_qs},
                   [](AlertDialog& d) { pressKey(&d, Qt::Key_Escape); },
                   0},
        AnswerCase{"AbandonedHasNoAnswer", {u"No"_qs, u"Yes"_qs}, [](AlertDialog& d) { d.abandon(); }, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WidgetsToolkit, StopModalEndsTheRunningAlertWithoutAnAnswer) {
  auto manager = OVDownloadMgr::makeForTesting();
  AppDelegate delegate(*manager);
  WidgetsToolkit toolkit(delegate);
  int answer = 5;
  QTimer::singleShot(20, [&] { toolkit.stopModal(); });
  answer = toolkit.runModalAlert(alertWith({QStringLiteral("No"), QStringLiteral("Yes")}));
  EXPECT_EQ(answer, -1);
  toolkit.stopModal();
}

TEST(WidgetsToolkit, HidesWidgetsWithoutClosingThem) {
  auto manager = OVDownloadMgr::makeForTesting();
  AppDelegate delegate(*manager);
  WidgetsToolkit toolkit(delegate);
  QWidget window;
  bool closed = false;
  window.setAttribute(Qt::WA_DeleteOnClose, false);
  QObject::connect(&window, &QObject::destroyed, [&] { closed = true; });
  window.show();
  toolkit.hideWindow(&window);
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(closed);
  toolkit.setTerminating();
  EXPECT_TRUE(delegate.bIsTerminating);
}

}  // namespace
