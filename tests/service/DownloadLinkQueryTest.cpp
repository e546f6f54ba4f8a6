#include "tests/service/ServiceFixture.h"

namespace ov::test {
namespace {

struct LinkCase {
  const char* name;
  const char* answer;
  const char* link;                                 // what the query returns
  std::optional<ERR_ID_Query_Download_URL> reason;  // recorded reason afterwards
  std::optional<const char*> newDownloader;         // newDownloaderURL afterwards
};

constexpr auto kServer = ERR_ID_Query_Download_URL::EQDU_SERVER_ERROR;
constexpr auto kUpdate = ERR_ID_Query_Download_URL::EQDU_NEED_UPDATE;

class DownloadLinkQuery : public ServiceFixture, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(DownloadLinkQuery, InterpretsTheAnswer) {
  const LinkCase& c = GetParam();
  setScenario([&](auto& s) {
    s.link = refservice::LinkAnswer::RawText;
    s.linkText = c.answer;
  });
  EXPECT_EQ(manager->queryDownLoadURL(), QString::fromUtf8(c.link));
  EXPECT_EQ(manager->queryDownloadURLErrorID, c.reason);
  if (c.newDownloader) {
    EXPECT_EQ(manager->newDownloaderURL, QString::fromUtf8(*c.newDownloader));
  } else {
    EXPECT_FALSE(manager->newDownloaderURL.has_value());
  }

  const QStringList lines = log.systemLines();
  if (*c.link != '\0') {
    EXPECT_TRUE(
        lines.contains(QStringLiteral("[OVDownloader]queryDownLoadURL succeed! retrivedDownloadURL : ") +
                       QString::fromUtf8(c.link)));
  } else {
    EXPECT_TRUE(lines.contains(QStringLiteral("[OVDownloader]queryDownLoadURL failed!")));
  }
  if (c.reason == kUpdate) {
    EXPECT_TRUE(lines.contains(QStringLiteral("[OVDownloader]Need Update, new downloader URL : ") +
                               QString::fromUtf8(*c.newDownloader)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DownloadLinkQuery,
    ::testing::Values(
        LinkCase{
            "LinkWithCrLf", "http://cdn.example/x/Setup.pkg\r\n", "https://cdn.example/x/Setup.pkg", {}, {}},
        LinkCase{
            "HttpsLinkUnchanged", "https://cdn.example/Setup.pkg", "https://cdn.example/Setup.pkg", {}, {}},
        LinkCase{"UpdateWithLink", "ERROR: 001\r\nhttp://cdn.example/NewDownloader.dmg", "", kUpdate,
                 "https://cdn.example/NewDownloader.dmg"},
        LinkCase{"UpdateWithoutLink", "ERROR: 001", "", kServer, {}},
        LinkCase{"ServerErrorWinsOverALink", "ERROR: 000 https://cdn.example/Setup.pkg", "", kServer, {}},
        LinkCase{"CapitalSchemeIsNoLink", "HTTP://CDN.EXAMPLE/SETUP.PKG", "", kServer, {}},
        LinkCase{"EveryHttpIsRewritten",
                 "see http://a.example/get?u=http://b.example/Setup.pkg",
                 "see https://a.example/get?u=https://b.example/Setup.pkg",
                 {},
                 {}},
        LinkCase{"LoneLineFeedStays",
                 "https://cdn.example/Setup.pkg\n",
                 "https://cdn.example/Setup.pkg\n",
                 {},
                 {}},
        LinkCase{"CrLfInsideIsRemoved",
                 "https://cdn.exa\r\nmple/Setup.pkg",
                 "https://cdn.example/Setup.pkg",
                 {},
                 {}},
        LinkCase{"Empty", "", "", kServer, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceFixture, AReasonSurvivesALaterSuccessfulQuery) {
  setScenario([](auto& s) { s.link = refservice::LinkAnswer::ServerError; });
  EXPECT_TRUE(manager->queryDownLoadURL().isEmpty());
  setScenario([](auto& s) { s.link = refservice::LinkAnswer::Installer; });
  EXPECT_EQ(manager->queryDownLoadURL(), QString::fromStdString(service->installerUrl("Setup.pkg")));
  EXPECT_EQ(manager->queryDownloadURLErrorID, ERR_ID_Query_Download_URL::EQDU_SERVER_ERROR);
}

TEST_F(ServiceFixture, ANetworkFailureLeavesTheReasonsAsTheyWere) {
  manager->newDownloaderURL = QStringLiteral("https://earlier.example/");
  setServiceHostForTesting(QStringLiteral("127.0.0.1:1"));
  EXPECT_TRUE(manager->queryDownLoadURL().isEmpty());
  EXPECT_FALSE(manager->queryDownloadURLErrorID.has_value());
  EXPECT_EQ(manager->newDownloaderURL, QStringLiteral("https://earlier.example/"));
  EXPECT_TRUE(log.systemLines().contains(QStringLiteral("[OVDownloader]queryDownLoadURL failed!")));
}

}  // namespace
}  // namespace ov::test
