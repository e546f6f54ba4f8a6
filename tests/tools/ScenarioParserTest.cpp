#include "tools/refservice/ScenarioParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace refservice {
namespace {

struct SettingCase {
  std::string key;
  std::string value;
  std::function<bool(const Scenario&)> holds;
};

class ScenarioSetting : public ::testing::TestWithParam<SettingCase> {};

TEST_P(ScenarioSetting, SetsItsField) {
  Scenario scenario;
  applyScenarioSetting(scenario, GetParam().key, GetParam().value);
  EXPECT_TRUE(GetParam().holds(scenario)) << GetParam().key << " = " << GetParam().value;
}

using S = const Scenario&;
const std::vector<SettingCase> kSettingCases{
    SettingCase{"link", "error-000", [](S s) { return s.link == LinkAnswer::ServerError; }},
    SettingCase{"link", "error-001", [](S s) { return s.link == LinkAnswer::NeedUpdate; }},
    SettingCase{"link", "raw", [](S s) { return s.link == LinkAnswer::RawText; }},
    SettingCase{"link-installer", "Other.pkg", [](S s) { return s.linkInstaller == "Other.pkg"; }},
    SettingCase{"link-scheme", "http", [](S s) { return s.linkHttpScheme; }},
    SettingCase{"link-crlf", "off", [](S s) { return !s.linkCrLf; }},
    SettingCase{"update-link", "https://u/new.pkg", [](S s) { return s.updateLink == "https://u/new.pkg"; }},
    SettingCase{"link-text", "ERROR: 001\\r\\nhttp://x\\n\\t\\\\",
                [](S s) { return s.linkText == "ERROR: 001\r\nhttp://x\n\t\\"; }},
    SettingCase{"link-status", "500", [](S s) { return s.linkStatus == 500; }},
    SettingCase{"heartbeat", "45\\r\\n", [](S s) { return s.heartbeatText == "45\r\n"; }},
    SettingCase{"heartbeat-status", "404", [](S s) { return s.heartbeatStatus == 404; }},
    SettingCase{"update-info-status", "500", [](S s) { return s.updateInfoStatus == 500; }},
    SettingCase{"update-status-status", "503", [](S s) { return s.updateStatusStatus == 503; }},
    SettingCase{"update-size-status", "204", [](S s) { return s.updateSizeStatus == 204; }},
    SettingCase{"slow-reports", "on", [](S s) { return s.slowReports; }},
    SettingCase{"gzip", "yes", [](S s) { return s.gzip; }},
    SettingCase{"answer-delay-ms", "250", [](S s) { return s.answerDelay.count() == 250; }},
    SettingCase{"fail-at-byte", "5242880", [](S s) { return s.installer.failAtByte == 5242880; }},
    SettingCase{"fail-repeat", "once", [](S s) { return s.installer.failRepeat == Repeat::Once; }},
    SettingCase{"fail-at-request", "3", [](S s) { return s.installer.failAtRequest == 3; }},
    SettingCase{"fail-status", "503", [](S s) { return s.installer.failStatus == 503; }},
    SettingCase{"retry-after", "7", [](S s) { return s.installer.retryAfter == 7; }},
    SettingCase{"drop-after-bytes", "100", [](S s) { return s.installer.dropAfterBytes == 100; }},
    SettingCase{"drop-repeat", "once", [](S s) { return s.installer.dropRepeat == Repeat::Once; }},
    SettingCase{"ignore-range", "on", [](S s) { return s.installer.ignoreRange; }},
    SettingCase{"head-status", "404", [](S s) { return s.installer.headStatus == 404; }},
    SettingCase{"head-length", " -5", [](S s) { return s.installer.headContentLength == " -5"; }},
    SettingCase{"head-size-delta", "-5242880", [](S s) { return s.installer.headSizeDelta == -5242880; }},
    SettingCase{"shorten-body-by", "5", [](S s) { return s.installer.shortenBodyBy == 5; }},
    SettingCase{"weak-etag", "on", [](S s) { return s.installer.weakEtag; }},
    SettingCase{"redirect", "other-host", [](S s) { return s.installer.redirect == Redirect::ToOtherHost; }},
    SettingCase{"digest", "legacy", [](S s) { return s.installer.digest == DigestHeader::LegacyRight; }},
    SettingCase{"etag", "off", [](S s) { return !s.installer.sendEtag; }},
    SettingCase{"etag-change-after", "1", [](S s) { return s.installer.etagChangesAfter == 1; }},
    SettingCase{"rate-limit", "65536", [](S s) { return s.installer.rateLimit == 65536; }},
    SettingCase{"first-byte-delay-ms", "20", [](S s) { return s.installer.firstByteDelay.count() == 20; }},
    SettingCase{"hold", "true", [](S s) { return s.installer.hold; }},
    SettingCase{"hold-after-bytes", "4096", [](S s) { return s.installer.holdAfterBytes == 4096; }}};

INSTANTIATE_TEST_SUITE_P(Keys, ScenarioSetting, ::testing::ValuesIn(kSettingCases));

TEST(ScenarioSetting, TheTableCoversEveryKey) {
  for (const auto& key : scenarioKeys()) {
    const bool covered = std::any_of(kSettingCases.begin(), kSettingCases.end(),
                                     [&](const SettingCase& c) { return c.key == key.name; });
    EXPECT_TRUE(covered) << "no case sets " << key.name;
    EXPECT_FALSE(key.values.empty());
  }
}

struct BadCase {
  std::string key;
  std::string value;
};

class BadScenarioSetting : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadScenarioSetting, ThrowsNamingTheKey) {
  Scenario scenario;
  try {
    applyScenarioSetting(scenario, GetParam().key, GetParam().value);
    FAIL() << "accepted " << GetParam().key << " = " << GetParam().value;
  } catch (const ScenarioError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().key), std::string::npos) << e.what();
  }
  EXPECT_EQ(scenario, Scenario{});
}

