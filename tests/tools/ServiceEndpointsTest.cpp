#include <gtest/gtest.h>

#include "tests/tools/ServiceFixture.h"
#include "tools/refservice/ScenarioParser.h"

namespace refservice::testing {
namespace {

constexpr const char* kLinkForm =
    "PRODUCTNAME=OVSuite&PRODUCTVERSION=12.0&VERSIONTYPE=Retail&SR=SR-1&VID=1.0.0.1&LANGUAGE=en&platform=x64&"
    "ostype=Mac";

class LinkAnswerTest : public ServiceTest {};

TEST_F(LinkAnswerTest, DefaultsToTheServedInstallerOnThisServerWithCrLf) {
  const auto result = post("get-link.jsp", kLinkForm);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->body, "https://" + service().hostAndPort() + "/installers/Setup.pkg\r\n");
  EXPECT_EQ(service().installerUrl("Setup.pkg"),
            "https://" + service().hostAndPort() + "/installers/Setup.pkg");
  EXPECT_EQ(service().baseUrl(), "https://127.0.0.1:" + std::to_string(service().port()));
}

struct LinkCase {
  std::string settings;  // scenario text
  std::string expected;  // with {link} for the installer link and {http} for its http: form
  int status = 200;
};

class LinkAnswerModes : public ServiceTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkAnswerModes, AnswerAsTheScenarioSays) {
  service().setScenario(parseScenarioText(GetParam().settings));
  const auto result = post("get-link.jsp", kLinkForm);
  ASSERT_TRUE(result);
  auto expected = GetParam().expected;
  const auto link = service().installerUrl("Setup.pkg");
  for (const auto& [mark, text] :
       {std::pair{std::string("{link}"), link}, std::pair{std::string("{http}"), "http" + link.substr(5)},
        std::pair{std::string("{other}"), service().installerUrl("Other File.pkg")}})
    if (const auto at = expected.find(mark); at != std::string::npos) expected.replace(at, mark.size(), text);
  EXPECT_EQ(result->body, expected);
  EXPECT_EQ(result->status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, LinkAnswerModes,
    ::testing::Values(
        LinkCase{"link-scheme = http", "{http}\r\n"}, LinkCase{"link-crlf = off", "{link}"},
        LinkCase{"link-installer = Other File.pkg", "{other}\r\n"},
        LinkCase{"link = error-000", "ERROR: 000\r\n"},
        LinkCase{"link = error-000\nlink-status = 500", "ERROR: 000\r\n", 500},
        LinkCase{"link = error-001", "ERROR: 001\r\n{link}\r\n"},
        LinkCase{"link = error-001\nlink-scheme = http\nlink-crlf = off", "ERROR: 001\r\n{http}"},
        LinkCase{"link = error-001\nupdate-link = http://u.example/OVDownloader.dmg",
                 "ERROR: 001\r\nhttp://u.example/OVDownloader.dmg\r\n"},
        LinkCase{"link = raw\nlink-text = see http://a.example/x?u=http://b\\n",
                 "see http://a.example/x?u=http://b\n"},
        LinkCase{"link = raw\nlink-text = HTTP://CAPS.example/S.pkg", "HTTP://CAPS.example/S.pkg"}));

TEST_F(LinkAnswerTest, WithoutAnyInstallerAnswersServerErrorAndLogs) {
  std::filesystem::remove(folder_ / "installers" / "Setup.pkg");
  const auto result = post("get-link.jsp", kLinkForm);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, "ERROR: 000\r\n");
  ASSERT_FALSE(logLines().empty());
  EXPECT_NE(logLines().back().find("no installer"), std::string::npos);
}

TEST_F(ServiceTest, HeartbeatAnswersTheScenarioTextAndStatus) {
  EXPECT_EQ(post("heartbeat.jsp", "PRODUCTNAME=a&PRODUCTVERSION=b&VERSIONTYPE=c&SR=d")->body, "30");
  service().updateScenario([](Scenario& s) {
    s.heartbeatText = "45\r\n";
    s.heartbeatStatus = 500;
  });
  const auto result = post("heartbeat.jsp", "PRODUCTNAME=a&PRODUCTVERSION=b&VERSIONTYPE=c&SR=d");
  EXPECT_EQ(result->body, "45\r\n");
  EXPECT_EQ(result->status, 500);
}

struct ReportCase {
  std::string endpoint;
  int Scenario::*status;
};

