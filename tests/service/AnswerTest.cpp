// How the answers of the download service and the installer's server are read
// (header names in any letter case: tests/platform).

#include "service/ServiceRequest.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using ::testing::IsEmpty;

constexpr std::int64_t kInstallerSize = 1'000'003;

class Answer : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    link_ = addInstaller(QStringLiteral("Setup.pkg"), kInstallerSize);
  }
  QString link_;
};

struct LinkCase {
  const char* name;
  const char* answer;
  const char* link;                                 // what the query returns
  std::optional<ERR_ID_Query_Download_URL> reason;  // recorded reason afterwards
  std::optional<const char*> newDownloader;         // newDownloaderURL afterwards
};

constexpr auto kServer = ERR_ID_Query_Download_URL::EQDU_SERVER_ERROR;
constexpr auto kUpdate = ERR_ID_Query_Download_URL::EQDU_NEED_UPDATE;

class LinkAnswer : public Answer, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkAnswer, GivesTheLinkOrRecordsWhyNot) {
  const LinkCase& c = GetParam();
  setScenario([&](refservice::Scenario& s) {
    s.link = refservice::LinkAnswer::RawText;
    s.linkText = c.answer;
  });
  EXPECT_EQ(offMain([&] { return mgr_->queryDownLoadURL(); }), QString::fromUtf8(c.link));
  EXPECT_EQ(mgr_->queryDownloadURLErrorID, c.reason);
  EXPECT_EQ(mgr_->newDownloaderURL,
            c.newDownloader ? std::optional(QString::fromUtf8(*c.newDownloader)) : std::nullopt);
  EXPECT_TRUE(
      systemHas(*c.link ? QStringLiteral("[OVDownloader]queryDownLoadURL succeed! retrivedDownloadURL : ") +
                              QString::fromUtf8(c.link)
                        : QStringLiteral("[OVDownloader]queryDownLoadURL failed!")));
}

const std::vector<LinkCase> kLinks = {
    {"LinkWithCrLf", "http://cdn.example/x/Setup.pkg\r\n", "https://cdn.example/x/Setup.pkg", {}, {}},
    {"HttpsLinkUnchanged", "https://cdn.example/Setup.pkg", "https://cdn.example/Setup.pkg", {}, {}},
    {"UpdateWithLink", "ERROR: 001\r\nhttp://cdn.example/NewDownloader.dmg", "", kUpdate,
     "https://cdn.example/NewDownloader.dmg"},
    {"UpdateWithoutLink", "ERROR: 001", "", kServer, {}},
    {"ServerErrorWinsOverALink", "ERROR: 000 https://cdn.example/Setup.pkg", "", kServer, {}},
    {"CapitalSchemeIsNoLink", "HTTP://CDN.EXAMPLE/SETUP.PKG", "", kServer, {}},
    {"EveryHttpIsRewritten",
     "see http://a.example/get?u=http://b.example/Setup.pkg",
     "see https://a.example/get?u=https://b.example/Setup.pkg",
     {},
     {}},
    {"LoneLineFeedStays", "https://cdn.example/Setup.pkg\n", "https://cdn.example/Setup.pkg\n", {}, {}},
    {"CrLfInsideIsRemoved", "https://cdn.exa\r\nmple/Setup.pkg", "https://cdn.example/Setup.pkg", {}, {}},
    {"Empty", "", "", kServer, {}},
};

INSTANTIATE_TEST_SUITE_P(Answers, LinkAnswer, ::testing::ValuesIn(kLinks),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Answer, AReasonSurvivesALaterLinkAndANetworkFailureChangesNone) {
  setScenario([](refservice::Scenario& s) { s.link = refservice::LinkAnswer::NeedUpdate; });
  EXPECT_TRUE(offMain([&] { return mgr_->queryDownLoadURL(); }).isEmpty());
  const auto newDownloader = mgr_->newDownloaderURL;
  ASSERT_TRUE(newDownloader.has_value());
  setScenario([](refservice::Scenario& s) { s.link = refservice::LinkAnswer::Installer; });
  EXPECT_EQ(offMain([&] { return mgr_->queryDownLoadURL(); }), link_);
  setServiceHostForTesting(QStringLiteral("127.0.0.1:1"));
  EXPECT_TRUE(offMain([&] { return mgr_->queryDownLoadURL(); }).isEmpty());
  EXPECT_EQ(mgr_->queryDownloadURLErrorID, kUpdate);
  EXPECT_EQ(mgr_->newDownloaderURL, newDownloader);
}

class HeartbeatAnswer : public Answer,
                        public ::testing::WithParamInterface<std::pair<const char*, std::int64_t>> {};