INSTANTIATE_TEST_SUITE_P(Values, BadScenarioSetting,
                         ::testing::Values(BadCase{"no-such-key", "1"}, BadCase{"link", "other"},
                                           BadCase{"link-scheme", "ftp"}, BadCase{"gzip", "maybe"},
                                           BadCase{"link-status", "99"}, BadCase{"link-status", "600"},
                                           BadCase{"link-status", "2OO"}, BadCase{"rate-limit", "-1"},
                                           BadCase{"drop-after-bytes", "1e3"},
                                           BadCase{"fail-at-request", "0"}, BadCase{"fail-repeat", "twice"},
                                           BadCase{"heartbeat", "a\\qb"}, BadCase{"link-text", "ends\\"},
                                           BadCase{"answer-delay-ms", "99999999999999"}));

TEST(ScenarioText, AppliesLinesInOrderSkippingCommentsAndBlanks) {
  const auto scenario = parseScenarioText(
      "# a scenario\r\n"
      "\n"
      "  link = raw  \r\n"
      "link-text = first\n"
      "link-text=ERROR: 000 = still text\n"
      "drop-after-bytes = 10\n"
      "drop-after-bytes =\n"
      "\t# indented comment\n");
  EXPECT_EQ(scenario.link, LinkAnswer::RawText);
  EXPECT_EQ(scenario.linkText, "ERROR: 000 = still text");
  EXPECT_FALSE(scenario.installer.dropAfterBytes.has_value());
}

TEST(ScenarioText, BuildsOnTheBase) {
  Scenario base;
  base.gzip = true;
  const auto scenario = parseScenarioText("heartbeat = 5", base);
  EXPECT_TRUE(scenario.gzip);
  EXPECT_EQ(scenario.heartbeatText, "5");
}

TEST(ScenarioText, ErrorsNameTheLine) {
  for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
           {"gzip = on\nno equals sign\n", "line 2: expected key = value"},
           {"\n\nhold = sometimes", "line 3: hold: not on or off"},
           {"colour = red", "line 1: unknown scenario key \"colour\""}}) {
    try {
      parseScenarioText(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const ScenarioError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
    }
  }
}

TEST(ScenarioFile, ReportsAMissingFile) {
  EXPECT_THROW(loadScenarioFile("/nonexistent/scenario.txt"), ScenarioError);
}

}  // namespace
}  // namespace refservice
