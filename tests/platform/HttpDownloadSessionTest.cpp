#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>

#include "platform/HttpClient.h"
#include "tests/platform/HttpTestHelpers.h"
#include "tests/support/TestHttpsServer.h"

namespace {

using namespace std::chrono_literals;
using ov::HttpError;
using ovtest::DownloadProbe;
using ovtest::TestHttpsServer;
using ovtest::TestResource;

// Bytes that differ everywhere, so that a misplaced or lost range shows.
std::string makeBody(std::size_t size) {
  std::string body(size, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : body) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return body;
}

std::string range(std::size_t first, std::size_t last) {
  return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

class HttpDownloadTest : public testing::Test {
 protected:
  QString path(const QString& relative) const { return folder_.filePath(relative); }
  QTemporaryDir folder_;
};

TEST_F(HttpDownloadTest, RangedGetCreatesFoldersAndReplacesAnExistingFile) {
  TestHttpsServer server;
  const std::string body = makeBody(300000);
  server.serve("/Setup.pkg", {body});
  auto session = ov::makeDownloadSession();
  const QString folder = path("deep/Setup_TempFiles");
  const QString destination = folder + "/Setup.pkg.1";
  // The second download lands on the file of the first and must replace it.
  for (const auto& [first, last] : {std::pair<std::size_t, std::size_t>{100000, 299999}, {0, 99}}) {
    DownloadProbe probe;
    probe.start(*session, server.url("/Setup.pkg"), {{"Range", range(first, last)}}, destination);
    ASSERT_TRUE(probe.waitForCompletion());
    const auto done = probe.completion();
    ASSERT_FALSE(done.error.has_value()) << done.error->description;
    ASSERT_TRUE(done.response.has_value());
    EXPECT_EQ(done.response->statusCode, 206);
    EXPECT_EQ(done.response->value("Content-Range"),
              "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/300000");
    EXPECT_EQ(done.destination, destination);
    EXPECT_EQ(ovtest::readFile(destination), body.substr(first, last - first + 1));
    EXPECT_EQ(ovtest::entriesBesides(folder, {"Setup.pkg.1"}), QStringList());
    EXPECT_TRUE(probe.completionOnItsQueue());
    EXPECT_EQ(server.requests().back().range, range(first, last));
  }
}

TEST_F(HttpDownloadTest, AnErrorStatusIsAnAnswerWhoseBodyIsSaved) {
  TestHttpsServer server;
  auto session = ov::makeDownloadSession();
  DownloadProbe probe;
  probe.start(*session, server.url("/missing"), {{"Range", "bytes=0-9"}}, path("Setup.pkg.0"));
  ASSERT_TRUE(probe.waitForCompletion());
  EXPECT_FALSE(probe.completion().error.has_value());
  ASSERT_TRUE(probe.completion().response.has_value());
  EXPECT_EQ(probe.completion().response->statusCode, 404);
  EXPECT_EQ(ovtest::readFile(path("Setup.pkg.0")), "not found");
}

TEST_F(HttpDownloadTest, ProgressIsCoalescedOnTheMainQueueAndCompletionComesOnce) {
  TestHttpsServer server;
  server.serve("/slow", {makeBody(512 * 1024), "\"e\"", "application/octet-stream", 8 * 1024, 5ms});
  ov::DownloadSessionConfiguration configuration;
  configuration.progressInterval = 50ms;
  auto session = ov::makeDownloadSession(configuration);
  DownloadProbe probe(ovtest::mainQueuePointer());
  const auto started = std::chrono::steady_clock::now();
  probe.start(*session, server.url("/slow"), {}, path("slow.bin"));
  ASSERT_TRUE(probe.waitForCompletion());
  const auto elapsed = std::chrono::steady_clock::now() - started;
  ASSERT_FALSE(probe.completion().error.has_value());
  ovtest::pumpUntil([] { return false; }, 200ms);

  EXPECT_EQ(probe.completionCount(), 1);
  EXPECT_TRUE(probe.completionOnItsQueue());
  const auto reports = probe.progress();
  ASSERT_GE(reports.size(), 2u);
  // 64 slices arrive; without coalescing nearly every one would be reported.
  EXPECT_LE(static_cast<long>(reports.size()), elapsed / configuration.progressInterval + 2);
  EXPECT_EQ(reports.back().fraction, 1.0);
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_TRUE(reports[i].onMainThread);
    EXPECT_GT(reports[i].fraction, 0.0);
    if (i > 0) {
      EXPECT_GT(reports[i].fraction, reports[i - 1].fraction);
    }
  }
}

struct SuspendCase {
  std::string name;
  std::chrono::milliseconds suspension;
};

class HttpSuspendTest : public HttpDownloadTest, public testing::WithParamInterface<SuspendCase> {};

// The server forgets idle connections after 1 s and the request time-out is
// 800 ms: a long suspension must survive both.
TEST_P(HttpSuspendTest, ResumeContinuesByteExactWithANarrowedRange) {
  TestHttpsServer::Options options;
  options.keepAliveTimeout = 1s;
  options.readTimeout = 1s;
  options.writeTimeout = 1s;
  TestHttpsServer server(options);
  const std::string body = makeBody(2000000);
  const std::string etag = "\"v1\"";
  server.serve("/Setup.pkg", {body, etag, "application/octet-stream", 8 * 1024, 4ms});
  ov::DownloadSessionConfiguration configuration;
  configuration.requestTimeout = 800ms;
  configuration.resourceTimeout = 5s;
  configuration.progressInterval = 20ms;
  auto session = ov::makeDownloadSession(configuration);
  DownloadProbe probe;
  const ov::HttpHeaders headers = {{"If-Range", etag}, {"Range", range(1000, 1899999)}, {"X-Chunk", "1"}};
  const auto request = probe.start(*session, server.url("/Setup.pkg"), headers, path("Setup.pkg.0"));
  ASSERT_TRUE(probe.waitForFraction(0.1));
  request->suspend();
  request->suspend();
  EXPECT_TRUE(request->isSuspended());
  ovtest::pumpUntil([] { return false; }, GetParam().suspension);
  request->resume();
  request->resume();
  EXPECT_FALSE(request->isSuspended());
  ASSERT_TRUE(probe.waitForCompletion());

  const auto done = probe.completion();
  ASSERT_FALSE(done.error.has_value()) << done.error->description;
  ASSERT_TRUE(done.response.has_value());
  EXPECT_EQ(done.response->statusCode, 206);
  EXPECT_EQ(done.response->value("Content-Range"), "bytes 1000-1899999/2000000")
      << "the first answer is reported";
  EXPECT_EQ(ovtest::readFile(path("Setup.pkg.0")), body.substr(1000, 1899000));

  const auto sent = server.requestsTo("/Setup.pkg");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].range, range(1000, 1899999));
  ASSERT_TRUE(sent[1].range.has_value());
  const std::size_t resumedAt = std::stoul(sent[1].range->substr(6));
  EXPECT_GT(resumedAt, 1000u);
  EXPECT_EQ(*sent[1].range, range(resumedAt, 1899999));
  EXPECT_EQ(sent[1].header("If-Range"), etag);
  EXPECT_EQ(sent[1].header("X-Chunk"), "1");
  for (const auto& report : probe.progress()) EXPECT_FALSE(report.whileSuspended);
  EXPECT_EQ(probe.progress().back().fraction, 1.0);
  EXPECT_EQ(probe.completionCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Table, HttpSuspendTest,
                         testing::Values(SuspendCase{"Short", 100ms},
                                         SuspendCase{"LongerThanServerKeepAlive", 1500ms}),
                         [](const testing::TestParamInfo<SuspendCase>& info) { return info.param.name; });

