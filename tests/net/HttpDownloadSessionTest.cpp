#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <csignal>

#include "net/HttpClient.h"
#include "tests/net/HttpTestHelpers.h"
#include "tests/support/Rows.h"
#include "tests/support/TestHttpsServer.h"

namespace ov::test {
namespace {

using test::PrintTo;

class HttpDownloadTest : public testing::Test {
 protected:
  QString path(const QString& relative) const { return folder_.filePath(relative); }
  QTemporaryDir folder_;
};

struct SuspendCase {
  std::string name;
  std::size_t first, last;  // of the expected range
  double suspendAt;         // fraction; 0: before any body byte
  std::chrono::milliseconds suspension;
  std::chrono::milliseconds sliceDelay;  // before each 8 KiB slice
};

class HttpSuspendTest : public HttpDownloadTest, public testing::WithParamInterface<SuspendCase> {};

// The server forgets idle connections after 1 s and the request time-out is
// 800 ms: a long suspension must survive both.
TEST_P(HttpSuspendTest, ResumeContinuesByteExactWithANarrowedRange) {
  const SuspendCase& c = GetParam();
  TestHttpsServer server(1s);
  const std::string body = patternBytes(2000000);
  server.handle("GET", "/Setup.pkg",
                server.serving({body, "\"v1\"", "application/octet-stream", 8 * 1024, c.sliceDelay}));
  auto session =
      makeDownloadSession({.requestTimeout = 800ms, .resourceTimeout = 5s, .progressInterval = 100ms});
  // A chunk fetched again lands on the file of the first try and replaces it.
  writeWholeFile(path("Setup.pkg.0"), "earlier try");
  DownloadProbe probe;
  const auto started = std::chrono::steady_clock::now();
  const auto request =
      probe.start(*session, server.url("/Setup.pkg"),
                  {{"If-Range", "\"v1\""}, {"Range", byteRange(c.first, c.last)}, {"X-Chunk", "1"}},
                  path("Setup.pkg.0"), ExpectedRange{std::int64_t(c.first), std::int64_t(c.last), 2000000});
  ASSERT_TRUE(c.suspendAt == 0 || probe.waitForFraction(c.suspendAt));
  request->suspend();
  request->suspend();
  runEventLoopFor(c.suspension);
  request->resume();
  request->resume();
  ASSERT_TRUE(probe.waitForCompletion());
  const auto active = std::chrono::steady_clock::now() - started - c.suspension;

  const auto done = probe.completion();
  ASSERT_EQ(errorOf(done), std::nullopt) << done.error->description;
  EXPECT_EQ(readFile(path("Setup.pkg.0")), body.substr(c.first, c.last - c.first + 1));
  EXPECT_EQ(leftovers(folder_.path(), "Setup.pkg.0"), QStringList());
  const auto sent = server.requestsTo("/Setup.pkg");
  ASSERT_FALSE(sent.empty());
  if (c.suspendAt > 0) {
    ASSERT_EQ(sent.size(), 2u);
    const std::size_t resumedAt = std::stoul(sent[1].range.substr(6));
    EXPECT_GT(resumedAt, c.first);
    EXPECT_EQ(sent[1].range, byteRange(resumedAt, c.last));
    EXPECT_EQ(std::ranges::count(sent[1].headers, "Range", &refservice::HeaderList::value_type::first), 1);
  } else {
    for (const auto& request : sent)
      EXPECT_EQ(request.range, byteRange(c.first, c.last)) << "sent again unchanged";
  }
  const auto fractions = probe.fractions();
  ASSERT_FALSE(fractions.empty());
  EXPECT_GT(fractions.front(), 0.0) << "a report before the first body byte";
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_EQ(fractions.back(), 1.0);
  // One report per 100 ms interval at most, and the final one.
  EXPECT_LE(fractions.size(), std::size_t(active / 100ms) + 3);
  EXPECT_EQ(probe.completions().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, HttpSuspendTest,
                         testing::Values(SuspendCase{"LongerThanServerKeepAlive", 1000, 1899999, 0.1, 1500ms,
                                                     4ms},
                                         SuspendCase{"BeforeAnyBodyByte", 0, 9999, 0, 100ms, 200ms}),
                         rowName);

struct NarrowCase {
  std::string name;
  double suspendAt;           // fraction; 0: before any body byte; below 0: narrowed while the body streams
  std::int64_t last;          // the new end, or with `afterWritten` its distance from the last byte written
  bool afterWritten = false;  // `last` counts from the bytes written when narrowed
  bool narrowed = true;
  std::size_t requests = 0;  // GETs on the wire; 0: one or two (a suspension may beat the first)
};

class HttpNarrowTest : public HttpDownloadTest, public testing::WithParamInterface<NarrowCase> {};

TEST_P(HttpNarrowTest, ARequestNarrowedInTimeEndsExactlyThereAndAsksForNoMore) {
  const NarrowCase& c = GetParam();
  constexpr std::int64_t first = 1000, last = 1999999;
  TestHttpsServer server;
  const std::string body = patternBytes(2000000);
  server.handle("GET", "/Setup.pkg",
                server.serving({body, "\"v1\"", "application/octet-stream", 8 * 1024, 4ms}));
  auto session = makeDownloadSession({.progressInterval = 20ms});
  DownloadProbe probe;
  const auto request = probe.start(*session, server.url("/Setup.pkg"),
                                   {{"If-Range", "\"v1\""}, {"Range", byteRange(first, last)}}, path("p.3"),
                                   ExpectedRange{first, last, 2000000});
  const auto narrow = [&](std::int64_t to) {
    auto answer = std::make_shared<std::atomic<int>>(-1);
    request->narrowEnd(to, [answer](bool narrowed) {
      EXPECT_TRUE(isOnQueue("completion"));
      *answer = narrowed ? 1 : 0;
    });
    EXPECT_TRUE(runEventLoopUntil([&] { return *answer >= 0; }));
    return *answer == 1;
  };
  ASSERT_TRUE(c.suspendAt <= 0 || probe.waitForFraction(c.suspendAt));
  if (c.suspendAt >= 0) {
    request->suspend();
    // Commands reach the request in order: once this answer is back, no byte arrives.
    ASSERT_TRUE(narrow(last));
  } else {
    ASSERT_TRUE(probe.waitForFraction(0.1));
  }
  const std::int64_t to = c.afterWritten ? first + request->bytesWritten() - 1 + c.last : c.last;
  EXPECT_EQ(narrow(to), c.narrowed);
  request->resume();
  ASSERT_TRUE(probe.waitForCompletion());

  const auto done = probe.completion();
  ASSERT_EQ(errorOf(done), std::nullopt) << done.error->description;
  const std::int64_t end = c.narrowed ? to : last;
  EXPECT_EQ(readFile(path("p.3")), body.substr(first, end - first + 1));
  EXPECT_EQ(request->bytesWritten(), end - first + 1);
  EXPECT_EQ(leftovers(folder_.path(), "p.3"), QStringList());
  const auto sent = server.requestsTo("/Setup.pkg");
  ASSERT_FALSE(sent.empty());
  // Every later attempt asks exactly for the rest up to the new end, with the same validator.
  for (std::size_t i = 1; i < sent.size(); ++i) {
    EXPECT_TRUE(sent[i].range.ends_with("-" + std::to_string(end))) << sent[i].range;
    EXPECT_EQ(sent[i].header("If-Range"), "\"v1\"");
  }
  if (c.suspendAt == 0) {
    EXPECT_EQ(sent.back().range, byteRange(first, end));
  }
  if (c.requests > 0) {
    EXPECT_EQ(sent.size(), c.requests);
  }
  EXPECT_EQ(probe.completions().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, HttpNarrowTest,
                         testing::Values(NarrowCase{"WhileTheBodyStreams", -1, 1499999, false, true, 1},
                                         NarrowCase{"WhileSuspended", 0.1, 999999, false, true, 2},
                                         NarrowCase{"SuspendedBeforeAnyBodyByte", 0, 499999},
                                         NarrowCase{"AtTheLastByteWritten", 0.3, 0, true, true, 1},
                                         NarrowCase{"BeforeTheLastByteWritten", 0.3, -1, true, false, 2}),
                         [](const testing::TestParamInfo<NarrowCase>& info) { return info.param.name; });

// The end moves back while a resumed attempt is on its way: its answer covers
// the range that attempt asked for, and the body stops at the new end.
TEST_F(HttpDownloadTest, AnEndMovedBackWhileTheResumedAnswerIsOnItsWayStillCompletes) {
  constexpr std::int64_t first = 1000, last = 1999999, narrowed = 1499999;
  TestHttpsServer server;
  const std::string body = patternBytes(2000000);
  const auto serve = server.serving({body, "\"v1\"", "application/octet-stream", 8 * 1024, 4ms});
  std::atomic<bool> cut = false;  // the first answer's connection is gone
  std::atomic<bool> release = false;
  server.handle("GET", "/Setup.pkg", [&](const httplib::Request& request, httplib::Response& response) {
    if (server.requestsTo("/Setup.pkg").size() == 1) {
      response.status = 206;
      response.set_header("ETag", "\"v1\"");
      response.set_header("Content-Range", "bytes " + std::to_string(first) + "-1999999/2000000");
      response.set_content_provider(last - first + 1, "application/octet-stream",
                                    [&](size_t offset, size_t, httplib::DataSink& sink) {
                                      if (!server.pause(4ms)) return false;
                                      const auto slice = std::min<size_t>(8192, last - first + 1 - offset);
                                      cut = !sink.write(body.data() + first + offset, slice);
                                      return !cut;
                                    });
      return;
    }
    server.waitUntil([&] { return release.load(); }, 10s);
    serve(request, response);
  });
  auto session = makeDownloadSession({.progressInterval = 20ms});
  DownloadProbe probe;
  const auto request = probe.start(*session, server.url("/Setup.pkg"),
                                   {{"If-Range", "\"v1\""}, {"Range", byteRange(first, last)}}, path("p.3"),
                                   ExpectedRange{first, last, 2000000, "\"v1\""});
  ASSERT_TRUE(probe.waitForFraction(0.05));
  request->suspend();
  ASSERT_TRUE(server.waitUntil([&] { return cut.load(); }, 10s)) << "the suspension gives up the connection";
  request->resume();
  ASSERT_TRUE(runEventLoopUntil([&] { return server.requestsTo("/Setup.pkg").size() == 2; }));
  std::atomic<int> answer = -1;
  request->narrowEnd(narrowed, [&answer](bool done) { answer = done ? 1 : 0; });
  ASSERT_TRUE(runEventLoopUntil([&] { return answer >= 0; }));
  release = true;
  ASSERT_TRUE(probe.waitForCompletion());

  const auto done = probe.completion();
  ASSERT_EQ(errorOf(done), std::nullopt) << done.error->description;
  EXPECT_EQ(readFile(path("p.3")), body.substr(first, narrowed - first + 1));
}

struct WrongAnswerCase {
  std::string name;
  int status;
  std::string contentRange;    // "" for none; FIRST stands for the start asked for
  HttpHeader header = {};      // one more field of the answer
  std::size_t bodyLength = 0;  // 0: the rest of the file from the start asked for
};

class HttpResumeFailureTest : public HttpDownloadTest, public testing::WithParamInterface<WrongAnswerCase> {};

TEST_P(HttpResumeFailureTest, AResumedAnswerThatIsNotTheRight206Fails) {
  const std::string body = patternBytes(1000000);
  std::atomic<int> served{0};
  std::atomic<bool> cut{false};  // the first answer's connection is gone
  TestHttpsServer server;
  server.handle("GET", "/chunk", [&](const httplib::Request& request, httplib::Response& response) {
    if (served++ == 0) {
      response.status = 206;
      response.set_header("Content-Range", "bytes 0-999999/1000000");
      response.set_content_provider(
          1000000, "application/octet-stream", [&](size_t offset, size_t, httplib::DataSink& sink) {
            if (!server.pause(4ms)) return false;
            cut = !sink.write(body.data() + offset, std::min<size_t>(8192, 1000000 - offset));
            return !cut;
          });
      return;
    }
    response.status = GetParam().status;
    std::string contentRange = GetParam().contentRange;
    const std::string asked = request.get_header_value("Range").substr(6);
    if (const auto at = contentRange.find("FIRST"); at != std::string::npos)
      contentRange.replace(at, 5, asked.substr(0, asked.find('-')));
    if (!contentRange.empty()) response.set_header("Content-Range", contentRange);
    if (!GetParam().header.name.empty()) response.set_header(GetParam().header.name, GetParam().header.value);
    const std::size_t first = std::stoul(asked);
    const std::size_t length = GetParam().bodyLength ? GetParam().bodyLength : body.size() - first;
    response.set_content(GetParam().status == 416 ? std::string() : body.substr(first, length),
                         "application/octet-stream");
  });
  auto session = makeDownloadSession({.progressInterval = 20ms});
  DownloadProbe probe;
  const auto request = probe.start(*session, server.url("/chunk"), {{"Range", "bytes=0-999999"}}, path("c.0"),
                                   ExpectedRange{0, 999999, 1000000, "\"v1\""});
  ASSERT_TRUE(probe.waitForFraction(0.05));
  request->suspend();
  ASSERT_TRUE(server.waitUntil([&] { return cut.load(); }, 10s)) << "the suspension gives up the connection";
  request->resume();
  ASSERT_TRUE(probe.waitForCompletion());
  const auto done = probe.completion();
  EXPECT_EQ(errorOf(done), Kind::ResumeFailed);
  EXPECT_EQ(done.response ? done.response->statusCode : 0, GetParam().status) << "the answer that failed it";
  EXPECT_EQ(leftovers(folder_.path()), QStringList());
  EXPECT_EQ(served.load(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpResumeFailureTest,
    testing::Values(
        WrongAnswerCase{"WholeBody", 200, ""}, WrongAnswerCase{"FromTheStart", 206, "bytes 0-999/1000000"},
        WrongAnswerCase{"ShortEnd", 206, "bytes FIRST-999998/1000000"},
        WrongAnswerCase{"OtherResource", 206, "bytes FIRST-999999/2000000"},
        WrongAnswerCase{"NoContentRange", 206, ""}, WrongAnswerCase{"NotSatisfiable", 416, "bytes */1000000"},
        // Every check of a first answer holds for a resumed one.
        WrongAnswerCase{"UnknownCompleteLength", 206, "bytes FIRST-999999/*"},
        WrongAnswerCase{"Compressed", 206, "bytes FIRST-999999/1000000", {"Content-Encoding", "gzip"}},
        WrongAnswerCase{"AnotherVersion", 206, "bytes FIRST-999999/1000000", {"ETag", "\"v2\""}},
        WrongAnswerCase{"ShorterThanItsRange", 206, "bytes FIRST-999999/1000000", {}, 1000}),
    rowName);

struct TimeOutCase {
  std::string name;
  std::chrono::milliseconds requestTimeout;
  std::chrono::milliseconds resourceTimeout;
  std::chrono::milliseconds sliceDelay;  // between 1 KiB slices; long means the server stalls
  std::chrono::milliseconds stallTimeout = 30s;
  std::size_t requests = 1;  // at least this many made
};

class HttpTimeOutTest : public HttpDownloadTest, public testing::WithParamInterface<TimeOutCase> {};

TEST_P(HttpTimeOutTest, ATransferThatTakesTooLongFails) {
  TestHttpsServer server;
  server.handle("GET", "/t",
                server.serving({patternBytes(200000), "\"e\"", "application/octet-stream", 1024,
                                GetParam().sliceDelay}));
  auto session = makeDownloadSession({.requestTimeout = GetParam().requestTimeout,
                                      .resourceTimeout = GetParam().resourceTimeout,
                                      .stallTimeout = GetParam().stallTimeout});
  DownloadProbe probe;
  const auto started = std::chrono::steady_clock::now();
  probe.start(*session, server.url("/t"), {}, path("t.bin"));
  ASSERT_TRUE(probe.waitForCompletion());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(errorOf(probe.completion()), Kind::TimedOut);
  EXPECT_EQ(leftovers(folder_.path()), QStringList());
  EXPECT_GE(server.requestsTo("/t").size(), GetParam().requests);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpTimeOutTest,
    testing::Values(TimeOutCase{"NoData", 300ms, 10s, 5000ms}, TimeOutCase{"WholeTransfer", 10s, 400ms, 10ms},
                    // Each silent connection is replaced; the silence adds up.
                    TimeOutCase{"SilentOnEveryConnection", 500ms, 10s, 5000ms, 100ms, 3}),
    rowName);

struct FileErrorCase {
  std::string name;
  QString destination;          // below the test's folder, which holds the file "blocker"
  std::optional<rlim_t> limit;  // the largest file this process may write
  bool fetched;                 // the answer arrived before the file refused it
};

class HttpFileErrorTest : public HttpDownloadTest, public testing::WithParamInterface<FileErrorCase> {};

TEST_P(HttpFileErrorTest, AFileThatRefusesTheBytesFailsTheRequestAtOnce) {
  TestHttpsServer server;
  server.handle("GET", "/x", server.serving({patternBytes(300000)}));
  writeWholeFile(path("blocker"), "");
  rlimit previous{};
  ::getrlimit(RLIMIT_FSIZE, &previous);
  if (GetParam().limit) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = *GetParam().limit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  }
  auto session = makeDownloadSession({.progressInterval = 20ms});
  DownloadProbe probe;
  probe.start(*session, server.url("/x"), {}, path(GetParam().destination));
  const bool completed = probe.waitForCompletion();
  ::setrlimit(RLIMIT_FSIZE, &previous);
  ASSERT_TRUE(completed);
  EXPECT_EQ(errorOf(probe.completion()), Kind::File);
  EXPECT_EQ(probe.completion().response.has_value(), GetParam().fetched);
  EXPECT_EQ(server.requests().size(), GetParam().fetched ? 1u : 0u) << "never asked again";
  EXPECT_EQ(leftovers(folder_.path(), u"blocker"_qs), QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpFileErrorTest,
    testing::Values(FileErrorCase{"UnwritableFolder", u"blocker/sub/x.bin"_qs, {}, false},
                    FileErrorCase{"WriteFailsWhileTheBytesArrive", u"x.bin"_qs, 1000, true}),
    rowName);

}  // namespace
}  // namespace ov::test
