#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "net/HttpClient.h"
#include "net/ProxyLogins.h"
#include "net/ProxyResolver.h"
#include "tests/net/HttpTestHelpers.h"
#include "tests/support/Rows.h"
#include "tests/support/TinyProxy.h"

namespace ov::test {
namespace {

using test::PrintTo;

constexpr int kRequests = 10;
constexpr std::int64_t kPart = 64 * 1024;

struct Row {
  const char* name;
  // The answer to each question in turn: a password for "tester", or none.
  std::vector<std::optional<QString>> answers;
  bool delivered;  // every request got its bytes; else each failed with ProxyAuthentication
};

class ProxyLoginQuestions : public testing::TestWithParam<Row> {
 protected:
  void TearDown() override {
    setProxyLoginSource(nullptr);
    qunsetenv("https_proxy");
    curl::ProxyResolver::shared().forgetForTesting();
    curl::ProxyLogins::shared().forgetForTesting();
  }
};

// Ten range requests through a real proxy (tinyproxy) that wants a login, all
// refused at once: one question, whose answer every one of them goes on with.
// A refused login is asked for again, three questions at most.
TEST_P(ProxyLoginQuestions, TenRequestsRefusedAtOnceAskOnce) {
  const Row& row = GetParam();
  TinyProxy proxy(TinyProxy::Login{u"tester"_qs, u"right"_qs});
  TestHttpsServer server;
  const std::string body = patternBytes(kRequests * kPart);
  server.handle("GET", "/Setup.pkg", server.serving({body}));
  qputenv("https_proxy", ("http://" + proxy.address()).toUtf8());

  std::mutex mutex;
  std::vector<ProxyLoginQuestion> questions;
  setProxyLoginSource([&](const ProxyLoginQuestion& question, ProxyLoginAnswer answer) {
    // The first answer waits until the proxy has refused all ten.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (proxy.connects().size() < kRequests && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    std::optional<QString> password;
    {
      std::lock_guard lk(mutex);
      if (questions.size() < row.answers.size()) password = row.answers[questions.size()];
      questions.push_back(question);
    }
    answer(password ? std::optional(ProxyLogin{u"tester"_qs, *password}) : std::nullopt);
  });

  QTemporaryDir folder;
  auto session = makeDownloadSession();
  std::vector<DownloadProbe> probes(kRequests);
  for (int i = 0; i < kRequests; ++i) {
    probes[i].start(*session, server.url("/Setup.pkg"),
                    {{"Range", byteRange(i * kPart, (i + 1) * kPart - 1)}},
                    folder.filePath(QString::number(i)),
                    ExpectedRange{i * kPart, (i + 1) * kPart - 1, kRequests * kPart});
  }
  for (auto& probe : probes) ASSERT_TRUE(probe.waitForCompletion());

  std::lock_guard lk(mutex);
  ASSERT_EQ(questions.size(), row.answers.size());
  for (std::size_t i = 0; i < questions.size(); ++i) {
    EXPECT_EQ(questions[i].proxy, proxy.address());
    EXPECT_EQ(questions[i].attempt, static_cast<int>(i) + 1);
    EXPECT_EQ(questions[i].refused, i > 0);
  }
  for (int i = 0; i < kRequests; ++i) {
    const DownloadResponse answer = probes[i].completion();
    if (row.delivered) {
      EXPECT_FALSE(answer.error) << answer.error->description;
      EXPECT_EQ(readFile(answer.destination), body.substr(i * kPart, kPart));
    } else {
      EXPECT_EQ(errorOf(answer), Kind::ProxyAuthentication);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProxyLoginQuestions,
    testing::Values(Row{"OneQuestionForTenRequests", {u"right"_qs}, true},
                    Row{"ARefusedLoginIsAskedForAgain", {u"wrong"_qs, u"right"_qs}, true},
                    Row{"ThreeRefusedLoginsGiveUp", {u"wrong"_qs, u"wrong"_qs, u"wrong"_qs}, false},
                    Row{"NoLoginGivesUp", {std::nullopt}, false}),
    rowName);

}  // namespace
}  // namespace ov::test