struct WrongAnswerCase {
  std::string name;
  int status;
  std::string contentRange;  // "" for none; FIRST stands for the start asked for
};

class HttpResumeFailureTest : public HttpDownloadTest, public testing::WithParamInterface<WrongAnswerCase> {};

TEST_P(HttpResumeFailureTest, AResumedAnswerThatIsNotTheRight206Fails) {
  const std::string body = makeBody(1000000);
  std::atomic<int> served{0};
  TestHttpsServer server;
  server.handle("GET", "/chunk", [&](const httplib::Request& request, httplib::Response& response) {
    if (served++ == 0) {
      response.status = 206;
      response.set_header("Content-Range", "bytes 0-999999/1000000");
      response.set_content_provider(
          1000000, "application/octet-stream", [&](size_t offset, size_t, httplib::DataSink& sink) {
            if (!server.pause(4ms)) return false;
            return sink.write(body.data() + offset, std::min<size_t>(8192, 1000000 - offset));
          });
      return;
    }
    const WrongAnswerCase& c = GetParam();
    response.status = c.status;
    std::string contentRange = c.contentRange;
    const std::string asked = request.get_header_value("Range").substr(6);
    if (const auto at = contentRange.find("FIRST"); at != std::string::npos) {
      contentRange.replace(at, 5, asked.substr(0, asked.find('-')));
    }
    if (!contentRange.empty()) response.set_header("Content-Range", contentRange);
    response.set_content(c.status == 416 ? std::string() : body.substr(0, 1000), "application/octet-stream");
  });
  ov::DownloadSessionConfiguration configuration;
  configuration.progressInterval = 20ms;
  auto session = ov::makeDownloadSession(configuration);
  DownloadProbe probe;
  const auto request =
      probe.start(*session, server.url("/chunk"), {{"Range", "bytes=0-999999"}}, path("c.0"));
  ASSERT_TRUE(probe.waitForFraction(0.05));
  request->suspend();
  ovtest::pumpUntil([] { return false; }, 100ms);
  request->resume();
  ASSERT_TRUE(probe.waitForCompletion());
  const auto done = probe.completion();
  ASSERT_TRUE(done.error.has_value());
  EXPECT_EQ(done.error->kind, HttpError::Kind::ResumeFailed) << done.error->description;
  ASSERT_TRUE(done.response.has_value());
  EXPECT_EQ(done.response->statusCode, GetParam().status);  // the answer that failed it
  EXPECT_EQ(ovtest::entriesBesides(folder_.path(), {}), QStringList()) << "nothing is left behind";
  EXPECT_EQ(served.load(), 2);
}

