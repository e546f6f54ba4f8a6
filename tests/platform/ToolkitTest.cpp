#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>
#include <optional>

#include "platform/Dispatch.h"
#include "platform/QtCoreToolkit.h"
#include "platform/Toolkit.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "tests/support/ScriptedToolkit.h"

namespace ov {
namespace {

using namespace std::chrono_literals;

// A stand-in xdg-open first on PATH. It writes its arguments, one per line,
// then its process id, and exits with the status written in <home>/status
// after sleeping the seconds written in <home>/sleep.
class XdgOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString script = sandbox.writeFile(QStringLiteral("bin/xdg-open"), QByteArray(R"sh(#!/bin/sh
out="$HOME/opened"
: > "$out"
for a in "$@"; do printf '%s\n' "$a" >> "$out"; done
echo "pid $$" >> "$out"
[ -f "$HOME/sleep" ] && sleep "$(cat "$HOME/sleep")"
exit "$(cat "$HOME/status" 2>/dev/null || echo 0)"
)sh"));
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(sandbox.path(QStringLiteral("bin"))) + ':' + savedPath);
  }
  void TearDown() override { qputenv("PATH", savedPath); }

  void exitWith(int status) { sandbox.writeFile(QStringLiteral("status"), QByteArray::number(status)); }

  // The arguments the stand-in saw, without its pid line; nothing when it did not run.
  std::optional<QStringList> arguments() const {
    QFile file(sandbox.path(QStringLiteral("opened")));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    if (!lines.isEmpty() && lines.last().startsWith(QStringLiteral("pid "))) lines.removeLast();
    return lines;
  }

  qint64 standInPid() const {
    QFile file(sandbox.path(QStringLiteral("opened")));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : file.readAll().split('\n'))
      if (line.startsWith("pid ")) return line.mid(4).toLongLong();
    return 0;
  }

  test::Sandbox sandbox;
  QByteArray savedPath;
};

struct OpenCase {
  const char* name;
  QUrl url;
  QString expectedArgument;
};

class XdgOpenArgumentTest : public XdgOpenTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(XdgOpenArgumentTest, PassesOneArgumentWithoutAShell) {
  EXPECT_TRUE(openWithXdgOpen(GetParam().url));
  EXPECT_EQ(arguments(), QStringList{GetParam().expectedArgument});
  EXPECT_FALSE(QFileInfo::exists(QDir::currentPath() + QStringLiteral("/pwned")));
}

