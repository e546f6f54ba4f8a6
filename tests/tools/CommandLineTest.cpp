#include "tools/refservice/CommandLine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tools/refservice/ScenarioParser.h"

namespace refservice {
namespace {

TEST(CommandLine, ReadsServiceFlagsInBothForms) {
  const auto c = parseCommandLine({"--port",
                                   "8443",
                                   "--bind=127.0.0.2",
                                   "--installers",
                                   "/srv/in",
                                   "--installer",
                                   "/a/One.pkg",
                                   "--installer=/b/Two.pkg",
                                   "--state-dir",
                                   "/tmp/s",
                                   "--port-file",
                                   "/tmp/p",
                                   "--record",
                                   "/tmp/r.jsonl",
                                   "--cert",
                                   "c.pem",
                                   "--key",
                                   "k.pem",
                                   "--ca",
                                   "ca.pem",
                                   "--threads",
                                   "40",
                                   "--verbose"});
  EXPECT_EQ(c.options.port, 8443);
  EXPECT_EQ(c.options.bindAddress, "127.0.0.2");
  EXPECT_EQ(c.options.installersFolder, "/srv/in");
  EXPECT_EQ(c.options.installerFiles, (std::vector<std::string>{"/a/One.pkg", "/b/Two.pkg"}));
  EXPECT_EQ(c.stateFolder, "/tmp/s");
  EXPECT_EQ(c.portFile, "/tmp/p");
  EXPECT_EQ(c.options.recordFile, "/tmp/r.jsonl");
  EXPECT_EQ(c.options.certificateFile, "c.pem");
  EXPECT_EQ(c.options.keyFile, "k.pem");
  EXPECT_EQ(c.options.caFile, "ca.pem");
  EXPECT_EQ(c.options.threads, 40u);
  EXPECT_TRUE(c.options.logEveryRequest);
  EXPECT_FALSE(c.help);
}

TEST(CommandLine, ScenarioFlagsApplyOverTheScenarioFile) {
  const auto file = std::filesystem::temp_directory_path() / "ovref-cmdline-scenario.txt";
  std::ofstream(file) << "link = error-000\nheartbeat = 45\n";
  const auto c = parseCommandLine({"--scenario", file.string(), "--heartbeat", "7", "--gzip=on"});
  const auto scenario = scenarioOf(c);
  std::filesystem::remove(file);
  EXPECT_EQ(scenario.link, LinkAnswer::ServerError);
  EXPECT_EQ(scenario.heartbeatText, "7");
  EXPECT_TRUE(scenario.gzip);
}

TEST(CommandLine, AValueMayStartWithDashes) {
  const auto c = parseCommandLine({"--link-text", "--not a flag"});
  EXPECT_EQ(scenarioOf(c).linkText, "--not a flag");
}

class BadCommandLine : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadCommandLine, IsAUsageError) {
  EXPECT_THROW(parseCommandLine(GetParam()), UsageError);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadCommandLine,
    ::testing::Values(std::vector<std::string>{"--colour", "red"}, std::vector<std::string>{"stray"},
                      std::vector<std::string>{"--port"}, std::vector<std::string>{"--port", "70000"},
                      std::vector<std::string>{"--port", "80x"}, std::vector<std::string>{"--threads", "0"},
                      std::vector<std::string>{"--cert", "c.pem"}, std::vector<std::string>{"--key", "k.pem"},
                      std::vector<std::string>{"--link", "sideways"},
                      std::vector<std::string>{"--drop-after-bytes=-3"}));

TEST(CommandLine, HelpListsEveryScenarioKey) {
  EXPECT_TRUE(parseCommandLine({"--help"}).help);
  const auto text = usageText();
  for (const auto& key : scenarioKeys())
    EXPECT_NE(text.find("--" + std::string(key.name) + " "), std::string::npos) << key.name;
}

TEST(PortFile, HoldsThePortAndALineEnd) {
  const auto file = std::filesystem::temp_directory_path() / "ovref-port-test";
  writePortFile(file.string(), 54321);
  std::ifstream in(file);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::filesystem::remove(file);
  EXPECT_EQ(text, "54321\n");
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));
  EXPECT_THROW(writePortFile("/nonexistent/folder/port", 1), std::runtime_error);
}

}  // namespace
}  // namespace refservice