class ReportStatus : public ServiceTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(ReportStatus, EachReportAnswersItsOwnStatusCode) {
  const auto [endpoint, member] = GetParam();
  EXPECT_EQ(post(endpoint, "TokenID=t")->status, 200);
  service().updateScenario([member = member](Scenario& s) {
    s.updateInfoStatus = s.updateStatusStatus = s.updateSizeStatus = 200;
    s.*member = 503;
  });
  const auto result = post(endpoint, "TokenID=t");
  EXPECT_EQ(result->status, 503);
  EXPECT_EQ(result->body, "OK");
  for (const std::string other : {"update-info.jsp", "update-status.jsp", "update-size-v2.jsp"}) {
    if (other != endpoint) {
      EXPECT_EQ(post(other, "TokenID=t")->status, 200) << other;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Endpoints, ReportStatus,
                         ::testing::Values(ReportCase{"update-info.jsp", &Scenario::updateInfoStatus},
                                           ReportCase{"update-status.jsp", &Scenario::updateStatusStatus},
                                           ReportCase{"update-size-v2.jsp", &Scenario::updateSizeStatus}));

TEST_F(ServiceTest, RecordsTheDecodedFieldsTheBodyAndTheHeaders) {
  ASSERT_TRUE(post("update-status.jsp", "TokenID=4F2A-9&status=Launch&detail_status=&CancelReason=a+b%26c"));
  const auto record = lastFinishedRecord();
  EXPECT_EQ(record.method, "POST");
  EXPECT_EQ(record.path, "/prog/util/downloader/update-status.jsp");
  EXPECT_EQ(record.body, "TokenID=4F2A-9&status=Launch&detail_status=&CancelReason=a+b%26c");
  EXPECT_EQ(
      record.form,
      (Fields{
          {"TokenID", "4F2A-9"}, {"status", "Launch"}, {"detail_status", ""}, {"CancelReason", "a b&c"}}));
  EXPECT_EQ(record.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(record.header("accept-encoding"), "gzip, deflate");
  EXPECT_EQ(record.status, 200);
  EXPECT_EQ(record.bytesSent, 2);
  EXPECT_EQ(record.outcome, Outcome::Complete);
  EXPECT_TRUE(record.error.empty());
}

TEST_F(ServiceTest, GzipCompressesPostAnswersOnlyWhenAskedAndAccepted) {
  service().updateScenario([](Scenario& s) { s.heartbeatText = "45\r\n"; });
  auto plain = post("heartbeat.jsp", "SR=1");
  EXPECT_EQ(plain->get_header_value("Content-Encoding"), "");
  EXPECT_EQ(plain->body, "45\r\n");

  service().updateScenario([](Scenario& s) { s.gzip = true; });
  auto packed = post("heartbeat.jsp", "SR=1");
  EXPECT_EQ(packed->get_header_value("Content-Encoding"), "gzip");
  ASSERT_GE(packed->body.size(), 2u);
  EXPECT_EQ(packed->body.substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(packed->get_header_value("Content-Length"), std::to_string(packed->body.size()));
  EXPECT_EQ(client()
                ->Post("/prog/util/downloader/heartbeat.jsp", {{"Accept-Encoding", "gzip, deflate"}}, "SR=1",
                       "application/x-www-form-urlencoded")
                ->body,
            "45\r\n");

  auto refused = post("heartbeat.jsp", "SR=1", "identity");
  EXPECT_EQ(refused->get_header_value("Content-Encoding"), "");
  EXPECT_EQ(refused->body, "45\r\n");
}

TEST_F(ServiceTest, AnswerDelayHoldsPostAnswersBack) {
  service().updateScenario([](Scenario& s) { s.answerDelay = std::chrono::milliseconds(150); });
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(post("update-size-v2.jsp", "TokenID=t"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}

TEST_F(ServiceTest, UnknownEndpointIs404AndOtherMethodsAre405) {
  EXPECT_EQ(post("get-links.jsp", "a=1")->status, 404);
  const auto get = client()->Get("/prog/util/downloader/get-link.jsp");
  EXPECT_EQ(get->status, 405);
  EXPECT_EQ(get->get_header_value("Allow"), "POST");
  const auto postInstaller =
      client()->Post("/installers/Setup.pkg", "a=1", "application/x-www-form-urlencoded");
  EXPECT_EQ(postInstaller->status, 405);
  EXPECT_EQ(client()->Put("/prog/util/downloader/heartbeat.jsp", "a=1", "text/plain")->status, 405);
  EXPECT_EQ(client()->Get("/")->status, 404);
}

struct BadPostCase {
  std::string contentType;
  std::string body;
  std::string reason;
};

class BadPost : public ServiceTest, public ::testing::WithParamInterface<BadPostCase> {};

TEST_P(BadPost, Gets400ALogLineAndAnErrorInTheRecord) {
  const auto result =
      client()->Post("/prog/util/downloader/get-link.jsp", GetParam().body, GetParam().contentType);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 400);
  const auto record = lastFinishedRecord();
  EXPECT_EQ(record.status, 400);
  EXPECT_NE(record.error.find(GetParam().reason), std::string::npos) << record.error;
  EXPECT_TRUE(record.form.empty());
  const auto lines = logLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("400 POST /prog/util/downloader/get-link.jsp"), std::string::npos)
      << lines.back();
  EXPECT_NE(lines.back().find(GetParam().reason), std::string::npos) << lines.back();
  EXPECT_EQ(post("get-link.jsp", kLinkForm)->status, 200);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, BadPost,
    ::testing::Values(BadPostCase{"application/x-www-form-urlencoded", "", "empty body"},
                      BadPostCase{"application/x-www-form-urlencoded", "SR=%G1", "bad percent escape"},
                      BadPostCase{"application/x-www-form-urlencoded", "SR", "not name=value"},
                      BadPostCase{"application/x-www-form-urlencoded; charset=utf-8", "SR=a b",
                                  "unescaped byte"},
                      BadPostCase{"application/json", "{\"SR\":1}", "Content-Type"},
                      BadPostCase{"text/plain", "SR=1", "Content-Type"}));

}  // namespace
}  // namespace refservice::testing
