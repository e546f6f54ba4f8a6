#include <gtest/gtest.h>
#include <signal.h>

#include <QTemporaryDir>
#include <regex>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/tools/ServiceFixture.h"

namespace refservice::testing {
namespace {

std::string postTo(int port, const std::string& caFile, const std::string& endpoint) {
  return rawExchange(port, caFile, postRequest(endpoint), std::chrono::seconds(10)).body;
}

// Polls until `done` holds or ten seconds pass.
template <typename Done>
bool eventually(Done done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return done();
}

TEST(Executable, AnnouncesItselfAnswersReloadsAndStopsOnSigterm) {
  QTemporaryDir dir;
  const std::filesystem::path folder = dir.path().toStdString();
  const auto state = folder / "state";
  std::filesystem::create_directories(folder / "installers");
  writeFile(folder / "scenario.txt", "# a comment\r\nheartbeat = 1\n\n  heartbeat = 4=5  \r\n");
  ov::test::ChildProcess child(
      OV_REFSERVICE_EXECUTABLE,
      {"--installers", dir.filePath("installers"), "--state-dir", dir.filePath("state"), "--scenario",
       dir.filePath("scenario.txt"), "--link=error-000"},
      dir.filePath("out.txt"));
  std::smatch match;
  const std::regex listening(R"(listening https://127\.0\.0\.1:(\d+) ca=(\S+) record=(\S+)\n)");
  std::string line;
  ASSERT_TRUE(eventually([&] {
    return std::regex_match(line = readFile(folder / "out.txt"), match, listening);
  })) << line;
  const int port = std::stoi(match[1]);
  const std::string caFile = match[2];
  EXPECT_EQ(caFile, (state / "ca.pem").string());
  EXPECT_EQ(readFile(state / "port"), std::to_string(port) + "\n");
  EXPECT_EQ(postTo(port, caFile, "get-link.jsp"), "ERROR: 000\r\n");
  EXPECT_EQ(postTo(port, caFile, "heartbeat.jsp"), "4=5");

  writeFile(folder / "scenario.txt", "heartbeat = 60\n");
  ::kill(child.pid(), SIGHUP);
  EXPECT_TRUE(eventually([&] { return postTo(port, caFile, "heartbeat.jsp") == "60"; }));
  // The flags still apply over the reloaded file.
  EXPECT_EQ(postTo(port, caFile, "get-link.jsp"), "ERROR: 000\r\n");

  ::kill(child.pid(), SIGTERM);
  EXPECT_EQ(child.wait().value_or(-1), 0);
  EXPECT_FALSE(std::filesystem::exists(state / "port"));
  EXPECT_NE(readFile(match[3].str()).find("\"path\":\"/prog/util/downloader/heartbeat.jsp\""),
            std::string::npos);
}

}  // namespace
}  // namespace refservice::testing
