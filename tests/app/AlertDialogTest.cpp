#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

#include "app/AlertDialog.h"
#include "app/AppDelegate.h"
#include "app/WidgetsToolkit.h"
#include "engine/OVDownloadMgr.h"
#include "tests/support/Rows.h"

namespace ov::test {
namespace {

using test::PrintTo;

Alert alertWith(std::vector<QString> buttons) {
  return {u"Keep <b>going</b>? 100%"_qs, QString(), AlertStyle::Warning, std::move(buttons)};
}

TEST(AlertDialog, TheFirstButtonIsTheFocusedDefaultRightmostAndTheMessagePlainText) {
  AlertDialog dialog(alertWith({u"No"_qs, u"Yes"_qs}));
  dialog.show();
  const auto& buttons = dialog.buttons();
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[0]->text(), u"No"_qs);
  EXPECT_TRUE(buttons[0]->isDefault() && !buttons[1]->isDefault());
  EXPECT_GT(buttons[0]->geometry().left(), buttons[1]->geometry().right());
  EXPECT_EQ(dialog.focusWidget(), buttons[0]);
  int plainMessages = 0;
  for (QLabel* label : dialog.findChildren<QLabel*>())
    plainMessages += label->text() == u"Keep <b>going</b>? 100%"_qs && label->textFormat() == Qt::PlainText;
  EXPECT_EQ(plainMessages, 1);
}

struct AnswerCase {
  const char* name;
  std::vector<QString> buttons;
  int key;  // pressed on the focused button; 0 for none
  int expected;
};

class AlertAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AlertAnswer, IsTheChosenButtonsIndex) {
  AlertDialog dialog(alertWith(GetParam().buttons));
  QTimer::singleShot(0, &dialog, [&] {
    QKeyEvent press(QEvent::KeyPress, GetParam().key, Qt::NoModifier);
    if (GetParam().key != 0) QApplication::sendEvent(dialog.focusWidget(), &press);
    // An alert that is still open after the key is answered by clicking its last button.
    if (dialog.isVisible()) QTimer::singleShot(0, &dialog, [&] { dialog.buttons().back()->click(); });
  });
  EXPECT_EQ(dialog.runModal(), GetParam().expected);
  EXPECT_FALSE(dialog.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, AlertAnswer,
    ::testing::Values(AnswerCase{"SecondButton", {u"Retry"_qs, u"Cancel"_qs}, 0, 1},
                      AnswerCase{"EnterTakesTheDefault", {u"Retry"_qs, u"Cancel"_qs}, Qt::Key_Return, 0},
                      AnswerCase{"EscapeDoesNotAnswerTwoButtons", {u"No"_qs, u"Yes"_qs}, Qt::Key_Escape, 1},
                      AnswerCase{"EscapeAnswersTheOnlyButton", {u"OK"_qs}, Qt::Key_Escape, 0}),
    rowName);

// A quit that comes while an alert is open ends it without an answer.
TEST(WidgetsToolkit, StopModalEndsTheRunningAlertWithoutAnAnswer) {
  auto manager = OVDownloadMgr::makeForTesting();
  AppDelegate delegate(*manager);
  WidgetsToolkit toolkit(delegate);
  QTimer::singleShot(0, [&] { toolkit.stopModal(); });
  EXPECT_EQ(toolkit.runModalAlert(alertWith({u"No"_qs, u"Yes"_qs})), -1);
}

}  // namespace
}  // namespace ov::test