INSTANTIATE_TEST_SUITE_P(Table, HttpResumeFailureTest,
                         testing::Values(WrongAnswerCase{"WholeBody", 200, ""},
                                         WrongAnswerCase{"FromTheStart", 206, "bytes 0-999/1000000"},
                                         WrongAnswerCase{"ShortEnd", 206, "bytes FIRST-999999/2000000"},
                                         WrongAnswerCase{"NotSatisfiable", 416, "bytes */1000000"}),
                         [](const testing::TestParamInfo<WrongAnswerCase>& info) { return info.param.name; });

TEST_F(HttpDownloadTest, SuspendedBeforeAnyAnswerTheRequestIsSentAgainUnchanged) {
  const std::string body = makeBody(50000);
  std::atomic<bool> resumed{false};
  TestHttpsServer server;
  server.handle("GET", "/late", [&](const httplib::Request&, httplib::Response& response) {
    server.waitUntil([&] { return resumed.load(); }, 300ms);
    response.status = 206;
    response.set_header("Content-Range", "bytes 0-49999/100000");
    response.set_content(body, "application/octet-stream");
  });
  auto session = ov::makeDownloadSession();
  DownloadProbe probe;
  const auto request =
      probe.start(*session, server.url("/late"), {{"Range", "bytes=0-49999"}}, path("late.0"));
  request->suspend();
  ovtest::pumpUntil([] { return false; }, 150ms);
  resumed = true;
  request->resume();
  ASSERT_TRUE(probe.waitForCompletion());
  ASSERT_FALSE(probe.completion().error.has_value()) << probe.completion().error->description;
  EXPECT_EQ(ovtest::readFile(path("late.0")), body);
  const auto sent = server.requestsTo("/late");
  ASSERT_FALSE(sent.empty());
  for (const auto& request : sent) EXPECT_EQ(request.range, "bytes=0-49999");
}

class HttpCancelTest : public HttpDownloadTest, public testing::WithParamInterface<bool> {};

