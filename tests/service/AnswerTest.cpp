// How the answers of the download service and the installer's server are read
// (header names in any letter case: tests/platform).

#include "service/ServiceRequest.h"
#include "tests/support/Rows.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using test::PrintTo;

using namespace Qt::Literals::StringLiterals;

constexpr std::int64_t kInstallerSize = 1'000'003;

struct LinkCase {
  const char* name;
  const char* answer;
  const char* link;                                      // what the query returns
  std::optional<ERR_ID_Query_Download_URL> reason = {};  // recorded reason afterwards
  std::optional<QString> newDownloader = {};             // newDownloaderURL afterwards
};

constexpr auto kServer = ERR_ID_Query_Download_URL::EQDU_SERVER_ERROR;
constexpr auto kUpdate = ERR_ID_Query_Download_URL::EQDU_NEED_UPDATE;

class LinkAnswer : public ServiceTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkAnswer, GivesTheLinkOrRecordsWhyNot) {
  const LinkCase& c = GetParam();
  setScenario(
      [&](refservice::Scenario& s) { s.link = refservice::LinkAnswer::RawText, s.linkText = c.answer; });
  EXPECT_EQ(offMain([&] { return mgr_->queryDownLoadURL(); }), QString::fromUtf8(c.link));
  EXPECT_EQ(mgr_->queryDownloadURLErrorID, c.reason);
  EXPECT_EQ(mgr_->newDownloaderURL, c.newDownloader);
  const QString logged =
      *c.link ? u"succeed! retrivedDownloadURL : "_s + QString::fromUtf8(c.link) : u"failed!"_s;
  EXPECT_TRUE(systemHas(u"[OVDownloader]queryDownLoadURL "_s + logged));
}

const std::vector<LinkCase> kLinks = {
    {"LinkWithCrLf", "http://cdn.example/x/Setup.pkg\r\n", "https://cdn.example/x/Setup.pkg"},
    {"HttpsLinkUnchanged", "https://cdn.example/Setup.pkg", "https://cdn.example/Setup.pkg"},
    {"UpdateWithLink", "ERROR: 001\r\nhttp://cdn.example/NewDownloader.dmg", "", kUpdate,
     u"https://cdn.example/NewDownloader.dmg"_s},
    {"UpdateWithoutLink", "ERROR: 001", "", kServer},
    {"ServerErrorWinsOverALink", "ERROR: 000 https://cdn.example/Setup.pkg", "", kServer},
    {"CapitalSchemeIsNoLink", "HTTP://CDN.EXAMPLE/SETUP.PKG", "", kServer},
    {"EveryHttpIsRewritten", "see http://a.example/get?u=http://b.example/Setup.pkg",
     "see https://a.example/get?u=https://b.example/Setup.pkg"},
    {"LoneLineFeedStays", "https://cdn.example/Setup.pkg\n", "https://cdn.example/Setup.pkg\n"},
    {"CrLfInsideIsRemoved", "https://cdn.exa\r\nmple/Setup.pkg", "https://cdn.example/Setup.pkg"},
};

INSTANTIATE_TEST_SUITE_P(Answers, LinkAnswer, ::testing::ValuesIn(kLinks), rowName);

TEST_F(ServiceTest, AReasonSurvivesALaterLinkAndANetworkFailureChangesNone) {
  const QString link = addInstaller(kSetup, kInstallerSize);
  setScenario([](refservice::Scenario& s) { s.link = refservice::LinkAnswer::NeedUpdate; });
  EXPECT_TRUE(offMain([&] { return mgr_->queryDownLoadURL(); }).isEmpty());
  const auto newDownloader = mgr_->newDownloaderURL;
  ASSERT_TRUE(newDownloader.has_value());
  setScenario([](refservice::Scenario& s) { s.link = refservice::LinkAnswer::Installer; });
  EXPECT_EQ(offMain([&] { return mgr_->queryDownLoadURL(); }), link);
  setServiceHostForTesting(QStringLiteral("127.0.0.1:1"));
  EXPECT_TRUE(offMain([&] { return mgr_->queryDownLoadURL(); }).isEmpty());
  EXPECT_EQ(mgr_->queryDownloadURLErrorID, kUpdate);
  EXPECT_EQ(mgr_->newDownloaderURL, newDownloader);
}

struct HeartbeatCase {
  const char* name;
  const char* answer;  // nullptr: the service cannot be reached
  std::int64_t interval;
};

