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
  EXPECT_EQ(answer.rfind("HTTP/1.1 400 ", 0), 0u) << answer;
  // One answer only: whatever followed the bad request is not read as another one.
  EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos) << answer;

  const auto records = service().requests();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().status, 400);
  EXPECT_NE(records.back().error.find(GetParam().reason), std::string::npos) << records.back().error;
  const auto lines = logLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("400 ", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find(GetParam().reason), std::string::npos) << lines.back();

  const auto after = get("/installers/Setup.pkg", {{"Range", "bytes=0-9"}});
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 206);
}

const std::string kRangeReason = "Range header is not a byte range set";

std::string rangeRequest(const std::string& range) {
  return "GET /installers/Setup.pkg HTTP/1.1\r\nHost: x\r\nRange: " + range +
         "\r\n\r\nGET / HTTP/1.1\r\n\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, BadRequest,
    ::testing::Values(
        BadRequestCase{"GarbageMethod", "FOO /installers/Setup.pkg HTTP/1.1\r\nHost: x\r\n\r\n",
                       "malformed request"},
        BadRequestCase{"GarbageLine", "\x01\x02garbage\r\n\r\nGET / HTTP/1.1\r\n\r\n", "malformed request"},
        BadRequestCase{"NoVersion", "GET /installers/Setup.pkg\r\n\r\n", "malformed request"},
        BadRequestCase{"BadVersion", "GET / HTTP/9.9\r\nHost: x\r\n\r\n", "malformed request"},
        BadRequestCase{"Trace", "TRACE / HTTP/1.1\r\nHost: x\r\n\r\n", "method TRACE is not served"},
        BadRequestCase{"Connect", "CONNECT a:443 HTTP/1.1\r\nHost: a\r\n\r\n",
                       "method CONNECT is not served"},
        BadRequestCase{"RangeLetters", rangeRequest("bytes=abc"), kRangeReason},
        BadRequestCase{"RangeBackwards", rangeRequest("bytes=9-3"), kRangeReason},
        BadRequestCase{"RangeHuge", rangeRequest("bytes=99999999999999999999999-"), kRangeReason},
        BadRequestCase{"RangeHugeEnd", rangeRequest("bytes=0-99999999999999999999999"), kRangeReason},
        BadRequestCase{"RangeOtherUnit", rangeRequest("items=0-9"), kRangeReason},
        BadRequestCase{"RangeEmptyEnds", rangeRequest("bytes=-"), kRangeReason},
        BadRequestCase{"RangeMixedBad", rangeRequest("bytes=0-1,2-3,9-5"), kRangeReason},
        BadRequestCase{"PostWithoutBody",
                       "POST /prog/util/downloader/get-link.jsp HTTP/1.1\r\nHost: x\r\n"
                       "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\nConnection: "
                       "close\r\n\r\n",
                       "empty body"},
        BadRequestCase{"TargetTooLong", "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n",
                       "request target too long"}),
    [](const ::testing::TestParamInfo<BadRequestCase>& info) { return info.param.name; });

TEST_F(ServiceTest, ARequestWithoutHostOrHeadersIsStillAnswered) {
  const auto answer = raw("GET /installers/Setup.pkg HTTP/1.0\r\nRange: bytes=0-3\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 206 ", 0), 0u) << answer;
  EXPECT_EQ(answer.substr(answer.size() - 4), installerBytes(0, 3));
}

TEST_F(ServiceTest, AClientThatHangsUpMidAnswerLeavesAnAbortedRecord) {
  // Paced, so the body is still being written when the client gives up after its first bytes.
  service().updateScenario([](Scenario& s) { s.installer.rateLimit = 50'000; });
  std::size_t received = 0;
  const auto result = client()->Get("/installers/Setup.pkg", [&](const char*, std::size_t n) {
    received += n;
    return received < 5000;
  });
  EXPECT_FALSE(result);
  const auto record = lastFinishedRecord();
  EXPECT_EQ(record.outcome, Outcome::Aborted);
  EXPECT_LT(record.bytesSent, static_cast<std::int64_t>(kInstallerSize));
}

}  // namespace
}  // namespace refservice::testing
