#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <QByteArray>
#include <future>

#include "BuildConfig.h"
#include "platform/HttpClient.h"
#include "tests/platform/HttpTestHelpers.h"
#include "tests/support/TestHttpsServer.h"

using namespace ov;

namespace {

using namespace std::chrono_literals;
using ov::HttpMethod;
using ovtest::errorOf;
using ovtest::fetch;
using ovtest::Kind;
using ovtest::TestHttpsServer;

// A plain-HTTP listener that takes one connection and keeps the request's
// exact bytes, since cpp-httplib does not keep the order of header fields.
class RawHttpListener {
 public:
  RawHttpListener() {
    std::tie(listener_, port_) = ovtest::loopbackSocket(true);
    received_ = std::async(std::launch::async, [this] { return serveOne(); });
  }
  ~RawHttpListener() { ::close(listener_); }

  QString url() const {
    return QStringLiteral("http://127.0.0.1:%1/prog/util/downloader/get-link.jsp").arg(port_);
  }
  int port() const { return port_; }
  std::string request() {
    return received_.wait_for(20s) == std::future_status::ready ? received_.get() : "";
  }

 private:
  // Reads the head and as many body bytes as its Content-Length says, then answers "ok".
  std::string serveOne() {
    const int connection = ::accept(listener_, nullptr, nullptr);
    std::string text;
    char buffer[4096];
    for (ssize_t n; !complete(text) && (n = ::recv(connection, buffer, sizeof(buffer), 0)) > 0;)
      text.append(buffer, static_cast<std::size_t>(n));
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
    ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
    ::close(connection);
    return text;
  }
  static bool complete(const std::string& text) {
    const auto end = text.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    const QByteArray head = QByteArray::fromStdString(text.substr(0, end)).toLower();
    const qsizetype at = head.indexOf("\r\ncontent-length:");
    const long long body =
        at < 0 ? 0 : head.mid(at + 17, head.indexOf("\r", at + 2) - at - 17).trimmed().toLongLong();
    return text.size() >= end + 4 + static_cast<std::size_t>(body);
  }

