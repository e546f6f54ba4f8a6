#include <gtest/gtest.h>
#include <signal.h>

#include <QTemporaryDir>
#include <regex>

#include "tests/support/ChildProcess.h"
#include "tests/support/EventLoop.h"
#include "tests/tools/ServiceFixture.h"

namespace refservice::testing {
namespace {

TEST(Executable, AnnouncesItselfAnswersReloadsAndStopsOnSigterm) {
  QTemporaryDir dir;
  const auto file = [&](const char* name) { return dir.filePath(QString::fromUtf8(name)); };
  const auto text = [&](const QString& path) { return readWholeFile(path).toStdString(); };
  writeWholeFile(file("installers/.keep"), "");
  writeWholeFile(file("scenario.txt"), "# a comment\r\nheartbeat = 1\n\n  heartbeat = 4=5  \r\n");
  ov::test::ChildProcess child(OV_REFSERVICE_EXECUTABLE,
                               {"--installers", file("installers"), "--state-dir", file("state"),
                                "--scenario", file("scenario.txt"), "--link=error-000"},
                               file("out.txt"));
  std::smatch match;
  const std::regex listening(R"(listening https://127\.0\.0\.1:(\d+) ca=(\S+) record=(\S+)\n)");
  std::string line;
  // The child announces itself on standard output, which only polling can watch.
  ASSERT_TRUE(ov::test::runEventLoopUntil(
      [&] { return std::regex_match(line = text(file("out.txt")), match, listening); },
      std::chrono::seconds(10)))
      << line;
  const int port = std::stoi(match[1]);
  const std::string caFile = match[2];
  const auto post = [&](const std::string& endpoint) {
    return rawExchange(port, caFile, request("POST /prog/util/downloader/" + endpoint)).body;
  };
  EXPECT_EQ(QString::fromStdString(caFile), file("state/ca.pem"));
  EXPECT_EQ(text(file("state/port")), std::to_string(port) + "\n");
  EXPECT_EQ(post("get-link.jsp"), "ERROR: 000\r\n");
  EXPECT_EQ(post("heartbeat.jsp"), "4=5");

  writeWholeFile(file("scenario.txt"), "heartbeat = 60\n");
  ::kill(child.pid(), SIGHUP);
  EXPECT_TRUE(
      ov::test::runEventLoopUntil([&] { return post("heartbeat.jsp") == "60"; }, std::chrono::seconds(10)));
  // The flags still apply over the reloaded file.
  EXPECT_EQ(post("get-link.jsp"), "ERROR: 000\r\n");

  ::kill(child.pid(), SIGTERM);
  EXPECT_EQ(child.wait().value_or(-1), 0);
  EXPECT_FALSE(QFile::exists(file("state/port")));
  EXPECT_NE(text(QString::fromStdString(match[3])).find("\"path\":\"/prog/util/downloader/heartbeat.jsp\""),
            std::string::npos);
}

}  // namespace
}  // namespace refservice::testing
