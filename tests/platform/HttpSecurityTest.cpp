#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include "platform/HttpClient.h"
#include "tests/platform/HttpTestHelpers.h"
#include "tests/support/TestHttpsServer.h"
#include "tools/certs/Certificates.h"

namespace {

using Kind = ov::HttpError::Kind;
using ovtest::TestHttpsServer;

enum class Client { Shared, Download };

enum class Case {
  FileUrl,
  RedirectToFile,
  RedirectToHttp,
  RedirectFollowed,
  RedirectLoop,
  CertificateFromAnotherCa,
  ClosedPort
};

// A port on which nothing listens: bound, then released.
int closedPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(s);
  return ntohs(address.sin_port);
}

struct Outcome {
  std::optional<Kind> error;
  std::optional<int> status;
  std::optional<std::string> content;  // the text, or the file written
};

class HttpSecurityTest : public testing::TestWithParam<std::tuple<Client, Case>> {
 protected:
  Outcome run(const QString& url) {
    if (std::get<Client>(GetParam()) == Client::Shared) {
      const auto result = ovtest::fetch(url);
      Outcome outcome;
      if (result.answer.error) outcome.error = result.answer.error->kind;
      if (result.answer.response) outcome.status = result.answer.response->statusCode;
      if (result.answer.text) outcome.content = result.answer.text->toStdString();
      return outcome;
    }
    auto session = ov::makeDownloadSession();
    ovtest::DownloadProbe probe;
    const QString destination = folder_.filePath("out/file.bin");
    probe.start(*session, url, {}, destination);
    if (!probe.waitForCompletion()) {
      ADD_FAILURE() << "no completion";
      return {};
    }
    Outcome outcome;
    const auto done = probe.completion();
    if (done.error) outcome.error = done.error->kind;
    if (done.response) outcome.status = done.response->statusCode;
    if (QFile::exists(destination)) outcome.content = ovtest::readFile(destination);
    if (done.error) {
      EXPECT_EQ(ovtest::entriesBesides(folder_.filePath("out"), {}), QStringList())
          << "a failure leaves nothing";
    }
    return outcome;
  }

  QTemporaryDir folder_;
};

TEST_P(HttpSecurityTest, OnlyVerifiedHttpAndHttpsAreFetched) {
  TestHttpsServer server;
  const QString secret = folder_.filePath("secret.txt");
  {
    QFile file(secret);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("secret");
  }
  const QString fileUrl = QUrl::fromLocalFile(secret).toString();
  server.handle("GET", "/to-file", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(fileUrl.toStdString(), 302);
  });
  server.handle("GET", "/to-http", [&](const httplib::Request&, httplib::Response& response) {
    // Plain http on the same port: whoever is on the path could answer it.
    response.set_redirect(
        server.url("/new").replace(QStringLiteral("https:"), QStringLiteral("http:")).toStdString(), 302);
  });
  server.handle("GET", "/old", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/new", 301);
  });
  server.handle("GET", "/new", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("moved", "text/plain");
  });
  server.handle("GET", "/loop", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/loop", 302);
  });

  Outcome outcome;
  switch (std::get<Case>(GetParam())) {
    case Case::FileUrl:
      outcome = run(fileUrl);
      EXPECT_EQ(outcome.error, Kind::UnsupportedUrl);
      EXPECT_FALSE(outcome.status.has_value());
      EXPECT_FALSE(outcome.content.has_value());
      break;
    case Case::RedirectToFile:
      outcome = run(server.url("/to-file"));
      EXPECT_EQ(outcome.error, Kind::UnsupportedUrl);
      EXPECT_FALSE(outcome.content.has_value());
      break;
    case Case::RedirectToHttp:
      outcome = run(server.url("/to-http"));
      EXPECT_EQ(outcome.error, Kind::UnsupportedUrl);
      EXPECT_FALSE(outcome.content.has_value());
      EXPECT_TRUE(server.requestsTo("/new").empty());
      break;
    case Case::RedirectFollowed:
      outcome = run(server.url("/old"));
      EXPECT_EQ(outcome.error, std::nullopt);
      EXPECT_EQ(outcome.status, 200) << "the final response is reported";
      EXPECT_EQ(outcome.content, "moved");
      break;
    case Case::RedirectLoop:
      outcome = run(server.url("/loop"));
      EXPECT_EQ(outcome.error, Kind::Other);
      EXPECT_EQ(server.requestsTo("/loop").size(), 11u) << "the first request and 10 redirects";
      break;
    case Case::CertificateFromAnotherCa: {
      QTemporaryDir otherFolder;
      ov::httpSettings().caFile =
          QString::fromStdString(ovcerts::makeCertificates(otherFolder.path().toStdString()).caCertificate);
      outcome = run(server.url("/new"));
      ov::httpSettings().caFile = QString::fromStdString(server.caFile());
      EXPECT_EQ(outcome.error, Kind::Tls);
      EXPECT_FALSE(outcome.status.has_value());
      EXPECT_TRUE(server.requestsTo("/new").empty());
      break;
    }
    case Case::ClosedPort:
      outcome = run(QStringLiteral("https://127.0.0.1:%1/x").arg(closedPort()));
      EXPECT_EQ(outcome.error, Kind::Connection);
      EXPECT_FALSE(outcome.status.has_value());
      break;
  }
  QFile file(secret);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "secret");
}

std::string caseName(const testing::TestParamInfo<std::tuple<Client, Case>>& info) {
  static const char* const kCases[] = {"FileUrl",          "RedirectToFile", "RedirectToHttp",
                                       "RedirectFollowed", "RedirectLoop",   "CertificateFromAnotherCa",
                                       "ClosedPort"};
  return std::string(std::get<Client>(info.param) == Client::Shared ? "Shared" : "Download") +
         kCases[static_cast<int>(std::get<Case>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Table, HttpSecurityTest,
                         testing::Combine(testing::Values(Client::Shared, Client::Download),
                                          testing::Values(Case::FileUrl, Case::RedirectToFile,
                                                          Case::RedirectToHttp, Case::RedirectFollowed,
                                                          Case::RedirectLoop, Case::CertificateFromAnotherCa,
                                                          Case::ClosedPort)),
                         caseName);

}  // namespace