TEST_P(HttpCancelTest, CancelEndsOnceWithCancelledAndLeavesNothing) {
  const bool whileSuspended = GetParam();
  TestHttpsServer server;
  server.serve("/big", {makeBody(1000000), "\"e\"", "application/octet-stream", 4096, 5ms});
  ov::DownloadSessionConfiguration configuration;
  configuration.progressInterval = 20ms;
  auto session = ov::makeDownloadSession(configuration);
  DownloadProbe probe;
  const auto request = probe.start(*session, server.url("/big"), {}, path("big.bin"));
  ASSERT_TRUE(probe.waitForFraction(0.01));
  if (whileSuspended) request->suspend();
  request->cancel();
  request->cancel();
  ASSERT_TRUE(probe.waitForCompletion());
  ovtest::pumpUntil([] { return false; }, 100ms);
  EXPECT_EQ(probe.completionCount(), 1);
  ASSERT_TRUE(probe.completion().error.has_value());
  EXPECT_EQ(probe.completion().error->kind, HttpError::Kind::Cancelled);
  EXPECT_EQ(probe.completion().response->statusCode, 200);
  EXPECT_EQ(ovtest::entriesBesides(folder_.path(), {}), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Running, HttpCancelTest, testing::Values(false));
INSTANTIATE_TEST_SUITE_P(Suspended, HttpCancelTest, testing::Values(true));

struct TimeOutCase {
  std::string name;
  std::chrono::milliseconds requestTimeout;
  std::chrono::milliseconds resourceTimeout;
  std::chrono::milliseconds sliceDelay;  // between 1 KiB slices; long means the server stalls
};

class HttpTimeOutTest : public HttpDownloadTest, public testing::WithParamInterface<TimeOutCase> {};

TEST_P(HttpTimeOutTest, ATransferThatTakesTooLongFails) {
  TestHttpsServer server;
  server.serve("/t", {makeBody(200000), "\"e\"", "application/octet-stream", 1024, GetParam().sliceDelay});
  ov::DownloadSessionConfiguration configuration;
  configuration.requestTimeout = GetParam().requestTimeout;
  configuration.resourceTimeout = GetParam().resourceTimeout;
  auto session = ov::makeDownloadSession(configuration);
  DownloadProbe probe;
  const auto started = std::chrono::steady_clock::now();
  probe.start(*session, server.url("/t"), {}, path("t.bin"));
  ASSERT_TRUE(probe.waitForCompletion());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  ASSERT_TRUE(probe.completion().error.has_value());
  EXPECT_EQ(probe.completion().error->kind, HttpError::Kind::TimedOut)
      << probe.completion().error->description;
  EXPECT_EQ(ovtest::entriesBesides(folder_.path(), {}), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Table, HttpTimeOutTest,
                         testing::Values(TimeOutCase{"NoData", 300ms, 10s, 5000ms},
                                         TimeOutCase{"WholeTransfer", 10s, 400ms, 10ms}),
                         [](const testing::TestParamInfo<TimeOutCase>& info) { return info.param.name; });

TEST_F(HttpDownloadTest, ANewRoundReusesTheConnectionsOfTheLastOne) {
  constexpr std::size_t kChunk = 100000;
  constexpr int kParallel = 10;
  // Declared before the server so that no handler can outlive it.
  const std::string body = makeBody(kChunk * kParallel);
  TestHttpsServer server;
  // Each answer waits until the whole round has arrived, so every round needs
  // all its connections at once: the first opens them, the second must find them.
  server.handle("GET", "/Setup.pkg", [&](const httplib::Request& request, httplib::Response& response) {
    const std::size_t arrived = server.requestsTo("/Setup.pkg").size();
    const std::size_t roundEnd = (arrived + kParallel - 1) / kParallel * kParallel;
    server.waitUntil([&] { return server.requestsTo("/Setup.pkg").size() >= roundEnd; }, 10s);
    const std::string asked = request.get_header_value("Range");
    const std::size_t first = std::stoul(asked.substr(6));
    const std::size_t last = std::stoul(asked.substr(asked.find('-') + 1));
    response.status = 206;
    response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                             std::to_string(body.size()));
    response.set_content(body.substr(first, last - first + 1), "application/octet-stream");
  });
  auto session = ov::makeDownloadSession();
  int afterFirstRound = 0;
  for (int round = 0; round < 2; ++round) {
    std::vector<std::unique_ptr<DownloadProbe>> probes;
    for (int i = 0; i < kParallel; ++i) {
      probes.push_back(std::make_unique<DownloadProbe>());
      probes.back()->start(*session, server.url("/Setup.pkg"),
                           {{"Range", range(i * kChunk, (i + 1) * kChunk - 1)}},
                           path(QString("Setup.pkg.%1").arg(i)));
    }
    for (int i = 0; i < kParallel; ++i) {
      ASSERT_TRUE(probes[i]->waitForCompletion());
      ASSERT_FALSE(probes[i]->completion().error.has_value());
      EXPECT_EQ(ovtest::readFile(path(QString("Setup.pkg.%1").arg(i))), body.substr(i * kChunk, kChunk));
    }
    if (round == 0) afterFirstRound = server.connectionCount();
  }
  EXPECT_EQ(afterFirstRound, kParallel) << "parallel range requests travel over parallel connections";
  EXPECT_EQ(server.connectionCount(), kParallel) << "the second round made new TLS handshakes";
  EXPECT_EQ(server.requestsTo("/Setup.pkg").size(), 2u * kParallel);
}

TEST_F(HttpDownloadTest, AnUnwritableDestinationIsAFileError) {
  TestHttpsServer server;
  server.serve("/x", {"abc"});
  QFile blocker(path("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  auto session = ov::makeDownloadSession();
  DownloadProbe probe;
  probe.start(*session, server.url("/x"), {}, path("blocker/sub/x.bin"));
  ASSERT_TRUE(probe.waitForCompletion());
  ASSERT_TRUE(probe.completion().error.has_value());
  EXPECT_EQ(probe.completion().error->kind, HttpError::Kind::File);
  EXPECT_FALSE(probe.completion().response.has_value());
  EXPECT_TRUE(server.requests().empty()) << "nothing is fetched when the file cannot be made";
}

}  // namespace
