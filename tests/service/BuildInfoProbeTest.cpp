#include "tests/service/ServiceFixture.h"
#include "tests/support/TestHttpsServer.h"

namespace ov::test {
namespace {

using BuildInfoProbe = ServiceFixture;

std::string installerLink(const refservice::ReferenceService& service) {
  return service.installerUrl("Setup.pkg");
}

TEST_F(BuildInfoProbe, ReadsSizeAndTagOfA200) {
  EXPECT_TRUE(manager->getBuildInfo(QString::fromStdString(installerLink(*service))));
  EXPECT_EQ(manager->i64FileSize.load(), kInstallerSize);
  EXPECT_TRUE(manager->szETag.startsWith(u'"')) << "the tag is kept exactly, quotes included";
  EXPECT_TRUE(
      log.outputLines().contains(QStringLiteral("SendHttpPostRequset to getBuildInfo, Status Code = 200")));
  EXPECT_TRUE(log.systemLines().contains(
      QStringLiteral("[OVDownloader]getBuildInfo succeed! File Size : 1000003, ETag : ") + manager->szETag));
  const auto heads = service->requests();
  ASSERT_EQ(heads.size(), 1u);
  EXPECT_EQ(heads.front().method, "HEAD");
  EXPECT_EQ(heads.front().target, "/installers/Setup.pkg");
}

struct LengthCase {
  const char* contentLength;
  int status;
  std::int64_t size;
  bool result;
};

class BuildInfoLength : public ServiceFixture, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(BuildInfoLength, TakesTheDecimalParseOfContentLengthWhateverTheStatus) {
  setScenario([&](auto& s) {
    s.installer.headContentLength = GetParam().contentLength;
    s.installer.headStatus = GetParam().status;
  });
  EXPECT_EQ(manager->getBuildInfo(QString::fromStdString(installerLink(*service))), GetParam().result);
  EXPECT_EQ(manager->i64FileSize.load(), GetParam().size);
  if (!GetParam().result) {
    EXPECT_TRUE(log.systemLines().contains(QStringLiteral("[OVDownloader]getBuildInfo failed!")));
  }
}

INSTANTIATE_TEST_SUITE_P(Values, BuildInfoLength,
                         ::testing::Values(LengthCase{"1048576", 200, 1048576, true},
                                           LengthCase{"+7", 200, 7, true}, LengthCase{"4x", 200, 0, true},
                                           LengthCase{"777", 404, 777, false}));

TEST_F(BuildInfoProbe, ANegativeLengthIsABrokenAnswer) {
  // libcurl refuses a negative Content-Length as a broken answer, so there is
  // no response to read: the probe fails and the size stays as it was.
  setScenario([](auto& s) { s.installer.headContentLength = "-5"; });
  EXPECT_FALSE(manager->getBuildInfo(QString::fromStdString(installerLink(*service))));
  EXPECT_EQ(manager->i64FileSize.load(), 0);
}

TEST_F(BuildInfoProbe, WithoutATagTheEarlierTagStays) {
  setScenario([](auto& s) { s.installer.sendEtag = false; });
  EXPECT_TRUE(manager->getBuildInfo(QString::fromStdString(installerLink(*service))));
  EXPECT_TRUE(manager->szETag.isEmpty());
  EXPECT_TRUE(log.systemLines().contains(
      QStringLiteral("[OVDownloader]getBuildInfo succeed! File Size : 1000003, ETag : ")));
}

TEST_F(BuildInfoProbe, WithoutAResponseNothingChanges) {
  manager->i64FileSize = 12;
  manager->szETag = QStringLiteral("\"old\"");
  EXPECT_FALSE(manager->getBuildInfo(QStringLiteral("https://127.0.0.1:1/Setup.pkg")));
  EXPECT_EQ(manager->i64FileSize.load(), 12);
  EXPECT_EQ(manager->szETag, QStringLiteral("\"old\""));
  EXPECT_TRUE(log.outputLines().filter(QStringLiteral("getBuildInfo")).isEmpty());
}

// Header names are matched without regard to case, whatever case the server writes.
class BuildInfoHeaderCase : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(BuildInfoHeaderCase, ReadsHeadersInAnyLetterCase) {
  ovtest::TestHttpsServer server;
  const auto [lengthName, tagName] = GetParam();
  server.handle("GET", "/Setup.pkg", [&](const httplib::Request&, httplib::Response& response) {
    response.set_header(lengthName, "2048");
    response.set_header(tagName, "\"v2\"");
  });
  LogCapture log;
  auto manager = OVDownloadMgr::makeForTesting();
  EXPECT_TRUE(manager->getBuildInfo(server.url("/Setup.pkg")));
  EXPECT_EQ(manager->i64FileSize.load(), 2048);
  EXPECT_EQ(manager->szETag, QStringLiteral("\"v2\""));
}

INSTANTIATE_TEST_SUITE_P(Cases, BuildInfoHeaderCase,
                         ::testing::Values(std::pair{"content-length", "etag"},
                                           std::pair{"CONTENT-LENGTH", "ETAG"},
                                           std::pair{"Content-Length", "ETag"}));

}  // namespace
}  // namespace ov::test
