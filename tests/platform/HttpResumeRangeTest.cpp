#include <gtest/gtest.h>

#include "platform/HttpResumeRange.h"

namespace {

using ov::HttpResponse;
using ov::ResumePlan;

HttpResponse answer(int status, ov::HttpHeaders fields) {
  HttpResponse response;
  response.statusCode = status;
  response.headerFields = std::move(fields);
  return response;
}

TEST(ContentRangeTest, ParsesSingleRanges) {
  const auto range = ov::parseContentRange("bytes 5242880-10485759/20000000");
  ASSERT_TRUE(range.has_value());
  EXPECT_EQ(range->first, 5242880);
  EXPECT_EQ(range->last, 10485759);
  EXPECT_EQ(range->completeLength, 20000000);
  const auto unknownLength = ov::parseContentRange("Bytes 0-0/*");
  ASSERT_TRUE(unknownLength.has_value());
  EXPECT_FALSE(unknownLength->completeLength.has_value());
  for (const char* bad : {"bytes 9-5/10", "bytes 0-9/9", "bytes */10", "bytes=0-9/10", "items 0-9/10",
                          "bytes 0-9", "bytes -1-9/10", "bytes 0-9/10 x"}) {
    EXPECT_FALSE(ov::parseContentRange(std::string(bad)).has_value()) << bad;
  }
}

struct PlanCase {
  std::string name;
  HttpResponse first;
  std::int64_t written;
  std::optional<std::string> range;  // nothing: the answer cannot be continued
  std::int64_t start = 0;
  std::optional<std::int64_t> last;
};

class PlanResumeTest : public testing::TestWithParam<PlanCase> {};

TEST_P(PlanResumeTest, NarrowsTheRangeByTheBytesKept) {
  const auto plan = ov::planResume(GetParam().first, GetParam().written);
  ASSERT_EQ(plan.has_value(), GetParam().range.has_value());
  if (!plan) return;
  EXPECT_EQ(plan->range, *GetParam().range);
  EXPECT_EQ(plan->first, GetParam().start);
  EXPECT_EQ(plan->last, GetParam().last);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlanResumeTest,
    testing::Values(PlanCase{"Chunk", answer(206, {{"Content-Range", "bytes 5242880-10485759/20000000"}}),
                             1000, "bytes=5243880-10485759", 5243880, 10485759},
                    PlanCase{"FirstChunk", answer(206, {{"content-range", "bytes 0-5242879/6000000"}}), 1,
                             "bytes=1-5242879", 1, 5242879},
                    PlanCase{"WholeBody", answer(200, {{"Content-Length", "100"}}), 40, "bytes=40-", 40, 99},
                    PlanCase{"WholeBodyUnknownLength", answer(200, {}), 40, "bytes=40-", 40, std::nullopt},
                    PlanCase{"ErrorAnswer", answer(404, {{"Content-Length", "100"}}), 40, std::nullopt, 0,
                             std::nullopt},
                    PlanCase{"PartialWithoutRange", answer(206, {}), 40, std::nullopt, 0, std::nullopt},
                    PlanCase{"MoreThanTheRange", answer(206, {{"Content-Range", "bytes 0-9/20"}}), 11,
                             std::nullopt, 0, std::nullopt}),
    [](const testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

struct CheckCase {
  std::string name;
  HttpResponse resumed;
  bool accepted;
};

class CheckResumedAnswerTest : public testing::TestWithParam<CheckCase> {};

TEST_P(CheckResumedAnswerTest, AcceptsOnlyTheMatching206) {
  const auto plan = ov::planResume(answer(206, {{"Content-Range", "bytes 100-199/1000"}}), 30);
  ASSERT_TRUE(plan.has_value());
  const auto why = ov::checkResumedAnswer(*plan, GetParam().resumed);
  EXPECT_EQ(!why.has_value(), GetParam().accepted) << why.value_or("");
}

INSTANTIATE_TEST_SUITE_P(
    Table, CheckResumedAnswerTest,
    testing::Values(CheckCase{"Exact", answer(206, {{"Content-Range", "bytes 130-199/1000"}}), true},
                    CheckCase{"UnknownTotal", answer(206, {{"Content-Range", "bytes 130-199/*"}}), true},
                    CheckCase{"WholeBody", answer(200, {{"Content-Length", "1000"}}), false},
                    CheckCase{"WrongStart", answer(206, {{"Content-Range", "bytes 100-199/1000"}}), false},
                    CheckCase{"WrongEnd", answer(206, {{"Content-Range", "bytes 130-999/1000"}}), false},
                    CheckCase{"OtherResource", answer(206, {{"Content-Range", "bytes 130-199/2000"}}), false},
                    CheckCase{"NoContentRange", answer(206, {}), false},
                    CheckCase{"NotSatisfiable", answer(416, {{"Content-Range", "bytes */1000"}}), false}),
    [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

TEST(WithRangeTest, ReplacesTheRangeInPlaceAndKeepsEveryOtherField) {
  const ov::HttpHeaders original = {{"If-Range", "\"e\""}, {"range", "bytes=0-9"}, {"X-A", "1"}};
  EXPECT_EQ(ov::withRange(original, "bytes=5-9"),
            (ov::HttpHeaders{{"If-Range", "\"e\""}, {"range", "bytes=5-9"}, {"X-A", "1"}}));
  EXPECT_EQ(ov::withRange({{"X-A", "1"}}, "bytes=5-"),
            (ov::HttpHeaders{{"X-A", "1"}, {"Range", "bytes=5-"}}));
}

}  // namespace
