#include <algorithm>

#include "tests/e2e/EndToEnd.h"
#include "tests/support/Rows.h"

namespace ov::test {
namespace {

using test::PrintTo;

// One line per service request, in arrival order, as "endpoint[status/detail]";
// the range requests fold into one "GET" entry.
std::vector<std::string> conversation(const std::vector<RequestRecord>& records) {
  std::vector<std::string> lines;
  for (const auto& r : records) {
    std::string line;
    if (r.method == "GET") {
      line = "GET";
    } else if (r.method == "HEAD") {
      line = "HEAD";
    } else {
      line = r.path.substr(r.path.rfind('/') + 1);
      if (line == "update-status.jsp")
        line += "[" + r.field("status").value_or("") + "/" + r.field("detail_status").value_or("") + "]";
    }
    if (lines.empty() || line != "GET" || lines.back() != "GET") lines.push_back(line);
  }
  return lines;
}

class Sizes : public EndToEnd, public ::testing::WithParamInterface<std::int64_t> {};

TEST_P(Sizes, TheInstallerArrivesIntactAndIsHandedOver) {
  serve(GetParam());
  program->start();
  ASSERT_TRUE(program->waitForExit(kRunLimit)) << program->output().toStdString();
  EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program->exitCode(), 0) << program->output().toStdString();

  expectByteIdentical();
  expectNoTemporaryFolder();
  EXPECT_FALSE(QFile::exists(program->supportFolder() + QStringLiteral("/OrvalenSetup.pkg")))
      << "moved, not copied";
  EXPECT_EQ(program->opened(), QStringList{landed()});

  // The conversation, in order. The first requests do not wait for the
  // "Downloading" status and the first size report, which leave together in
  // either order, so the range requests are checked apart.
  const auto records = service->requests();
  std::vector<RequestRecord> service_calls;
  std::copy_if(records.begin(), records.end(), std::back_inserter(service_calls),
               [](const auto& r) { return r.method != "GET"; });
  auto lines = conversation(service_calls);
  auto downloading = std::find(lines.begin(), lines.end(), "update-status.jsp[Downloading/]");
  ASSERT_NE(downloading, lines.end()) << ::testing::PrintToString(lines);
  if (downloading + 1 != lines.end() && *(downloading + 1) == "update-size-v2.jsp")
    std::iter_swap(downloading, downloading + 1);
  const std::vector<std::string> expected{"get-link.jsp",
                                          "heartbeat.jsp",
                                          "HEAD",
                                          "update-info.jsp",
                                          "update-status.jsp[Launch/]",
                                          "update-size-v2.jsp",
                                          "update-status.jsp[Downloading/]",
                                          "update-status.jsp[Complete/Complete]",
                                          "update-size-v2.jsp",
                                          "update-status.jsp[Complete/Install]"};
  EXPECT_EQ(lines, expected);
  const auto launch = std::find_if(records.begin(), records.end(),
                                   [](const auto& r) { return r.field("status") == "Launch"; });
  const auto complete = std::find_if(records.begin(), records.end(),
                                     [](const auto& r) { return r.field("status") == "Complete"; });
  for (auto r = records.begin(); r != records.end(); ++r) {
    if (r->method == "GET") {
      EXPECT_TRUE(r > launch && r < complete) << "range request " << r->range << " outside the transfer";
    }
  }