INSTANTIATE_TEST_SUITE_P(
    Urls, XdgOpenArgumentTest,
    ::testing::Values(OpenCase{"LocalFile", QUrl::fromLocalFile(QStringLiteral("/tmp/Downloads/Setup 1.pkg")),
                               QStringLiteral("/tmp/Downloads/Setup 1.pkg")},
                      OpenCase{"ShellCharacters",
                               QUrl::fromLocalFile(QStringLiteral("/tmp/a b;$(touch pwned)`x`'\".dmg")),
                               QStringLiteral("/tmp/a b;$(touch pwned)`x`'\".dmg")},
                      OpenCase{"LeadingDashFile", QUrl::fromLocalFile(QStringLiteral("/tmp/--help")),
                               QStringLiteral("/tmp/--help")},
                      OpenCase{"WebAddress",
                               QUrl(QStringLiteral("https://www.orvalen.example/support?a=1&b=x y")),
                               QStringLiteral("https://www.orvalen.example/support?a=1&b=x%20y")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(XdgOpenTest, ANonZeroExitStatusIsARefusal) {
  exitWith(4);
  test::LogCapture log;
  EXPECT_FALSE(openWithXdgOpen(QUrl(QStringLiteral("https://example.invalid/"))));
  EXPECT_TRUE(arguments().has_value());
  EXPECT_TRUE(log.outputLines().contains(QStringLiteral("openWithXdgOpen() xdg-open exit status 4")));
}

TEST_F(XdgOpenTest, NothingToOpenIsRefusedWithoutRunningTheOpener) {
  for (const QUrl& url : {QUrl(), QUrl(QStringLiteral("-x")), QUrl(QStringLiteral("relative/path.pkg"))}) {
    EXPECT_FALSE(openWithXdgOpen(url)) << url.toString().toStdString();
  }
  EXPECT_EQ(arguments(), std::nullopt);
}

TEST_F(XdgOpenTest, NoOpenerOnThePathIsARefusal) {
  qputenv("PATH", QFile::encodeName(sandbox.path(QStringLiteral("empty"))));
  EXPECT_FALSE(openWithXdgOpen(QUrl(QStringLiteral("https://example.invalid/"))));
}

// Without a desktop environment xdg-open stays in the foreground with the
// handler it started; that is an accepted request, and the opener is reaped
// when it ends.
TEST_F(XdgOpenTest, AnOpenerStillRunningCountsAsAcceptedAndIsReapedLater) {
  sandbox.writeFile(QStringLiteral("sleep"), "3.5");
  exitWith(1);
  EXPECT_TRUE(openWithXdgOpen(QUrl(QStringLiteral("https://example.invalid/"))));
  const qint64 pid = standInPid();
  ASSERT_GT(pid, 0);
  // Gone from the process table altogether: a zombie would keep its /proc entry.
  EXPECT_TRUE(
      test::runEventLoopUntil([&] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); }, 10s));
}

TEST_F(XdgOpenTest, TheDefaultToolkitOpensWithXdgOpen) {
  exitWith(0);
  EXPECT_TRUE(defaultToolkit().openWithDefaultHandler(QUrl(QStringLiteral("https://example.invalid/x"))));
  EXPECT_EQ(arguments(), QStringList{QStringLiteral("https://example.invalid/x")});
  exitWith(2);
  EXPECT_FALSE(defaultToolkit().openWithDefaultHandler(QUrl(QStringLiteral("https://example.invalid/x"))));
}

// --- The QtCore toolkit -----------------------------------------------------

TEST(QtCoreToolkit, IsTheDefaultUntilAnotherIsInstalled) {
  EXPECT_EQ(&toolkit(), &defaultToolkit());
  {
    test::ScriptedToolkit scripted;
    EXPECT_EQ(&toolkit(), &scripted);
    {
      test::ScriptedToolkit inner;
      EXPECT_EQ(&toolkit(), &inner);
    }
    EXPECT_EQ(&toolkit(), &scripted);
  }
  EXPECT_EQ(&toolkit(), &defaultToolkit());
}

TEST(QtCoreToolkit, AlertIsPrintedAndAnsweredWithTheDefaultButton) {
  test::LogCapture log;
  const Alert alert{QStringLiteral("Do you want to leave?"),
                    QStringLiteral("The download stops."),
                    AlertStyle::Warning,
                    {QStringLiteral("No"), QStringLiteral("Yes")}};
  EXPECT_EQ(defaultToolkit().runModalAlert(alert), 0);
  EXPECT_EQ(log.outputLines(),
            (QStringList{QStringLiteral("Alert: Do you want to leave?"),
                         QStringLiteral("Alert: The download stops."),
                         QStringLiteral("Alert buttons: No, Yes"), QStringLiteral("Alert answer: No")}));
}

TEST(QtCoreToolkit, SetTerminatingIsKept) {
  QtCoreToolkit kit;
  EXPECT_FALSE(kit.isTerminating());
  kit.setTerminating();
  EXPECT_TRUE(kit.isTerminating());
}

// quit() would end every later event loop of this process, so it is watched
// in a child process that runs the application's main loop.
TEST(QtCoreToolkitDeathTest, TerminateEndsTheMainEventLoop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        mainQueue().async([] { defaultToolkit().terminate(); });
        std::exit(QCoreApplication::exec() == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// --- Translations -------------------------------------------------------------

class LocalizedStringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString lrelease = QLibraryInfo::path(QLibraryInfo::BinariesPath) + QStringLiteral("/lrelease");
    if (!QFileInfo(lrelease).isExecutable()) GTEST_SKIP() << "lrelease is not installed";
    const QString ts =
        sandbox.writeFile(QStringLiteral("de.ts"), QByteArrayLiteral(R"(<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
  <name>OVDownloader</name>
  <message><source>Pause</source><translation>Anhalten</translation></message>
  <message><source>Cancel</source><comment>IDS_BTNCAPTION_CANCEL</comment><translation>Abbrechen</translation></message>
</context>
<context>
  <name>Elsewhere</name>
  <message><source>Yes</source><translation>Ja</translation></message>
</context>
</TS>
)"));
    const QString qm = sandbox.path(QStringLiteral("de.qm"));
    ASSERT_EQ(test::ChildProcess::run(lrelease, {QStringLiteral("-silent"), ts, QStringLiteral("-qm"), qm}),
              0);
    ASSERT_TRUE(translator.load(qm));
    QCoreApplication::installTranslator(&translator);
  }
  void TearDown() override { QCoreApplication::removeTranslator(&translator); }

  test::Sandbox sandbox;
  QTranslator translator;
};

TEST_F(LocalizedStringTest, FindsTranslationsKeyedByTheEnglishTextWithOrWithoutTheComment) {
  Toolkit& kit = defaultToolkit();
  EXPECT_EQ(kit.localizedString("Pause", "IDS_BTNCAPTION_PAUSE"), QStringLiteral("Anhalten"));
  EXPECT_EQ(kit.localizedString("Pause", nullptr), QStringLiteral("Anhalten"));
  EXPECT_EQ(kit.localizedString("Cancel", "IDS_BTNCAPTION_CANCEL"), QStringLiteral("Abbrechen"));
  EXPECT_EQ(kit.localizedString("Yes", "IDS_BTNCAPTION_YES"), QStringLiteral("Yes"));
  EXPECT_EQ(kit.localizedString("Preparing...", "IIDS_PREPARE_STATE"), QStringLiteral("Preparing..."));
  EXPECT_EQ(kit.localizedString("Über", "IDS_X"), QStringLiteral("Über"));
}

TEST(LocalizedString, WithoutTranslationsIsTheEnglishText) {
  test::ScriptedToolkit scripted;
  EXPECT_EQ(toolkit().localizedString("Downloading...", "IDS_DOWNLOADING_STATE"),
            QStringLiteral("Downloading..."));
  EXPECT_EQ(toolkit().localizedString(nullptr, nullptr), QString());
}

}  // namespace
}  // namespace ov
