#include <gtest/gtest.h>

#include "service/ServiceRequest.h"

namespace {

struct Case {
  const char* text;
  std::optional<std::int64_t> value;
};

class DecimalParse : public ::testing::TestWithParam<Case> {};

TEST_P(DecimalParse, ReadsOnlyASignedRunOfDigits) {
  EXPECT_EQ(parseDecimalInteger(QString::fromUtf8(GetParam().text)), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DecimalParse,
    ::testing::Values(Case{"45", 45}, Case{"+45", 45}, Case{"-7", -7}, Case{"045", 45}, Case{"0", 0},
                      Case{"-0", 0}, Case{"9223372036854775807", INT64_MAX},
                      Case{"-9223372036854775808", INT64_MIN}, Case{"9223372036854775808", std::nullopt},
                      Case{"-9223372036854775809", std::nullopt}, Case{"99999999999999999999", std::nullopt},
                      Case{"", std::nullopt}, Case{"+", std::nullopt}, Case{"-", std::nullopt},
                      Case{"+-4", std::nullopt}, Case{" 45", std::nullopt}, Case{"45 ", std::nullopt},
                      Case{"45\n", std::nullopt}, Case{"4.5", std::nullopt}, Case{"0x10", std::nullopt},
                      Case{"\xd9\xa4\xd9\xa5",
                           std::nullopt} /* Arabic-Indic digits are not decimal digits here */));

}  // namespace