class HeartbeatAnswer : public ServiceTest, public ::testing::WithParamInterface<HeartbeatCase> {};

TEST_P(HeartbeatAnswer, IsTheAnsweredIntervalOr30) {
  const auto [name, text, interval] = GetParam();
  if (text == nullptr) setServiceHostForTesting(QStringLiteral("127.0.0.1:1"));
  setScenario([&](refservice::Scenario& s) { s.heartbeatText = text ? text : ""; });
  EXPECT_EQ(offMain([&] { return mgr_->queryHeartbeatTime(); }), interval);
  EXPECT_EQ(systemHas(u"[OVDownloader]queryHeartbeatTime failed! defaultHeartBeats : 30"_s), text == nullptr);
}

// How a number reads: DecimalParse below.
INSTANTIATE_TEST_SUITE_P(Answers, HeartbeatAnswer,
                         ::testing::Values(HeartbeatCase{"CrLfDropped", "45\r\n", 45},
                                           HeartbeatCase{"EveryCrLfDropped", "\r\n45\r\n", 45},
                                           HeartbeatCase{"LoneLineFeedKept", "45\n", 30},
                                           HeartbeatCase{"NoNumber", "soon", 30},
                                           HeartbeatCase{"NoAnswer", nullptr, 30}),
                         rowName);

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

class ProbeAnswer : public ServiceTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeAnswer, SetsSizeAndTagFromTheHeaders) {
  const ProbeCase& c = GetParam();
  const QString link = addInstaller(kSetup, kInstallerSize);
  setScenario(c.scenario);
  mgr_->i64FileSize = 12;
  mgr_->szETag = QStringLiteral("\"old\"");
  EXPECT_EQ(offMain([&] { return mgr_->getBuildInfo(c.link.isEmpty() ? link : c.link); }), c.succeeds);
  EXPECT_EQ(mgr_->i64FileSize.load(), c.size);
  EXPECT_TRUE(mgr_->szETag.startsWith(u'"')) << mgr_->szETag.toStdString();
  EXPECT_EQ(mgr_->szETag == QStringLiteral("\"old\""), !c.newTag) << mgr_->szETag.toStdString();
  EXPECT_TRUE(!c.succeeds ||
              systemHas(u"[OVDownloader]getBuildInfo succeed! File Size : %1, ETag : %2"_s.arg(c.size).arg(
                  mgr_->szETag)));
  // (Accept-Encoding: identity on every installer request: tests/engine/FaultTableTest.cpp.)
  for (const auto& request : service_->requests()) EXPECT_EQ(request.method, "HEAD");
}

std::function<void(refservice::Scenario&)> head(const char* length, int status = 200) {
  return [=](refservice::Scenario& s) {
    s.installer.headContentLength = length, s.installer.headStatus = status;
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

INSTANTIATE_TEST_SUITE_P(Answers, ProbeAnswer, ::testing::ValuesIn(kProbes), rowName);

struct DecimalCase {
  const char* text;
  std::optional<std::int64_t> value;
};

void PrintTo(const DecimalCase& row, std::ostream* out) {
  *out << '"' << row.text << '"';
}

class DecimalParse : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalParse, ReadsOnlyASignedRunOfDigits) {
  EXPECT_EQ(parseDecimalInteger(QString::fromUtf8(GetParam().text)), GetParam().value) << GetParam().text;
}

// Arabic-Indic digits are not decimal digits here.
INSTANTIATE_TEST_SUITE_P(
    Answers, DecimalParse,
    ::testing::Values(DecimalCase{"45", 45}, DecimalCase{"+45", 45}, DecimalCase{"-7", -7},
                      DecimalCase{"045", 45}, DecimalCase{"0", 0}, DecimalCase{"-0", 0},
                      DecimalCase{"9223372036854775807", INT64_MAX},
                      DecimalCase{"-9223372036854775808", INT64_MIN}, DecimalCase{"9223372036854775808", {}},
                      DecimalCase{"-9223372036854775809", {}}, DecimalCase{"99999999999999999999", {}},
                      DecimalCase{"", {}}, DecimalCase{"+", {}}, DecimalCase{"-", {}}, DecimalCase{"+-4", {}},
                      DecimalCase{" 45", {}}, DecimalCase{"45 ", {}}, DecimalCase{"45\n", {}},
                      DecimalCase{"4.5", {}}, DecimalCase{"0x10", {}}, DecimalCase{"\xd9\xa4\xd9\xa5", {}}));

}  // namespace
}  // namespace ov::test
