#include <gtest/gtest.h>

#include "platform/HttpResumeRange.h"

namespace {

using ov::HttpResponse;

HttpResponse answer(int status, ov::HttpHeaders fields = {}) {
  HttpResponse response;
  response.statusCode = status;
  response.headerFields = std::move(fields);
  return response;
}

HttpResponse partial(const std::string& contentRange) {
  return answer(206, {{"content-range", contentRange}});
}

struct PlanCase {
  std::string name;
  HttpResponse first;
  std::int64_t written;
  std::optional<std::string> range;  // nothing: the answer cannot be continued
  HttpResponse resumed;              // an answer the plan must accept
};

void PrintTo(const PlanCase& c, std::ostream* os) {
  *os << c.name;
}

class PlanResumeTest : public testing::TestWithParam<PlanCase> {};

TEST_P(PlanResumeTest, NarrowsTheRangeByTheBytesKeptAndAcceptsOnlyItsContinuation) {
  const auto plan = ov::planResume(GetParam().first, GetParam().written);
  ASSERT_EQ(plan ? std::optional(plan->range) : std::nullopt, GetParam().range);
  if (!plan) return;
  EXPECT_EQ(ov::checkResumedAnswer(*plan, GetParam().resumed), std::nullopt);
  EXPECT_NE(ov::checkResumedAnswer(*plan, GetParam().first), std::nullopt) << "the first answer again";
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlanResumeTest,
    testing::Values(
        PlanCase{"Chunk", partial("bytes 5242880-10485759/20000000"), 1000, "bytes=5243880-10485759",
                 partial("bytes 5243880-10485759/20000000")},
        PlanCase{"UnknownTotal", partial("Bytes 100-199/*"), 30, "bytes=130-199", partial("bytes 130-199/*")},
        PlanCase{"WholeBody", answer(200, {{"Content-Length", "100"}}), 40, "bytes=40-",
                 partial("bytes 40-99/100")},
        PlanCase{"WholeBodyUnknownLength", answer(200), 40, "bytes=40-", partial("bytes 40-99/100")},
        PlanCase{"ErrorAnswer", answer(404, {{"Content-Length", "100"}}), 40, std::nullopt, {}},
        PlanCase{"PartialWithoutRange", answer(206), 40, std::nullopt, {}},
        PlanCase{"MoreThanTheRange", partial("bytes 0-9/20"), 11, std::nullopt, {}},
        PlanCase{"BackwardsRange", partial("bytes 9-5/10"), 1, std::nullopt, {}},
        PlanCase{"RangeBeyondTheTotal", partial("bytes 0-9/9"), 1, std::nullopt, {}},
        PlanCase{"OtherUnit", partial("items 0-9/10"), 1, std::nullopt, {}},
        PlanCase{"TrailingText", partial("bytes 0-9/10 x"), 1, std::nullopt, {}}),
    [](const testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

}  // namespace
