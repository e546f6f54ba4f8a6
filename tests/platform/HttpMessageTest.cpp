#include <gtest/gtest.h>

#include "platform/HttpBodyText.h"
#include "platform/HttpClient.h"
#include "platform/HttpResponseParser.h"

namespace {

using ov::FormFields;
using ov::HttpResponse;

struct FormCase {
  FormFields fields;
  std::string encoded;
};

class FormEncodeTest : public testing::TestWithParam<FormCase> {};

TEST_P(FormEncodeTest, EncodesUtf8BytesExceptUnreservedOnes) {
  EXPECT_EQ(ov::formEncode(GetParam().fields), GetParam().encoded);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormEncodeTest,
    testing::Values(FormCase{{}, ""}, FormCase{{{"a", ""}}, "a="},
                    FormCase{{{"Prod_Name", "AZaz09-._~"}}, "Prod_Name=AZaz09-._~"},
                    FormCase{{{"k", " !\"#$%&'()*+,/:;=?@[]"}},
                             "k=%20%21%22%23%24%25%26%27%28%29%2A%2B%2C%2F%3A%3B%3D%3F%40%5B%5D"},
                    FormCase{{{"k", QString::fromUtf8("é€😀")}}, "k=%C3%A9%E2%82%AC%F0%9F%98%80"},
                    FormCase{{{"a b", "1"}, {"c&d", "x=y"}}, "a%20b=1&c%26d=x%3Dy"},
                    FormCase{{{"k", "line\r\nnext\t"}}, "k=line%0D%0Anext%09"}));

TEST(HttpResponseTest, FindsTheFirstFieldOfANameWhateverItsCase) {
  HttpResponse response;
  response.headerFields = {{"content-length", "12"}, {"ETAG", "\"a\""}, {"Etag", "\"b\""}};
  EXPECT_EQ(response.value("Content-Length"), "12");
  EXPECT_EQ(response.value("Etag"), "\"a\"");
  EXPECT_EQ(response.value("etag"), "\"a\"");
  EXPECT_FALSE(response.value("Content-Range").has_value());
  EXPECT_FALSE(response.value("Content-Lengt").has_value());
}

TEST(HttpResponseParserTest, KeepsTheFinalBlockAfterRedirectsAndInterimAnswers) {
  ov::HttpResponseParser parser;
  const std::vector<std::string> lines = {"HTTP/1.1 302 Found\r\n",
                                          "Location: /next\r\n",
                                          "Content-Length: 0\r\n",
                                          "\r\n",
                                          "HTTP/1.1 100 Continue\r\n",
                                          "\r\n",
                                          "HTTP/1.1 206 Partial Content\r\n",
                                          "content-range: bytes 0-9/20\r\n",
                                          "X-Folded: one\r\n",
                                          "  two\r\n",
                                          "Empty:\r\n",
                                          "\r\n",
                                          "Trailer-Field: ignored\r\n",
                                          "\r\n"};
  std::vector<int> completed;
  for (const auto& line : lines) {
    if (auto block = parser.addLine(line)) completed.push_back(block->statusCode);
  }
  EXPECT_EQ(completed, (std::vector<int>{302, 100, 206}));
  ASSERT_TRUE(parser.lastResponse().has_value());
  const HttpResponse& last = *parser.lastResponse();
  EXPECT_EQ(last.statusCode, 206);
  EXPECT_EQ(last.headerFields,
            (ov::HttpHeaders{{"content-range", "bytes 0-9/20"}, {"X-Folded", "one two"}, {"Empty", ""}}));
  parser.reset();
  EXPECT_FALSE(parser.lastResponse().has_value());
}

TEST(HttpResponseParserTest, OnlyA3xxWithLocationIsFollowed) {
  HttpResponse response;
  response.statusCode = 302;
  EXPECT_FALSE(ov::isFollowedRedirect(response));
  response.headerFields = {{"location", "https://x/"}};
  EXPECT_TRUE(ov::isFollowedRedirect(response));
  response.statusCode = 200;
  EXPECT_FALSE(ov::isFollowedRedirect(response));
}

TEST(HttpResponseParserTest, ContentLengthIsDigitsOnly) {
  EXPECT_EQ(ov::parseContentLength("1048576"), 1048576);
  EXPECT_EQ(ov::parseContentLength("0"), 0);
  for (const char* bad : {"", "-5", "+5", " 5", "5 ", "5x", "99999999999999999999"}) {
    EXPECT_FALSE(ov::parseContentLength(std::string(bad)).has_value()) << bad;
  }
  EXPECT_FALSE(ov::parseContentLength(std::nullopt).has_value());
}

struct TextCase {
  std::string name;
  std::string body;
  std::optional<std::string> contentType;
  std::optional<QString> text;  // nothing: an error is expected
};

class BodyTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(BodyTextTest, DecodesByTheDeclaredCharset) {
  const ov::BodyText decoded = ov::decodeBodyText(GetParam().body, GetParam().contentType);
  EXPECT_EQ(decoded.text, GetParam().text);
  EXPECT_EQ(decoded.error.empty(), GetParam().text.has_value()) << decoded.error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BodyTextTest,
    testing::Values(
        TextCase{"NoContentTypeIsUtf8", "caf\xC3\xA9", std::nullopt, QString::fromUtf8("café")},
        TextCase{"NoCharsetIsUtf8", "caf\xC3\xA9", "text/plain", QString::fromUtf8("café")},
        TextCase{"Latin1", "caf\xE9", "text/plain; charset=ISO-8859-1", QString::fromUtf8("café")},
        TextCase{"Latin1QuotedAlias", "caf\xE9", "text/html;Charset=\"latin1\"", QString::fromUtf8("café")},
        TextCase{"Utf8Declared", "\xE2\x82\xAC", "text/plain; format=flowed; charset=UTF-8",
                 QString::fromUtf8("€")},
        TextCase{"EmptyBodyIsEmptyText", "", "text/plain", QStringLiteral("")},
        TextCase{"InvalidUtf8IsAnError", "caf\xE9", "text/plain; charset=utf-8", std::nullopt},
        TextCase{"TruncatedUtf8IsAnError", "\xE2\x82", std::nullopt, std::nullopt},
        TextCase{"UnknownCharsetIsAnError", "abc", "text/plain; charset=x-no-such-set", std::nullopt}),
    [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

TEST(BodyTextTest, EmptyBodyIsANonNullText) {
  const auto decoded = ov::decodeBodyText("", std::nullopt);
  ASSERT_TRUE(decoded.text.has_value());
  EXPECT_FALSE(decoded.text->isNull());
}

}  // namespace
