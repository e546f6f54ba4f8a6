#include "tools/refservice/CommandLine.h"

#include <gtest/gtest.h>

#include "tools/refservice/ScenarioParser.h"

namespace refservice {
namespace {

using Arguments = std::vector<std::string>;

class BadCommandLine : public ::testing::TestWithParam<std::pair<Arguments, std::string>> {};

TEST_P(BadCommandLine, IsAUsageErrorSayingWhy) {
  try {
    parseCommandLine(GetParam().first);
    ADD_FAILURE() << "accepted " << GetParam().first[0];
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().second), std::string::npos) << e.what();
  }
}

// One row per kind of check; the scenario keys share the value parsers of the scenario file.
INSTANTIATE_TEST_SUITE_P(
    Arguments, BadCommandLine,
    ::testing::Values(
        std::pair{Arguments{"--colour", "red"}, "unknown flag --colour"},
        std::pair{Arguments{"--port"}, "--port needs a value"},
        std::pair{Arguments{"--port=70000"}, "--port needs a number from 0 to 65535"},
        std::pair{Arguments{"--cert", "c.pem"}, "--cert and --key go together"},
        std::pair{Arguments{"--link-status", "99"}, "link-status: not a number from 100 to 599"},
        std::pair{Arguments{"--head-size-delta", "9223372036854775807"}, "head-size-delta: not"},
        std::pair{Arguments{"--heartbeat", "a\\qb"}, "heartbeat: unknown escape \\q"},
        std::pair{Arguments{"--link-text", "ends\\"}, "link-text: a lone \\ ends the value"}));

TEST(CommandLine, AsksForHelpByEitherName) {
  EXPECT_TRUE(parseCommandLine({"--help"}).help);
  EXPECT_TRUE(parseCommandLine({"-h"}).help);
}

}  // namespace
}  // namespace refservice
