#include "tools/refservice/CommandLine.h"

#include <gtest/gtest.h>

namespace refservice {
namespace {

class BadCommandLine : public ::testing::TestWithParam<std::pair<std::vector<std::string>, std::string>> {};

TEST_P(BadCommandLine, IsAUsageErrorSayingWhy) {
  try {
    parseCommandLine(GetParam().first);
    ADD_FAILURE() << "accepted " << GetParam().first[0];
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().second), std::string::npos) << e.what();
  }
}

using Arguments = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    Arguments, BadCommandLine,
    ::testing::Values(
        std::pair{Arguments{"--colour", "red"}, "unknown flag --colour"},
        std::pair{Arguments{"stray"}, "unexpected argument"},
        std::pair{Arguments{"--port"}, "--port needs a value"},
        std::pair{Arguments{"--port=70000"}, "--port needs a number from 0 to 65535"},
        std::pair{Arguments{"--threads", "0"}, "--threads needs a number from 1"},
        std::pair{Arguments{"--cert", "c.pem"}, "--cert and --key go together"},
        std::pair{Arguments{"--link", "other"}, "link: not installer"},
        std::pair{Arguments{"--link-status", "99"}, "link-status: not a number from 100 to 599"},
        std::pair{Arguments{"--fail-status=2OO"}, "fail-status: not a number"},
        std::pair{Arguments{"--drop-after-bytes", "1e3"}, "drop-after-bytes: not a number"},
        std::pair{Arguments{"--fail-at-request", "0"}, "fail-at-request: not a number from 1"},
        std::pair{Arguments{"--fail-repeat", "twice"}, "fail-repeat: not once or always"},
        std::pair{Arguments{"--retry-after", "4294967296"}, "retry-after: not a number"},
        std::pair{Arguments{"--head-size-delta", "9223372036854775807"}, "head-size-delta: not"},
        std::pair{Arguments{"--shorten-body-by=-1"}, "shorten-body-by: not a number"},
        std::pair{Arguments{"--redirect", "ftp"}, "redirect: not none, http or other-host"},
        std::pair{Arguments{"--digest", "md5"}, "digest: not none, right, wrong or legacy"},
        std::pair{Arguments{"--heartbeat", "a\\qb"}, "heartbeat: unknown escape \\q"},
        std::pair{Arguments{"--link-text", "ends\\"}, "link-text: a lone \\ ends the value"}));

}  // namespace
}  // namespace refservice
