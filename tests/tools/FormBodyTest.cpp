#include "tools/refservice/FormBody.h"

#include <gtest/gtest.h>

namespace refservice {
namespace {

TEST(FormDecoding, DecodesPercentEscapesAndPlus) {
  const auto form =
      decodeForm("PRODUCTNAME=Orvalen+Suite&SR=%41%2b%26%3D&CancelReason=&url=https%3A%2F%2Fh%2Fa");
  ASSERT_TRUE(form.ok()) << form.error;
  EXPECT_EQ(
      form.fields,
      (Fields{
          {"PRODUCTNAME", "Orvalen Suite"}, {"SR", "A+&="}, {"CancelReason", ""}, {"url", "https://h/a"}}));
}

TEST(FormDecoding, KeepsRepeatedNamesInBodyOrder) {
  const auto form = decodeForm("b=1&a=2&b=3");
  ASSERT_TRUE(form.ok());
  EXPECT_EQ(form.fields, (Fields{{"b", "1"}, {"a", "2"}, {"b", "3"}}));
}

TEST(FormDecoding, DecodesEscapedUtf8AndNulBytes) {
  const auto form = decodeForm("LANGUAGE=%C3%A9t%C3%A9&x=a%00b");
  ASSERT_TRUE(form.ok());
  EXPECT_EQ(form.fields[0].second, "\xc3\xa9t\xc3\xa9");
  EXPECT_EQ(form.fields[1].second, std::string("a\0b", 3));
}

class MalformedForm : public ::testing::TestWithParam<std::string> {};

TEST_P(MalformedForm, IsRejectedWithAReason) {
  const auto form = decodeForm(GetParam());
  EXPECT_FALSE(form.ok());
  EXPECT_FALSE(form.error.empty());
}

INSTANTIATE_TEST_SUITE_P(Bodies, MalformedForm,
                         ::testing::Values("", "a", "=1", "a=1&&b=2", "a=1&", "&a=1", "a=%4", "a=%", "a=%zz",
                                           "a=%4g", "a=b c", "a=\x01", "a\tb=1", "a=\xc3\xa9", "a=1\r\n"));

TEST(FormDecoding, NamesTheOffendingByte) {
  EXPECT_EQ(decodeForm("abc=%zz").error, "bad percent escape at byte 4");
  EXPECT_EQ(decodeForm("a=1&b").error, "pair at byte 4 is not name=value");
}

TEST(PercentEncoding, EncodesAllButUnreservedAndRoundTrips) {
  EXPECT_EQ(percentEncode("Setup 1.0 (x64)+~_-.pkg"), "Setup%201.0%20%28x64%29%2B~_-.pkg");
  const std::string text = "a b&c=\xc3\xbc/%+";
  const auto form = decodeForm("k=" + percentEncode(text));
  ASSERT_TRUE(form.ok());
  EXPECT_EQ(form.fields[0].second, text);
}

}  // namespace
}  // namespace refservice
