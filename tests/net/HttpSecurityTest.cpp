#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include "net/HttpClient.h"
#include "tests/net/HttpTestHelpers.h"
#include "tests/support/Rows.h"
#include "tests/support/TestHttpsServer.h"
#include "tools/certs/Certificates.h"

namespace ov::test {
namespace {

using test::PrintTo;

enum class Client { Shared, Download };

const char* clientName(Client client) {
  return client == Client::Shared ? "Shared" : "Download";
}
void PrintTo(Client client, std::ostream* os) {
  *os << clientName(client);
}

struct Outcome {
  std::optional<Kind> error;
  std::optional<int> status;           // of the final answer, on success
  std::optional<std::string> content;  // the text, or the file written
  std::size_t served = 0;              // requests that reached the server
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "{error " << (o.error ? static_cast<int>(*o.error) : -1) << ", status " << o.status.value_or(0)
      << ", content '" << o.content.value_or("(none)") << "', served " << o.served << "}";
}

struct SecurityCase {
  const char* name;
  const char* target;  // a path on the server, or "file" / "closed" (port 1, where nothing listens)
  Outcome expected;
  bool trustAnotherCa = false;
};

class HttpSecurityTest : public testing::TestWithParam<std::tuple<Client, SecurityCase>> {
 protected:
  Outcome run(const QString& url) {
    const auto judged = [](const auto& answer, std::optional<std::string> content) {
      const bool ok = answer.response && !answer.error;
      return Outcome{errorOf(answer), ok ? std::optional(answer.response->statusCode) : std::nullopt,
                     content};
    };
    if (std::get<Client>(GetParam()) == Client::Shared) {
      const auto answer = fetch(url);
      return judged(answer, answer.text ? std::optional(answer.text->toStdString()) : std::nullopt);
    }
    auto session = makeDownloadSession();
    DownloadProbe probe;
    const QString destination = folder_.filePath("out/file.bin");
    probe.start(*session, url, {}, destination);
    EXPECT_TRUE(probe.waitForCompletion());
    EXPECT_TRUE(!probe.completion().error || leftovers(folder_.filePath("out")).isEmpty())
        << "a failure leaves nothing";
    return judged(probe.completion(),
                  QFile::exists(destination) ? std::optional(readFile(destination)) : std::nullopt);
  }

  QTemporaryDir folder_;
};

TEST_P(HttpSecurityTest, OnlyVerifiedHttpsIsFollowed) {
  const SecurityCase& c = std::get<SecurityCase>(GetParam());
  TestHttpsServer server;
  const QString secret = folder_.filePath("secret.txt");
  writeWholeFile(secret, "secret");
  const QString fileUrl = QUrl::fromLocalFile(secret).toString();
  const auto redirect = [&](const std::string& path, const QString& to) {
    server.handle("GET", path, [to = to.toStdString()](const httplib::Request&, httplib::Response& response) {
      response.set_redirect(to, 302);
    });
  };
  redirect("/to-file", fileUrl);
  // Plain http on the same port: whoever is on the path could answer it.
  redirect("/to-http", server.url("/new").replace(QStringLiteral("https:"), QStringLiteral("http:")));
  redirect("/old", QStringLiteral("/new"));
  redirect("/loop", QStringLiteral("/loop"));
  server.handle("GET", "/new", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("moved", "text/plain");
  });
  if (c.trustAnotherCa) {
    QTemporaryDir other;
    httpSettings().caFile =
        QString::fromStdString(ovcerts::makeCertificates(other.path().toStdString()).caCertificate);
  }
  const std::string target = c.target;
  Outcome outcome = run(target == "file"     ? fileUrl
                        : target == "closed" ? QStringLiteral("https://127.0.0.1:1/x")
                                             : server.url(target));
  httpSettings().caFile = QString::fromStdString(server.caFile());
  outcome.served = server.requests().size();
  EXPECT_EQ(outcome, c.expected);
  EXPECT_EQ(readFile(secret), "secret");
}

const SecurityCase kCases[] = {
    {"FileUrl", "file", {Kind::UnsupportedUrl, std::nullopt, std::nullopt, 0}},
    {"RedirectToFile", "/to-file", {Kind::UnsupportedUrl, std::nullopt, std::nullopt, 1}},
    {"RedirectToHttp", "/to-http", {Kind::UnsupportedUrl, std::nullopt, std::nullopt, 1}},
    {"RedirectFollowed", "/old", {std::nullopt, 200, "moved", 2}},
    {"RedirectLoopEndsAfterTen", "/loop", {Kind::Other, std::nullopt, std::nullopt, 11}},
    {"CertificateFromAnotherCa", "/new", {Kind::Tls, std::nullopt, std::nullopt, 0}, true},
    {"ClosedPort", "closed", {Kind::Connection, std::nullopt, std::nullopt, 0}},
};

INSTANTIATE_TEST_SUITE_P(Table, HttpSecurityTest,
                         testing::Combine(testing::Values(Client::Shared, Client::Download),
                                          testing::ValuesIn(kCases)),
                         [](const auto& info) {
                           return std::string(clientName(std::get<Client>(info.param))) +
                                  std::get<SecurityCase>(info.param).name;
                         });

}  // namespace
}  // namespace ov::test
