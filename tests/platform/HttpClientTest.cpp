#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <future>

#include "BuildConfig.h"
#include "platform/HttpClient.h"
#include "tests/platform/HttpTestHelpers.h"
#include "tests/support/TestHttpsServer.h"

namespace {

using namespace std::chrono_literals;
using ov::HttpError;
using ov::HttpMethod;
using ovtest::fetch;
using ovtest::TestHttpsServer;

// A plain-HTTP listener that takes one connection and keeps the request's
// exact bytes, since cpp-httplib does not keep the order of header fields.
class RawHttpListener {
 public:
  RawHttpListener() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen");
    }
    port_ = ntohs(address.sin_port);
    received_ = std::async(std::launch::async, [this] { return serveOne(); });
  }
  ~RawHttpListener() { ::close(listener_); }

  QString url(const std::string& path) const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_) + path.c_str();
  }
  int port() const { return port_; }
  std::string request() {
    return received_.wait_for(20s) == std::future_status::ready ? received_.get() : "";
  }

 private:
  std::string serveOne() {
    const int connection = ::accept(listener_, nullptr, nullptr);
    if (connection < 0) return {};
    std::string text;
    char buffer[4096];
    for (;;) {
      const auto end = text.find("\r\n\r\n");
      if (end != std::string::npos) {
        const QByteArray head = QByteArray::fromStdString(text.substr(0, end)).toLower();
        const qsizetype at = head.indexOf("\r\ncontent-length:");
        const long long body =
            at < 0 ? 0 : head.mid(at + 17, head.indexOf("\r", at + 2) - at - 17).trimmed().toLongLong();
        if (text.size() >= end + 4 + static_cast<std::size_t>(body)) break;
      }
      const ssize_t n = ::recv(connection, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
    ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
    ::close(connection);
    return text;
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

void PrintTo(const WireCase& c, std::ostream* os) {
  *os << c.name;
}

class HttpClientWireTest : public testing::TestWithParam<WireCase> {};

TEST_P(HttpClientWireTest, PutsExactlyTheseBytesOnTheWire) {
  RawHttpListener listener;
  const auto result = fetch(listener.url("/prog/util/downloader/get-link.jsp"), GetParam().method,
                            GetParam().fields, GetParam().headers);
  QString expected = QString::fromStdString(GetParam().expected);
  expected.replace("PORT", QString::number(listener.port())).replace("AGENT", "OVDownloader/" OV_VERSION);
  EXPECT_EQ(listener.request(), expected.toStdString());
  EXPECT_EQ(result.answer.text, GetParam().method == HttpMethod::Head ? QString("") : QString("ok"));
}

INSTANTIATE_TEST_SUITE_P(Table, HttpClientWireTest,
                         testing::Values(WireCase{"ServicePost",
                                                  HttpMethod::Post,
                                                  {{"Prod_Name", "Orvalen Suite"}, {"SR_No", "A&B=C"}},
                                                  {{"Content-Type", "application/x-www-form-urlencoded"},
                                                   {"Accept-Encoding", "gzip, deflate"}},
                                                  "POST /prog/util/downloader/get-link.jsp HTTP/1.1\r\n"
                                                  "Host: 127.0.0.1:PORT\r\n"
                                                  "User-Agent: AGENT\r\n"
                                                  "Content-Type: application/x-www-form-urlencoded\r\n"
                                                  "Accept-Encoding: gzip, deflate\r\n"
                                                  "Content-Length: 41\r\n"
                                                  "\r\n"
                                                  "Prod_Name=Orvalen%20Suite&SR_No=A%26B%3DC"},
                                         WireCase{"HeadProbe",
                                                  HttpMethod::Head,
                                                  {},
                                                  {},
                                                  "HEAD /prog/util/downloader/get-link.jsp HTTP/1.1\r\n"
                                                  "Host: 127.0.0.1:PORT\r\n"
                                                  "User-Agent: AGENT\r\n"
                                                  "Accept-Encoding: gzip, deflate\r\n"
                                                  "\r\n"},
                                         WireCase{
                                             "CallerFieldsInCallerOrder",
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

TEST(HttpClientTest, PostsReservedAndNonAsciiCharactersFormEncoded) {
  TestHttpsServer server;
  server.handle("POST", "/form", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("1", "text/plain");
  });
  const ov::FormFields fields = {{"name", QString::fromUtf8("Zoë & Ünal+1/2=½")}, {"empty", ""}};
  const auto result = fetch(server.url("/form"), HttpMethod::Post, fields,
                            {{"Content-Type", "application/x-www-form-urlencoded"}});
  EXPECT_EQ(result.answer.text, QString("1"));
  const auto requests = server.requestsTo("/form");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, "empty=&name=Zo%C3%AB%20%26%20%C3%9Cnal%2B1%2F2%3D%C2%BD");
  EXPECT_EQ(requests[0].form,
            (std::map<std::string, std::string>{{"empty", ""}, {"name", "Zoë & Ünal+1/2=½"}}));
  EXPECT_TRUE(result.onAnswerQueue);
  EXPECT_FALSE(result.onCallingThread);
}

// HTTP's "deflate" is the zlib format, which qCompress writes after a 4-byte length.
std::string deflated(const std::string& text) {
  return qCompress(QByteArray::fromStdString(text)).mid(4).toStdString();
}

std::string gzipped(const std::string& text) {
  std::string out;
  httplib::detail::gzip_compressor().compress(text.data(), text.size(), true,
                                              [&](const char* data, size_t size) {
                                                out.append(data, size);
                                                return true;
                                              });
  return out;
}

class HttpClientEncodingTest : public testing::TestWithParam<std::string> {};

TEST_P(HttpClientEncodingTest, DecodesCompressedAnswers) {
  const std::string text = "https://download.example/Setup.pkg\n" + std::string(2000, 'x');
  const std::string encoding = GetParam();
  TestHttpsServer server;
  server.handle("POST", "/link", [&](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Encoding", encoding);
    response.set_content(encoding == "gzip" ? gzipped(text) : deflated(text), "application/octet-stream");
  });
  const auto result =
      fetch(server.url("/link"), HttpMethod::Post, {{"a", "b"}},
            {{"Content-Type", "application/x-www-form-urlencoded"}, {"Accept-Encoding", "gzip, deflate"}});
  ASSERT_FALSE(result.answer.error.has_value()) << result.answer.error->description;
  EXPECT_EQ(result.answer.text, QString::fromStdString(text));
  EXPECT_EQ(server.requestsTo("/link").at(0).header("Accept-Encoding"), "gzip, deflate");
}

INSTANTIATE_TEST_SUITE_P(Encodings, HttpClientEncodingTest, testing::Values("gzip", "deflate"));

TEST(HttpClientTest, HeadReadsHeaderFieldsWhateverTheirCase) {
  TestHttpsServer server;
  server.handle("GET", "/Setup.pkg", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("CONTENT-LENGTH", "1048576");
    response.set_header("etag", "\"5f-abc\"");
  });
  const auto result = fetch(server.url("/Setup.pkg"), HttpMethod::Head);
  ASSERT_TRUE(result.answer.response.has_value());
  EXPECT_EQ(result.answer.response->statusCode, 200);
  EXPECT_EQ(result.answer.response->value("Content-Length"), "1048576");
  EXPECT_EQ(result.answer.response->value("Etag"), "\"5f-abc\"");
  EXPECT_EQ(result.answer.text, QString(""));
  EXPECT_EQ(server.requestsTo("/Setup.pkg").at(0).method, "HEAD");
}

struct StatusCase {
  int status;
  std::string body;
  std::string contentType;
  QString text;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
  *os << c.status << " " << c.body;
}

class HttpClientStatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(HttpClientStatusTest, StatusCodesAreNotJudged) {
  TestHttpsServer server;
  server.handle("POST", "/status", [](const httplib::Request&, httplib::Response& response) {
    const StatusCase& c = GetParam();
    response.status = c.status;
    response.set_content(c.body, c.contentType);
  });
  const auto result = fetch(server.url("/status"), HttpMethod::Post, {{"a", "1"}});
  ASSERT_TRUE(result.answer.response.has_value());
  EXPECT_EQ(result.answer.response->statusCode, GetParam().status);
  EXPECT_FALSE(result.answer.error.has_value());
  EXPECT_EQ(result.answer.text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientStatusTest,
    testing::Values(StatusCase{500, "ERROR: 000", "text/plain", "ERROR: 000"},
                    StatusCase{404, "", "text/plain", ""},
                    StatusCase{200, "caf\xE9", "text/plain; charset=ISO-8859-1", QString::fromUtf8("café")},
                    StatusCase{200, "\xE2\x82\xAC 5", "text/plain", QString::fromUtf8("€ 5")}));

TEST(HttpClientTest, InvalidUtf8IsAFailureWithTheResponse) {
  TestHttpsServer server;
  server.handle("POST", "/bad", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("caf\xE9", "text/plain; charset=utf-8");
  });
  const auto result = fetch(server.url("/bad"), HttpMethod::Post, {});
  ASSERT_TRUE(result.answer.error.has_value());
  EXPECT_EQ(result.answer.error->kind, HttpError::Kind::Other);
  EXPECT_FALSE(result.answer.text.has_value());
  ASSERT_TRUE(result.answer.response.has_value());
  EXPECT_EQ(result.answer.response->statusCode, 200);
}

TEST(HttpClientTest, AnAnswerBeyond16MiBIsRefused) {
  TestHttpsServer server;
  server.handle("POST", "/huge", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(16 * 1024 * 1024 + 1, 'x'), "text/plain");
  });
  const auto result = fetch(server.url("/huge"), HttpMethod::Post);
  ASSERT_TRUE(result.answer.error.has_value());
  EXPECT_EQ(result.answer.error->kind, HttpError::Kind::Other);
  EXPECT_FALSE(result.answer.text.has_value());
}

TEST(HttpClientTest, CancelAllEndsEveryRequestInFlightWithoutResponse) {
  std::atomic<bool> release{false};
  TestHttpsServer server;
  server.handle("POST", "/slow", [&](const httplib::Request&, httplib::Response& response) {
    server.waitUntil([&] { return release.load(); }, 20s);
    response.set_content("late", "text/plain");
  });
  constexpr int kRequests = 3;
  std::vector<std::future<ovtest::FetchResult>> pending;
  for (int i = 0; i < kRequests; ++i) {
    pending.push_back(
        std::async(std::launch::async, [&] { return fetch(server.url("/slow"), HttpMethod::Post); }));
  }
  ASSERT_TRUE(server.waitUntil([&] { return server.requestsTo("/slow").size() == kRequests; }, 10s));
  ov::sharedHttpClient().cancelAllRequests();
  for (auto& future : pending) {
    const auto result = future.get();
    ASSERT_TRUE(result.answer.error.has_value());
    EXPECT_EQ(result.answer.error->kind, HttpError::Kind::Cancelled);
    EXPECT_FALSE(result.answer.response.has_value());
    EXPECT_FALSE(result.answer.text.has_value());
  }
  release = true;
  server.handle("POST", "/fast", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("fine", "text/plain");
  });
  EXPECT_EQ(fetch(server.url("/fast"), HttpMethod::Post).answer.text, QString("fine"))
      << "the client stays usable after a cancel";
}

TEST(HttpClientTest, NoDataForTheIdleTimeOutFails) {
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
  const auto result = fetch(server.url("/stall"));
  ov::httpSettings().sharedIdleTimeout = saved.sharedIdleTimeout;
  ASSERT_TRUE(result.answer.error.has_value());
  EXPECT_EQ(result.answer.error->kind, HttpError::Kind::TimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
  ASSERT_TRUE(result.answer.response.has_value()) << "the headers had arrived";
  EXPECT_EQ(result.answer.response->statusCode, 200);
}

TEST(HttpClientTest, RequestsReuseOneConnection) {
  TestHttpsServer server;
  server.handle("*", "/ping", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("pong", "text/plain");
  });
  for (const auto method : {HttpMethod::Post, HttpMethod::Head, HttpMethod::Post, HttpMethod::Get}) {
    EXPECT_FALSE(fetch(server.url("/ping"), method).answer.error.has_value());
  }
  EXPECT_EQ(server.requestsTo("/ping").size(), 4u);
  EXPECT_EQ(server.connectionCount(), 1);
}

}  // namespace