  // One token throughout, and the last size report counts every byte.
  const auto token = posts("update-info.jsp").front().field("TokenID");
  ASSERT_TRUE(token && !token->empty());
  for (const auto& r : service->requests()) {
    if (r.path.find("update-") != std::string::npos) {
      EXPECT_EQ(r.field("TokenID"), token) << r.path;
    }
  }
  const auto sizes = posts("update-size-v2.jsp");
  EXPECT_EQ(sizes.back().field("currentDownloadSize"), std::to_string(GetParam()));
  EXPECT_EQ(sizes.back().field("fileSize"), std::to_string(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Installers, Sizes, ::testing::Values(1, 5 * 1024 * 1024 + 1, 52 * 1024 * 1024),
                         [](const auto& info) { return "Bytes" + std::to_string(info.param); });

TEST_F(EndToEnd, GzipAnswersWork) {
  serve(3 * 1024 * 1024, [](auto& s) { s.gzip = true; });
  program->start();
  ASSERT_TRUE(program->waitForExit(kRunLimit)) << program->output().toStdString();
  expectByteIdentical();
  const auto links = posts("get-link.jsp");
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links.front().responseHeader("Content-Encoding"), "gzip");
}

TEST_F(EndToEnd, HeartbeatReportsFollowTheServicesInterval) {
  // About six seconds of transfer at one report a second.
  serve(24 * 1024 * 1024, [](auto& s) {
    s.heartbeatText = "1";
    s.installer.rateLimit = 1'000'000;
  });
  program->start();
  ASSERT_TRUE(program->waitForExit(kRunLimit)) << program->output().toStdString();
  expectByteIdentical();

  // Size reports between the "Downloading" status and the "Complete" status are the heartbeat's.
  std::vector<std::chrono::microseconds> ticks;
  bool transferring = false;
  for (const auto& r : service->requests()) {
    const auto status = r.field("status").value_or("");
    if (status == "Downloading") transferring = true;
    if (status == "Complete") transferring = false;
    if (transferring && r.path.ends_with("update-size-v2.jsp")) ticks.push_back(r.sinceStart);
  }
  // On average, since a busy machine delays single ticks (and a late report
  // bunches with the next); the default would be one in 30 s.
  ASSERT_GE(ticks.size(), 4u);
  const auto meanGap = (ticks.back() - ticks.front()) / static_cast<int>(ticks.size() - 1);
  EXPECT_GT(meanGap, 700ms);
  EXPECT_LT(meanGap, 2500ms);
}

TEST_F(EndToEnd, TerminationDuringTheTransferReportsTheCancelAndCleansUp) {
  serve(52 * 1024 * 1024, [](auto& s) { s.installer.rateLimit = 300'000; });
  program->start();
  ASSERT_TRUE(waitForInstallerBytes()) << program->output().toStdString();
  ASSERT_TRUE(waitFor([&] { return QDir(temporaryFolder()).exists(); }, 60s));  // parts are on disk
  program->terminate();
  ASSERT_TRUE(program->waitForExit(30s)) << program->output().toStdString();

  const auto statuses = posts("update-status.jsp");
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back().field("status"), "Cancel");
  expectNoTemporaryFolder();
  EXPECT_FALSE(QFile::exists(landed()));
  EXPECT_TRUE(program->opened().isEmpty());
}

TEST_F(EndToEnd, ATerminationSignalEndsTheProgramWhileItWaitsForASlowService) {
  // Every report trickles at a byte a second, so the completion waits.
  serve(3 * 1024 * 1024, [](auto& s) { s.slowReports = true; });
  program->start();
  // The installer lands before the completion's reports, which then trickle.
  ASSERT_TRUE(waitFor([&] { return QFile::exists(landed()); }, kRunLimit)) << program->output().toStdString();
  // The program now waits on a report that trickles.
  ASSERT_TRUE(waitFor(
      [&] {
        const auto records = service->requests();
        return std::ranges::any_of(records,
                                   [](const auto& r) { return r.outcome == refservice::Outcome::Pending; });
      },
      kRunLimit));
  const auto signalled = std::chrono::steady_clock::now();
  program->terminate();
  ASSERT_TRUE(program->waitForExit(10s));
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
  EXPECT_TRUE(program->opened().isEmpty());
  expectNoTemporaryFolder();
}

TEST_F(EndToEnd, AfterACrashTheNextLaunchFetchesOnlyWhatWasMissing) {
  constexpr std::int64_t kChunk = 5 * 1024 * 1024;
  constexpr std::int64_t kSize = 10 * kChunk + 3 * 1024 * 1024;
  // The first ten chunks land; the last one is answered 503 with a long
  // Retry-After, so the program is killed while it waits to fetch it again.
  serve(kSize, [](auto& s) {
    s.installer.failAtByte = 10 * kChunk;
    s.installer.failStatus = 503;
    s.installer.retryAfter = 30;
  });
  program->start();
  const QString state =
      program->supportFolder() + QStringLiteral("/OrvalenSetup_TempFiles/OrvalenSetup.pkg.state");
  ASSERT_TRUE(waitFor(
      [&] {
        QFile file(state);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains("appended = 10");
      },
      kRunLimit))
      << program->output().toStdString();
  program->kill();
  service->clearRequests();
  service->updateScenario([](auto& s) { s.installer.failAtByte.reset(); });

  program->start();
  ASSERT_TRUE(program->waitForExit(kRunLimit)) << program->output().toStdString();
  expectByteIdentical();
  std::vector<std::string> ranges;
  for (const auto& r : service->requests())
    if (r.method == "GET") ranges.push_back(r.range);
  EXPECT_EQ(ranges, std::vector<std::string>{byteRange(10 * kChunk, kSize - 1)});
}

}  // namespace
}  // namespace ov::test
