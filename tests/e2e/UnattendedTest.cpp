#include "tests/e2e/EndToEnd.h"

namespace ov::test {
namespace {

QString mapsOf(qint64 pid) {
  QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
  return maps.open(QIODevice::ReadOnly) ? QString::fromUtf8(maps.readAll()) : QString();
}

// A deployment tool's view: the unattended bundle, with no display at all,
// piped through a JSON reader. Every line is one JSON object with numbers for
// the bytes, the total and the speed; the last one names the installer, which
// is exact and not opened. Nothing of QtWidgets or QtGui is in the process.
TEST_F(EndToEnd, TheUnattendedBundleDeliversThroughAJsonReader) {
  serve(12 * 1024 * 1024 + 7, [](auto& s) {
    s.installer.hold = true;
    s.installer.holdAfterBytes = 65536;
  });
  QProcess reader;
  program->pipeTo(reader);
  program->start(
      {QStringLiteral("--unattended"), QStringLiteral("--no-open"), QStringLiteral("--progress=json")},
      false);
  reader.start(
      QStringLiteral("jq"),
      {QStringLiteral("-r"),
       QStringLiteral("(if ([.bytes, .total, .speed] | map(type) | unique) == [\"number\"] then \"\" "
                      "else \"untyped \" end) + .state + (if .path then \" \" + .path else \"\" end)")});

  ASSERT_TRUE(service->waitForRequests(
      [](const auto& records) {
        return std::any_of(records.begin(), records.end(), [](const auto& r) { return r.held; });
      },
      60s))
      << program->output().toStdString();
  const QString maps = mapsOf(program->processId());
  EXPECT_TRUE(maps.contains(u"libQt6Core.so"));
  EXPECT_FALSE(maps.contains(u"libQt6Widgets.so"));
  EXPECT_FALSE(maps.contains(u"libQt6Gui.so"));
  service->setHold(false);

  ASSERT_TRUE(program->waitForExit(kRunLimit)) << program->output().toStdString();
  EXPECT_EQ(program->exitCode(), 0) << program->output().toStdString();
  ASSERT_TRUE(reader.state() == QProcess::NotRunning || reader.waitForFinished(10000));
  EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
  QStringList states = QString::fromUtf8(reader.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
  ASSERT_GE(states.size(), 3) << states.join(u'|').toStdString();
  EXPECT_EQ(states.takeFirst(), u"preparing"_qs);
  EXPECT_EQ(states.takeLast(), u"delivered "_qs + landed());
  EXPECT_EQ(states, QStringList(states.size(), u"downloading"_qs));
  EXPECT_EQ(QString::fromUtf8(program->standardError()), u"OVDownloader: delivered "_qs + landed() + u'\n');

  expectByteIdentical();
  expectNoTemporaryFolder();
  EXPECT_TRUE(program->opened().isEmpty());
  const auto statuses = posts("update-status.jsp");
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back().field("detail_status"), "Complete")
      << "no Install report for an installer not opened";
}

// Ctrl+C ends it as the quit protocol does: the cancellation reported, no part
// or lock left behind, nothing delivered; its own line and exit code say so.
TEST_F(EndToEnd, AnInterruptedUnattendedRunReportsTheCancelAndLeavesNothing) {
  serve(52 * 1024 * 1024, [](auto& s) { s.installer.rateLimit = 300'000; });
  program->start({QStringLiteral("--unattended"), QStringLiteral("--progress=lines")}, false);
  // Well under way: a cancel while the transfer is still being set up races
  // its "Downloading" report (the engine's, the window's alike).
  ASSERT_TRUE(waitForInstallerBytes()) << program->output().toStdString();
  program->interrupt();
  ASSERT_TRUE(program->waitForExit(30s)) << program->output().toStdString();

  EXPECT_EQ(program->exitCode(), 3);
  const QStringList err = QString::fromUtf8(program->standardError()).split(u'\n', Qt::SkipEmptyParts);
  ASSERT_FALSE(err.isEmpty());
  EXPECT_EQ(err.front(), u"Preparing the download of Sample Studio 1.0"_qs);
  EXPECT_EQ(err.back(), u"OVDownloader: cancelled by SIGINT"_qs);
  EXPECT_TRUE(program->standardOutput().isEmpty());
  EXPECT_EQ(posts("update-status.jsp").back().field("status"), "Cancel");
  expectNoTemporaryFolder();
  EXPECT_FALSE(QFile::exists(program->supportFolder() + QStringLiteral("/.OVDownloader.lock")));
  EXPECT_TRUE(QDir(sandbox_->downloads()).isEmpty());
}

}  // namespace
}  // namespace ov::test
