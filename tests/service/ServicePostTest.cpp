#include "tests/service/ServiceFixture.h"

namespace ov::test {
namespace {

using ServicePost = ServiceFixture;

TEST_F(ServicePost, SendsEveryFieldFormEncodedWithTheTwoStandardHeaders) {
  manager->product = QStringLiteral("Brindle & Co/100%=yes+no");
  manager->version = QStringLiteral("Grüße 北京");
  EXPECT_FALSE(manager->queryDownLoadURL().isEmpty());

  const auto requests = requestsTo("get-link.jsp");
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests.front();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.header("Accept-Encoding"), "gzip, deflate");
  EXPECT_EQ(request.field("PRODUCTNAME"), "Brindle & Co/100%=yes+no");
  EXPECT_EQ(request.field("PRODUCTVERSION"), "Grüße 北京");
  EXPECT_EQ(request.field("VERSIONTYPE"), "Retail");
  EXPECT_EQ(request.field("SR"), "SR-1");
  EXPECT_EQ(request.field("VID"), "1.0.0.1312");
  EXPECT_EQ(request.field("LANGUAGE"), "ENU");
  EXPECT_EQ(request.field("platform"), "x64");
  EXPECT_EQ(request.field("ostype"), "Mac");
  EXPECT_EQ(request.form.size(), 8u);
  // Reserved characters travel escaped, never raw.
  EXPECT_NE(request.body.find("PRODUCTNAME=Brindle%20%26%20Co%2F100%25%3Dyes%2Bno"), std::string::npos)
      << request.body;
}

TEST_F(ServicePost, AnErrorStatusWithATextBodyStillReachesTheAnswerHandler) {
  setScenario([](auto& s) {
    s.link = refservice::LinkAnswer::ServerError;
    s.linkStatus = 500;
  });
  bool handled = false;
  const bool result =
      SendHttpPostRequsetString(serviceBase() + "/prog/util/downloader/get-link.jsp",
                                standardServiceHeaders(), {{"SR", "1"}}, [&](const QString& body) {
                                  handled = body.startsWith(QLatin1String("ERROR: 000"));
                                  return true;
                                });
  EXPECT_TRUE(result);
  EXPECT_TRUE(handled);
  EXPECT_TRUE(log.outputLines().contains(QStringLiteral("SendHttpPostRequsetString() Status Code = 500")));
}

TEST_F(ServicePost, WithoutAnAnswerItFailsWithoutAStatusLine) {
  setServiceHostForTesting(QStringLiteral("127.0.0.1:1"));  // nothing listens there
  bool called = false;
  EXPECT_FALSE(SendHttpPostRequsetString(serviceBase() + "/prog/util/downloader/heartbeat.jsp",
                                         standardServiceHeaders(), {}, [&](const QString&) {
                                           called = true;
                                           return true;
                                         }));
  EXPECT_FALSE(called);
  const QStringList lines = log.outputLines();
  const auto failure = lines.indexOf(QStringLiteral("Failure"));
  ASSERT_GE(failure, 0);
  ASSERT_GT(lines.size(), failure + 1);
  EXPECT_FALSE(lines[failure + 1].isEmpty()) << "the error's description follows";
  EXPECT_TRUE(lines.filter(QStringLiteral("Status Code")).isEmpty());
}

TEST_F(ServicePost, GzipAnswersArriveAsPlainText) {
  setScenario([](auto& s) {
    s.gzip = true;
    s.heartbeatText = "45\r\n";
  });
  EXPECT_EQ(manager->queryHeartbeatTime(), 45);
  const auto requests = requestsTo("heartbeat.jsp");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests.front().responseHeader("Content-Encoding"), "gzip");
}

TEST_F(ServicePost, TheServiceBaseIsAlwaysHttpsOnTheConfiguredHost) {
  setServiceHostForTesting(std::nullopt);
  qputenv("OVDOWNLOADER_SERVICE_HOST", "downloads.example.net:8443");
  EXPECT_EQ(serviceBase(), QStringLiteral("https://downloads.example.net:8443"));
  qunsetenv("OVDOWNLOADER_SERVICE_HOST");
  EXPECT_TRUE(serviceBase().startsWith(QLatin1String("https://")));
  EXPECT_NE(serviceBase(), QStringLiteral("https://"));
}

}  // namespace
}  // namespace ov::test