  int listener_ = -1;
  int port_ = 0;
  std::future<std::string> received_;
};

struct WireCase {
  std::string name;
  HttpMethod method;
  ov::FormFields fields;
  ov::HttpHeaders headers;
  std::string expected;  // with PORT and AGENT for the listener's port and our User-Agent
};

class HttpClientWireTest : public testing::TestWithParam<WireCase> {};

TEST_P(HttpClientWireTest, PutsExactlyTheseBytesOnTheWire) {
  RawHttpListener listener;
  const auto answer = fetch(listener.url(), GetParam().method, GetParam().fields, GetParam().headers);
  QString expected = QString::fromStdString(GetParam().expected);
  expected.replace("PORT", QString::number(listener.port())).replace("AGENT", "OVDownloader/" OV_VERSION);
  EXPECT_EQ(listener.request(), expected.toStdString());
  EXPECT_EQ(answer.text, GetParam().method == HttpMethod::Head ? QString("") : QString("ok"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientWireTest,
    testing::Values(
        // Form encoding: UTF-8, and every byte but A-Z a-z 0-9 - . _ ~ percent-encoded.
        WireCase{
            "ServicePost",
            HttpMethod::Post,
            {{"Prod_Name", "Orvalen Suite"},
             {"SR_No", "A&B=C"},
             {"Empty", ""},
             {"Text", QString::fromUtf8("Zoë ½+1/2\r\n~-._")}},
            {{"Content-Type", "application/x-www-form-urlencoded"}, {"Accept-Encoding", "gzip, deflate"}},
            "POST /prog/util/downloader/get-link.jsp HTTP/1.1\r\n"
            "Host: 127.0.0.1:PORT\r\n"
            "User-Agent: AGENT\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Accept-Encoding: gzip, deflate\r\n"
            "Content-Length: 89\r\n"
            "\r\n"
            "Empty=&Prod_Name=Orvalen%20Suite&SR_No=A%26B%3DC&Text=Zo%C3%AB%20%C2%BD%2B1%2F2%0D%0A~-._"},
        WireCase{"HeadProbe",
                 HttpMethod::Head,
                 {},
                 {},
                 "HEAD /prog/util/downloader/get-link.jsp HTTP/1.1\r\n"
                 "Host: 127.0.0.1:PORT\r\n"
                 "User-Agent: AGENT\r\n"
                 "Accept-Encoding: gzip, deflate\r\n"
                 "\r\n"},
        WireCase{"CallerFieldsInCallerOrder",
                 HttpMethod::Get,
                 {{"ignored", "for GET"}},
                 {{"X-B", "2"}, {"Accept-Encoding", "identity"}, {"X-A", "1"}},
                 "GET /prog/util/downloader/get-link.jsp HTTP/1.1\r\n"
                 "Host: 127.0.0.1:PORT\r\n"
                 "User-Agent: AGENT\r\n"
                 "X-B: 2\r\n"
                 "Accept-Encoding: identity\r\n"
                 "X-A: 1\r\n"
                 "\r\n"}),
    [](const testing::TestParamInfo<WireCase>& info) { return info.param.name; });

std::string encoded(const std::string& text, const std::string& encoding) {
  // HTTP's "deflate" is the zlib format, which qCompress writes after a 4-byte length.
  if (encoding == "deflate") return qCompress(QByteArray::fromStdString(text)).mid(4).toStdString();
  if (encoding != "gzip") return text;
  std::string out;
  httplib::detail::gzip_compressor().compress(text.data(), text.size(), true,
                                              [&](const char* data, size_t size) {
                                                out.append(data, size);
                                                return true;
                                              });
  return out;
}

struct AnswerCase {
  std::string name;
  int status;
  std::string body;
  std::string contentType;
  std::string encoding;
  std::optional<QString> text;  // nothing: a failure of kind Other that keeps the response
  std::size_t copies = 1;       // of the body, sent one after the other
};

class HttpClientAnswerTest : public testing::TestWithParam<AnswerCase> {};

TEST_P(HttpClientAnswerTest, TurnsTheBodyIntoTextWithoutJudgingTheStatus) {
  const AnswerCase& c = GetParam();
  TestHttpsServer server;
  server.handle("POST", "/answer", [&](const httplib::Request&, httplib::Response& response) {
    response.status = c.status;
    if (!c.encoding.empty()) response.set_header("Content-Encoding", c.encoding);
    std::string body;
    for (std::size_t i = 0; i < c.copies; ++i) body += c.body;
    response.set_content(encoded(body, c.encoding), c.contentType);
  });
  const auto answer = fetch(server.url("/answer"), HttpMethod::Post, {{"a", "1"}});
  ASSERT_TRUE(answer.response.has_value());
  EXPECT_EQ(answer.response->statusCode, c.status);
  EXPECT_EQ(answer.text, c.text);
  EXPECT_EQ(errorOf(answer), c.text ? std::nullopt : std::optional(Kind::Other));
}

const std::string kLink = "https://download.example/Setup.pkg\n" + std::string(2000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientAnswerTest,
    testing::Values(
        AnswerCase{"ErrorStatus", 500, "ERROR: 000", "text/plain", "", QString("ERROR: 000")},
        AnswerCase{"EmptyBody", 404, "", "text/plain", "", QString("")},
        AnswerCase{"Utf8ByDefault", 200, "\xE2\x82\xAC 5", "text/plain", "", QString::fromUtf8("€ 5")},
        AnswerCase{"Latin1", 200, "caf\xE9", "text/html;Charset=\"latin1\"", "", QString::fromUtf8("café")},
        AnswerCase{"InvalidUtf8", 200, "caf\xE9", "text/plain; charset=utf-8", "", std::nullopt},
        AnswerCase{"TruncatedUtf8", 200, "\xE2\x82", "text/plain", "", std::nullopt},
        AnswerCase{"UnknownCharset", 200, "abc", "text/plain; charset=x-no-such-set", "", std::nullopt},
        AnswerCase{"Gzip", 200, kLink, "text/plain", "gzip", QString::fromStdString(kLink)},
        AnswerCase{"Deflate", 200, kLink, "text/plain", "deflate", QString::fromStdString(kLink)},
        AnswerCase{"Beyond16MiB", 200, "x", "text/plain", "", std::nullopt, 16 * 1024 * 1024 + 1}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

TEST(HttpClientTest, CancelAllEndsEveryRequestInFlightWithoutResponse) {
  std::atomic<bool> release{false};
  TestHttpsServer server;
  server.handle("POST", "/slow", [&](const httplib::Request&, httplib::Response& response) {
    server.waitUntil([&] { return release.load(); }, 20s);
    response.set_content("late", "text/plain");
  });
  std::vector<std::future<ov::DataResponse>> pending;
  for (int i = 0; i < 3; ++i)
    pending.push_back(
        std::async(std::launch::async, [&] { return fetch(server.url("/slow"), HttpMethod::Post); }));
  ASSERT_TRUE(server.waitUntil([&] { return server.requestsTo("/slow").size() == 3; }, 10s));
  ov::sharedHttpClient().cancelAllRequests();
  for (auto& future : pending) {
    const auto answer = future.get();
    EXPECT_EQ(errorOf(answer), Kind::Cancelled);
    EXPECT_FALSE(answer.response.has_value());
    EXPECT_FALSE(answer.text.has_value());
  }
  release = true;
  EXPECT_EQ(fetch(server.url("/slow"), HttpMethod::Post).text, QString("late"))
      << "still usable after a cancel";
}

TEST(HttpClientTest, NoDataForTheIdleTimeOutFailsWithTheHeadersKept) {
  TestHttpsServer server;
  server.handle("GET", "/stall", [&](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("text/plain", [&](size_t offset, httplib::DataSink& sink) {
      if (offset > 0 && !server.pause(5s)) return false;
      sink.write("a", 1);
      return true;
    });
  });
  const auto saved = ov::httpSettings();
  ov::httpSettings().sharedIdleTimeout = 300ms;
  const auto started = std::chrono::steady_clock::now();
  const auto answer = fetch(server.url("/stall"));
  ov::httpSettings().sharedIdleTimeout = saved.sharedIdleTimeout;
  EXPECT_EQ(errorOf(answer), Kind::TimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
  ASSERT_TRUE(answer.response.has_value());
  EXPECT_EQ(answer.response->statusCode, 200);
}

// The service calls and the size probe share one connection: no TLS handshake each.
TEST(HttpClientTest, RequestsReuseOneConnection) {
  TestHttpsServer server;
  server.handle("*", "/ping", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("pong", "text/plain");
  });
  for (const auto method : {HttpMethod::Post, HttpMethod::Head, HttpMethod::Post, HttpMethod::Get})
    EXPECT_FALSE(fetch(server.url("/ping"), method).error.has_value());
  EXPECT_EQ(server.requestsTo("/ping").size(), 4u);
  EXPECT_EQ(server.connectionCount(), 1);
}

}  // namespace
