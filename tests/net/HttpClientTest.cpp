#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <QByteArray>
#include <future>

#include "BuildConfig.h"
#include "net/HttpClient.h"
#include "tests/net/HttpTestHelpers.h"
#include "tests/support/Rows.h"
#include "tests/support/TestHttpsServer.h"
#include "tools/refservice/Gzip.h"

namespace ov::test {
namespace {

using test::PrintTo;

// Takes one connection on `listener`, keeps the request's exact bytes (cpp-httplib
// does not keep the order of header fields) up to the end its Content-Length
// gives, answers "ok" and closes both sockets.
std::string takeOneRequest(int listener) {
  const int connection = ::accept(listener, nullptr, nullptr);
  std::string text;
  const auto complete = [&] {
    const auto end = text.find("\r\n\r\n"), length = text.find("Content-Length: ");
    return end != std::string::npos &&
           text.size() >= end + 4 + (length < end ? std::stoul(text.substr(length + 16)) : 0);
  };
  char buffer[4096];
  for (ssize_t n; !complete() && (n = ::recv(connection, buffer, sizeof(buffer), 0)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
  ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
  ::close(connection);
  ::close(listener);
  return text;
}

struct WireCase {
  std::string name;
  HttpMethod method;
  FormFields fields;
  HttpHeaders headers;
  std::string expected;  // with PORT and AGENT for the listener's port and our User-Agent
};

class HttpClientWireTest : public testing::TestWithParam<WireCase> {};

TEST_P(HttpClientWireTest, PutsExactlyTheseBytesOnTheWire) {
  const auto [listener, port] = listeningSocket();
  auto received = std::async(std::launch::async, [listener] { return takeOneRequest(listener); });
  const auto answer = fetch(QStringLiteral("http://127.0.0.1:%1/prog/util/downloader/get-link.jsp").arg(port),
                            GetParam().method, GetParam().fields, GetParam().headers);
  QString expected = QString::fromStdString(GetParam().expected);
  expected.replace("PORT", QString::number(port)).replace("AGENT", "OVDownloader/" OV_VERSION);
  ASSERT_EQ(received.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(received.get(), expected.toStdString());
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
    rowName);

std::string encoded(const std::string& text, const std::string& encoding) {
  // HTTP's "deflate" is the zlib format, which qCompress writes after a 4-byte length.
  if (encoding == "deflate") return qCompress(QByteArray::fromStdString(text)).mid(4).toStdString();
  return encoding == "gzip" ? refservice::gzipCompress(text) : text;
}

struct AnswerCase {
  std::string name;
  std::string body;
  std::string contentType;
  std::string encoding;
  std::optional<QString> text;  // nothing: a failure of kind Other that keeps the response
};

class HttpClientAnswerTest : public testing::TestWithParam<AnswerCase> {};

TEST_P(HttpClientAnswerTest, TurnsTheBodyIntoText) {
  const AnswerCase& c = GetParam();
  TestHttpsServer server;
  server.handle("POST", "/answer", [&](const httplib::Request&, httplib::Response& response) {
    if (!c.encoding.empty()) response.set_header("Content-Encoding", c.encoding);
    response.set_content(encoded(c.body, c.encoding), c.contentType);
  });
  const auto answer = fetch(server.url("/answer"), HttpMethod::Post, {{"a", "1"}});
  EXPECT_EQ(answer.response ? answer.response->statusCode : 0, 200);
  EXPECT_EQ(answer.text, c.text);
  EXPECT_EQ(errorOf(answer), c.text ? std::nullopt : std::optional(Kind::Other));
}

const std::string kLink = "https://download.example/Setup.pkg\n" + std::string(2000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientAnswerTest,
    testing::Values(
        AnswerCase{"Utf8ByDefault", "\xE2\x82\xAC 5", "text/plain", "", QString::fromUtf8("€ 5")},
        AnswerCase{"Latin1", "caf\xE9", "text/html;Charset=\"latin1\"", "", QString::fromUtf8("café")},
        AnswerCase{"InvalidUtf8", "caf\xE9", "text/plain; charset=utf-8", "", std::nullopt},
        AnswerCase{"TruncatedUtf8", "\xE2\x82", "text/plain", "", std::nullopt},
        AnswerCase{"UnknownCharset", "abc", "text/plain; charset=x-no-such-set", "", std::nullopt},
        AnswerCase{"Gzip", kLink, "text/plain", "gzip", QString::fromStdString(kLink)},
        AnswerCase{"Deflate", kLink, "text/plain", "deflate", QString::fromStdString(kLink)},
        AnswerCase{"Beyond16MiB", std::string(16 * 1024 * 1024 + 1, 'x'), "text/plain", "", std::nullopt}),
    rowName);

TEST(HttpClientTest, CancelAllEndsEveryRequestInFlightWithoutResponse) {
  std::atomic<bool> release{false};
  TestHttpsServer server;
  server.handle("POST", "/slow", [&](const httplib::Request&, httplib::Response& response) {
    server.waitUntil([&] { return release.load(); }, 20s);
    response.set_content("late", "text/plain");
  });
  std::vector<std::future<DataResponse>> pending;
  for (int i = 0; i < 3; ++i)
    pending.push_back(
        std::async(std::launch::async, [&] { return fetch(server.url("/slow"), HttpMethod::Post); }));
  ASSERT_TRUE(server.waitUntil([&] { return server.requestsTo("/slow").size() == 3; }, 10s));
  sharedHttpClient().cancelAllRequests();
  for (auto& future : pending) {
    const auto answer = future.get();
    EXPECT_EQ(errorOf(answer), Kind::Cancelled);
    EXPECT_FALSE(answer.response.has_value());
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
  const auto saved = httpSettings();
  httpSettings().sharedIdleTimeout = 300ms;
  const auto started = std::chrono::steady_clock::now();
  const auto answer = fetch(server.url("/stall"));
  httpSettings().sharedIdleTimeout = saved.sharedIdleTimeout;
  EXPECT_EQ(errorOf(answer), Kind::TimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
  EXPECT_EQ(answer.response ? answer.response->statusCode : 0, 200) << "the headers are kept";
}

}  // namespace
}  // namespace ov::test
