#include <gtest/gtest.h>

#include "tests/support/Rows.h"
#include "tests/tools/ServiceFixture.h"

namespace refservice::testing {
namespace {

using ov::test::PrintTo;

class BadRequest : public ServiceTest,
                   public ::testing::WithParamInterface<std::pair<std::string, std::string>> {};

// bytes -> the reason expected in the log line and the record's error.
TEST_P(BadRequest, Gets400ALogLineAndARecordAndTheServiceCarriesOn) {
  const auto& [bytes, reason] = GetParam();
  const auto answer = raw(bytes);
  EXPECT_EQ(answer.status, 400) << answer.head;
  // One answer only: whatever followed the bad request is not read as another one.
  EXPECT_EQ(answer.body.find("HTTP/1.1"), std::string::npos) << answer.body;
  // The record and the log line are written before the answer.
  const auto record = service().requests().back();
  EXPECT_EQ(record.status, 400);
  EXPECT_NE(record.error.find(reason), std::string::npos) << record.error;
  const auto lines = logLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("400 ", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find(reason), std::string::npos) << lines.back();
  EXPECT_EQ(getStatus(), 206);
}

std::string rangeRequest(const std::string& range) {
  return "GET /installers/Setup.pkg HTTP/1.1\r\nHost: x\r\nRange: " + range +
         "\r\n\r\nGET / HTTP/1.1\r\n\r\n";
}

const std::string kRangeReason = "Range header is not a byte range set";

INSTANTIATE_TEST_SUITE_P(
    Requests, BadRequest,
    ::testing::Values(std::pair{"\x01\x02garbage\r\n\r\nGET / HTTP/1.1\r\n\r\n", "malformed request"},
                      std::pair{"TRACE / HTTP/1.1\r\nHost: x\r\n\r\n", "method TRACE is not served"},
                      std::pair{"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n",
                                "request target too long"},
                      std::pair{rangeRequest("bytes=9-3"), kRangeReason},
                      std::pair{rangeRequest("bytes=99999999999999999999999-"), kRangeReason},
                      std::pair{rangeRequest("bytes=0-1,2-3,9-5"), kRangeReason},
                      std::pair{postRequest("get-link.jsp", "SR=%G1"), "bad percent escape"},
                      std::pair{postRequest("get-link.jsp", "SR"), "not name=value"},
                      std::pair{postRequest("get-link.jsp", "{\"SR\":1}", "application/json"),
                                "Content-Type"}));

}  // namespace
}  // namespace refservice::testing
