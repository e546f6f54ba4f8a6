#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <optional>

#include "platform/QtCoreToolkit.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Rows.h"
#include "tests/support/Sandbox.h"

namespace ov::test {
namespace {

using test::PrintTo;

struct OpenCase {
  const char* name;
  QUrl url;
  std::optional<QString> argument;  // what xdg-open must get; nothing: it must not run
  bool accepted;
  int exitStatus = 0;
  const char* sleep = "0";  // seconds the opener runs before it exits
  bool onPath = true;
};

// A stand-in xdg-open first on PATH. It writes its arguments, one per line,
// and its process id, sleeps, and exits with the row's status.
class XdgOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(XdgOpenTest, TheDefaultHandlerIsXdgOpenWithOneArgumentAndNoShell) {
  const OpenCase& c = GetParam();
  Sandbox sandbox;
  const QString script = sandbox.writeFile(QStringLiteral("bin/xdg-open"), QByteArray(R"sh(#!/bin/sh
for a in "$@"; do printf '%s\n' "$a" >> "$HOME/opened"; done
echo $$ > "$HOME/pid"
sleep )sh") + c.sleep + "\nexit " + QByteArray::number(c.exitStatus) + '\n');
  QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  const QByteArray savedPath = qgetenv("PATH");
  // Without the stand-in, nothing else is on PATH either: the system's own xdg-open must not answer.
  qputenv("PATH", c.onPath ? QFile::encodeName(sandbox.path(u"bin"_qs)) + ':' + savedPath
                           : QFile::encodeName(sandbox.path(u"empty"_qs)));
  const bool accepted = defaultToolkit().openWithDefaultHandler(c.url);
  qputenv("PATH", savedPath);

  EXPECT_EQ(accepted, c.accepted);
  QFile opened(sandbox.path(QStringLiteral("opened")));
  const std::optional<QString> argument = opened.open(QIODevice::ReadOnly)
                                              ? std::optional(QString::fromUtf8(opened.readAll()).chopped(1))
                                              : std::nullopt;
  EXPECT_EQ(argument, c.onPath ? c.argument : std::nullopt);
  EXPECT_FALSE(QFileInfo::exists(QDir::currentPath() + QStringLiteral("/pwned")));
  // An opener still running is reaped when it ends: a zombie would keep its /proc entry.
  if (QFile pid(sandbox.path(QStringLiteral("pid"))); pid.open(QIODevice::ReadOnly)) {
    const QString entry = u"/proc/"_qs + QString::fromLatin1(pid.readAll().trimmed());
    EXPECT_TRUE(runEventLoopUntil([&] { return !QFileInfo::exists(entry); }));
  }
}

const QString kShellFile = QStringLiteral("/tmp/a b;$(touch pwned)`x`'\".dmg");

// Without a desktop environment xdg-open stays in the foreground with the
// handler it started; that is an accepted request. Refusals come at once.
INSTANTIATE_TEST_SUITE_P(
    Table, XdgOpenTest,
    ::testing::Values(OpenCase{"ShellCharacters", QUrl::fromLocalFile(kShellFile), kShellFile, true},
                      OpenCase{"LeadingDashFile", QUrl::fromLocalFile(u"/tmp/--help"_qs), u"/tmp/--help"_qs,
                               true},
                      OpenCase{"WebAddress", QUrl(u"https://www.orvalen.example/support?a=1&b=x y"_qs),
                               u"https://www.orvalen.example/support?a=1&b=x%20y"_qs, true},
                      OpenCase{"ExitStatusIsARefusal", QUrl(u"https://example.invalid/"_qs),
                               u"https://example.invalid/"_qs, false, 4},
                      OpenCase{"StillRunningIsAccepted", QUrl(u"https://example.invalid/"_qs),
                               u"https://example.invalid/"_qs, true, 1, "3.5"},
                      OpenCase{"NoOpenerIsARefusal", QUrl(u"https://example.invalid/"_qs), std::nullopt,
                               false, 0, "0", false},
                      OpenCase{"EmptyIsNotRun", QUrl(), std::nullopt, false},
                      OpenCase{"OptionIsNotRun", QUrl(u"-x"_qs), std::nullopt, false},
                      OpenCase{"RelativePathIsNotRun", QUrl(u"relative/path.pkg"_qs), std::nullopt, false}),
    rowName);

}  // namespace
}  // namespace ov::test
