#include <gtest/gtest.h>

#include <QLabel>
#include <QTimer>

#include "app/ProxyLoginDialog.h"
#include "tests/support/Rows.h"

namespace ov::test {
namespace {

using test::PrintTo;

struct Row {
  const char* name;
  bool refused;         // the proxy refused the last login
  const char* message;  // what the dialog says
  const char* user;     // typed; OK is clicked when there is one, else Cancel
  bool answered;        // a login comes back
};

class ProxyLoginDialogAnswer : public ::testing::TestWithParam<Row> {};

// The dialog names the proxy, gives each field its accessible name, hides the
// password, enables OK only with a user name, and answers what was typed, or
// none on Cancel.
TEST_P(ProxyLoginDialogAnswer, NamesTheProxyAndEachFieldAndAnswersWhatWasTyped) {
  const Row& row = GetParam();
  ProxyLoginDialog dialog({u"proxy.example:3128"_qs, row.refused ? 2 : 1, row.refused});
  QStringList texts;
  for (QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains(QString::fromUtf8(row.message))) << texts.join(u'|').toStdString();
  EXPECT_EQ(dialog.userField()->accessibleName(), u"User name"_qs);
  EXPECT_EQ(dialog.passwordField()->accessibleName(), u"Password"_qs);
  EXPECT_EQ(dialog.passwordField()->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(dialog.okButton()->isEnabled());

  QTimer::singleShot(0, &dialog, [&] {
    dialog.userField()->setText(QString::fromUtf8(row.user));
    dialog.passwordField()->setText(u"s3cret"_qs);
    EXPECT_EQ(dialog.okButton()->isEnabled(), *row.user != '\0');
    (*row.user != '\0' ? dialog.okButton() : dialog.cancelButton())->click();
  });
  const auto login = dialog.ask();
  ASSERT_EQ(login.has_value(), row.answered);
  if (login) {
    EXPECT_EQ(login->user, QString::fromUtf8(row.user));
    EXPECT_EQ(login->password, u"s3cret"_qs);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProxyLoginDialogAnswer,
    ::testing::Values(
        Row{"FirstQuestionAnswered", false, "The proxy proxy.example:3128 asks for a user name and password.",
            "alice", true},
        Row{"RefusedLoginCancelled", true,
            "The proxy proxy.example:3128 did not accept the user name and password. Enter them "
            "again.",
            "", false}),
    rowName);

}  // namespace
}  // namespace ov::test
