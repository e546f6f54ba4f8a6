#include <gtest/gtest.h>

#include "tests/tools/ServiceFixture.h"

namespace refservice::testing {
namespace {

struct BadRequestCase {
  std::string name;
  std::string bytes;
  std::string reason;  // expected in the log line and the record's error
};

class BadRequest : public ServiceTest, public ::testing::WithParamInterface<BadRequestCase> {};

TEST_P(BadRequest, Gets400ALogLineAndARecordAndTheServiceCarriesOn) {
  const auto answer = raw(GetParam().bytes);
  EXPECT_EQ(answer.status, 400) << answer.head;
  // One answer only: whatever followed the bad request is not read as another one.
  EXPECT_EQ(answer.body.find("HTTP/1.1"), std::string::npos) << answer.body;
  // The record and the log line are written before the answer.
  const auto record = service().requests().back();
  EXPECT_EQ(record.status, 400);
  EXPECT_NE(record.error.find(GetParam().reason), std::string::npos) << record.error;
  const auto lines = logLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("400 ", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find(GetParam().reason), std::string::npos) << lines.back();
  EXPECT_EQ(client()->Get("/installers/Setup.pkg", {{"Range", "bytes=0-9"}})->status, 206);
}

std::string rangeRequest(const std::string& range) {
  return "GET /installers/Setup.pkg HTTP/1.1\r\nHost: x\r\nRange: " + range +
         "\r\n\r\nGET / HTTP/1.1\r\n\r\n";
}

const std::string kRangeReason = "Range header is not a byte range set";

INSTANTIATE_TEST_SUITE_P(
    Requests, BadRequest,
    ::testing::Values(
        BadRequestCase{"GarbageMethod", "FOO /installers/Setup.pkg HTTP/1.1\r\nHost: x\r\n\r\n", "malformed"},
        BadRequestCase{"GarbageLine", "\x01\x02garbage\r\n\r\nGET / HTTP/1.1\r\n\r\n", "malformed request"},
        BadRequestCase{"NoVersion", "GET /installers/Setup.pkg\r\n\r\n", "malformed request"},
        BadRequestCase{"Trace", "TRACE / HTTP/1.1\r\nHost: x\r\n\r\n", "method TRACE is not served"},
        BadRequestCase{"TargetTooLong", "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n",
                       "request target too long"},
        BadRequestCase{"RangeLetters", rangeRequest("bytes=abc"), kRangeReason},
        BadRequestCase{"RangeBackwards", rangeRequest("bytes=9-3"), kRangeReason},
        BadRequestCase{"RangeHuge", rangeRequest("bytes=99999999999999999999999-"), kRangeReason},
        BadRequestCase{"RangeOtherUnit", rangeRequest("items=0-9"), kRangeReason},
        BadRequestCase{"RangeTrailingComma", rangeRequest("bytes=1-2,"), kRangeReason},
        BadRequestCase{"RangeMixedBad", rangeRequest("bytes=0-1,2-3,9-5"), kRangeReason},
        BadRequestCase{"PostWithoutBody", postRequest("get-link.jsp", ""), "empty body"},
        BadRequestCase{"PostBadEscape", postRequest("get-link.jsp", "SR=%G1"), "bad percent escape"},
        BadRequestCase{"PostNoPair",
                       postRequest("get-link.jsp", "SR", "application/x-www-form-urlencoded; charset=utf-8"),
                       "not name=value"},
        BadRequestCase{"PostBlank", postRequest("get-link.jsp", "SR=a b"), "unescaped byte 32 at byte 4"},
        BadRequestCase{"PostJson", postRequest("get-link.jsp", "{\"SR\":1}", "application/json"),
                       "Content-Type"}),
    [](const ::testing::TestParamInfo<BadRequestCase>& info) { return info.param.name; });

}  // namespace
}  // namespace refservice::testing
