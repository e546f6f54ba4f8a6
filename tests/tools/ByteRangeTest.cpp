#include "tools/refservice/ByteRange.h"

#include <gtest/gtest.h>

namespace refservice {
namespace {

struct ParseCase {
  std::string header;
  std::optional<std::vector<ByteRangeSpec>> expected;
};

ByteRangeSpec fromTo(std::int64_t first, std::int64_t last) {
  return {first, last, std::nullopt};
}
ByteRangeSpec from(std::int64_t first) {
  return {first, std::nullopt, std::nullopt};
}
ByteRangeSpec suffix(std::int64_t n) {
  return {0, std::nullopt, n};
}

class RangeHeaderParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(RangeHeaderParse, GivesTheSpecsOrNothing) {
  EXPECT_EQ(parseRangeHeader(GetParam().header), GetParam().expected) << GetParam().header;
}

INSTANTIATE_TEST_SUITE_P(
    Valid, RangeHeaderParse,
    ::testing::Values(ParseCase{"bytes=0-5242879", std::vector{fromTo(0, 5242879)}},
                      ParseCase{"bytes=0-0", std::vector{fromTo(0, 0)}},
                      ParseCase{"bytes=5242880-", std::vector{from(5242880)}},
                      ParseCase{"bytes=-500", std::vector{suffix(500)}},
                      ParseCase{"bytes=-0", std::vector{suffix(0)}},
                      ParseCase{"Bytes=1-2", std::vector{fromTo(1, 2)}},
                      ParseCase{"bytes=0-1, 5-6,9-", std::vector{fromTo(0, 1), fromTo(5, 6), from(9)}},
                      ParseCase{"bytes=9223372036854775806-9223372036854775807",
                                std::vector{fromTo(9223372036854775806, 9223372036854775807)}}));

INSTANTIATE_TEST_SUITE_P(
    Malformed, RangeHeaderParse,
    ::testing::Values(ParseCase{"", std::nullopt}, ParseCase{"bytes=", std::nullopt},
                      ParseCase{"bytes=-", std::nullopt}, ParseCase{"bytes=a-b", std::nullopt},
                      ParseCase{"bytes=5-3", std::nullopt}, ParseCase{"bytes=1-2,", std::nullopt},
                      ParseCase{"bytes=1-2,,3-4", std::nullopt}, ParseCase{"items=0-1", std::nullopt},
                      ParseCase{"bytes 0-1", std::nullopt}, ParseCase{"bytes=+1-2", std::nullopt},
                      ParseCase{"bytes=-1-2", std::nullopt}, ParseCase{"bytes=1--2", std::nullopt},
                      ParseCase{"bytes=0x10-", std::nullopt},
                      ParseCase{"bytes=99999999999999999999-", std::nullopt},
                      ParseCase{"bytes=0-99999999999999999999", std::nullopt},
                      ParseCase{"bytes=-99999999999999999999", std::nullopt}));

struct ResolveCase {
  ByteRangeSpec spec;
  std::int64_t size;
  std::optional<ResolvedRange> expected;
};

class RangeResolution : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(RangeResolution, SelectsTheBytesOfTheFile) {
  EXPECT_EQ(resolveRange(GetParam().spec, GetParam().size), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RangeResolution,
    ::testing::Values(
        ResolveCase{fromTo(0, 9), 100, ResolvedRange{0, 9}},
        ResolveCase{fromTo(95, 200), 100, ResolvedRange{95, 99}},
        ResolveCase{from(90), 100, ResolvedRange{90, 99}}, ResolveCase{from(99), 100, ResolvedRange{99, 99}},
        ResolveCase{from(100), 100, std::nullopt}, ResolveCase{fromTo(100, 120), 100, std::nullopt},
        ResolveCase{suffix(10), 100, ResolvedRange{90, 99}},
        ResolveCase{suffix(1000), 100, ResolvedRange{0, 99}}, ResolveCase{suffix(0), 100, std::nullopt},
        ResolveCase{fromTo(0, 0), 0, std::nullopt}, ResolveCase{suffix(5), 0, std::nullopt},
        ResolveCase{fromTo(5368709000, 5368709119), 5368709120, ResolvedRange{5368709000, 5368709119}}));

TEST(ContentRange, WritesFirstLastAndSize) {
  EXPECT_EQ(contentRange({5242880, 10485758}, 10485759), "bytes 5242880-10485758/10485759");
  EXPECT_EQ(ResolvedRange({5242880, 10485758}).length(), 5242879);
}

}  // namespace
}  // namespace refservice