TEST_P(HeartbeatAnswer, IsTheAnsweredIntervalOr30) {
  setScenario([&](refservice::Scenario& s) { s.heartbeatText = GetParam().first; });
  EXPECT_EQ(offMain([&] { return mgr_->queryHeartbeatTime(); }), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Answers, HeartbeatAnswer,
                         ::testing::Values(std::pair{"45", 45}, std::pair{"45\r\n", 45},
                                           std::pair{"\r\n45\r\n", 45}, std::pair{"45\n", 30},
                                           std::pair{"0", 0}, std::pair{"-10", -10}, std::pair{"soon", 30},
                                           std::pair{"", 30}));

TEST_F(Answer, WithoutNetworkTheHeartbeatIsTheDefault) {
  setServiceHostForTesting(QStringLiteral("127.0.0.1:1"));
  EXPECT_EQ(offMain([&] { return mgr_->queryHeartbeatTime(); }), 30);
  EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]queryHeartbeatTime failed! defaultHeartBeats : 30")));
}

// The size probe: a HEAD request whose Content-Length and ETag are taken
// whatever the status; without an answer nothing changes.
struct ProbeCase {
  const char* name;
  std::function<void(refservice::Scenario&)> scenario;
  bool succeeds;
  std::int64_t size;  // before the probe: 12
  bool newTag;        // otherwise the earlier tag stays
  QString link{};     // another link than the installer's
};

void PrintTo(const ProbeCase& c, std::ostream* out) {
  *out << c.name;
}

class ProbeAnswer : public Answer, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeAnswer, SetsSizeAndTagFromTheHeaders) {
  const ProbeCase& c = GetParam();
  setScenario(c.scenario);
  mgr_->i64FileSize = 12;
  mgr_->szETag = QStringLiteral("\"old\"");
  EXPECT_EQ(offMain([&] { return mgr_->getBuildInfo(c.link.isEmpty() ? link_ : c.link); }), c.succeeds);
  EXPECT_EQ(mgr_->i64FileSize.load(), c.size);
  if (c.newTag) {
    EXPECT_TRUE(mgr_->szETag.startsWith(u'"') && mgr_->szETag != QStringLiteral("\"old\""))
        << mgr_->szETag.toStdString();
  } else {
    EXPECT_EQ(mgr_->szETag, QStringLiteral("\"old\""));
  }
  if (c.succeeds) {
    EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]getBuildInfo succeed! File Size : %1, ETag : %2")
                              .arg(c.size)
                              .arg(mgr_->szETag)));
  }
  for (const auto& request : service_->requests()) {
    EXPECT_EQ(request.method, "HEAD");
    EXPECT_EQ(request.header("Accept-Encoding"), "identity");
  }
}

std::function<void(refservice::Scenario&)> head(const char* length, int status = 200) {
  return [=](refservice::Scenario& s) {
    s.installer.headContentLength = length;
    s.installer.headStatus = status;
  };
}

const std::vector<ProbeCase> kProbes = {
    {"Whole", [](auto&) {}, true, kInstallerSize, true},
    {"PlusSign", head("+7"), true, 7, true},
    {"NotANumber", head("4x"), true, 0, true},
    {"NotFoundWithALength", head("777", 404), false, 777, true},
    // libcurl refuses a negative length as a broken answer: there is no response.
    {"NegativeLength", head("-5"), false, 12, false},
    {"NoTag", [](auto& s) { s.installer.sendEtag = false; }, true, kInstallerSize, false},
    {"NoAnswer", [](auto&) {}, false, 12, false, QStringLiteral("https://127.0.0.1:1/Setup.pkg")},
};

INSTANTIATE_TEST_SUITE_P(Answers, ProbeAnswer, ::testing::ValuesIn(kProbes),
                         [](const auto& info) { return std::string(info.param.name); });

struct DecimalCase {
  const char* text;
  std::optional<std::int64_t> value;
};

class DecimalParse : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalParse, ReadsOnlyASignedRunOfDigits) {
  EXPECT_EQ(parseDecimalInteger(QString::fromUtf8(GetParam().text)), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DecimalParse,
    ::testing::Values(
        DecimalCase{"45", 45}, DecimalCase{"+45", 45}, DecimalCase{"-7", -7}, DecimalCase{"045", 45},
        DecimalCase{"0", 0}, DecimalCase{"-0", 0}, DecimalCase{"9223372036854775807", INT64_MAX},
        DecimalCase{"-9223372036854775808", INT64_MIN}, DecimalCase{"9223372036854775808", {}},
        DecimalCase{"-9223372036854775809", {}}, DecimalCase{"99999999999999999999", {}}, DecimalCase{"", {}},
        DecimalCase{"+", {}}, DecimalCase{"-", {}}, DecimalCase{"+-4", {}}, DecimalCase{" 45", {}},
        DecimalCase{"45 ", {}}, DecimalCase{"45\n", {}}, DecimalCase{"4.5", {}}, DecimalCase{"0x10", {}},
        DecimalCase{"\xd9\xa4\xd9\xa5", {}} /* Arabic-Indic digits are not decimal digits here */));

}  // namespace
}  // namespace ov::test
