#include <gtest/gtest.h>

#include <initializer_list>

#include "ini/IniReader.h"
#include "tests/ini/IniTestSupport.h"

using namespace Qt::Literals::StringLiterals;

namespace {

Section sec(const QString& name, std::initializer_list<std::pair<QString, QString>> settings = {}) {
  return Section{name, settings};
}

struct ReadCase {
  const char* name;
  QString text;
  Config expected;
};

void PrintTo(const ReadCase& c, std::ostream* out) {
  *out << c.name;
}

std::string caseName(const ::testing::TestParamInfo<ReadCase>& info) {
  return info.param.name;
}

class IniReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniReadTest, ReadsTheDocument) {
  EXPECT_EQ(parseINI(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    SectionsAndSettings, IniReadTest,
    ::testing::Values(
        ReadCase{"Empty", u""_s, {}},
        ReadCase{"OnlyBlanksAndLineBreaks", u" \t\r\n\n \u2028\u2029\u3000 "_s, {}},
        ReadCase{"LfLines", u"[A]\nk=v\n"_s, {{sec(u"A"_s, {{u"k"_s, u"v"_s}})}}},
        ReadCase{"CrLfLines", u"[A]\r\nk=v\r\n"_s, {{sec(u"A"_s, {{u"k"_s, u"v"_s}})}}},
        ReadCase{"CrLines", u"[A]\rk=v\rm=w"_s, {{sec(u"A"_s, {{u"k"_s, u"v"_s}, {u"m"_s, u"w"_s}})}}},
        ReadCase{"UnicodeSeparators",
                 u"[A]\u2028k=v\u2029m=w"_s,
                 {{sec(u"A"_s, {{u"k"_s, u"v"_s}, {u"m"_s, u"w"_s}})}}},
        ReadCase{"BlanksAroundEqualsDropped", u"[A]\nk = v\n"_s, {{sec(u"A"_s, {{u"k"_s, u"v"_s}})}}},
        ReadCase{"TrailingBlanksOfValueKept",
                 u"[A]\nk=v  \r\nm=w\t\n"_s,
                 {{sec(u"A"_s, {{u"k"_s, u"v  "_s}, {u"m"_s, u"w\t"_s}})}}},
        ReadCase{"LeadingBlanksOfValueDropped", u"[A]\nk=\t  v w\n"_s, {{sec(u"A"_s, {{u"k"_s, u"v w"_s}})}}},
        ReadCase{"BlankLinesDropped",
                 u"\n\n[A]\n\n\n  k=v\n\n[B]\n\n"_s,
                 {{sec(u"A"_s, {{u"k"_s, u"v"_s}}), sec(u"B"_s)}}},
        ReadCase{"NameKeepsBlanksBeforeTheBracket", u"[  Ureg Info  ]"_s, {{sec(u"Ureg Info  "_s)}}},
        ReadCase{"KeyLosesItsFirstInnerGap",
                 u"[A]\nDisplay Name=x\nDisplay Prod Name = y\n"_s,
                 {{sec(u"A"_s, {{u"DisplayName"_s, u"x"_s}, {u"DisplayProd Name"_s, u"y"_s}})}}},
        ReadCase{"KeyWithPunctuation",
                 u"[A]\nProd_Name=p\nv1.2-x = q"_s,
                 {{sec(u"A"_s, {{u"Prod_Name"_s, u"p"_s}, {u"v1.2-x"_s, u"q"_s}})}}},
        ReadCase{"RepeatedKeyKeepsTheLastValue", u"[A]\nk=1\nk=2"_s, {{sec(u"A"_s, {{u"k"_s, u"2"_s}})}}},
        ReadCase{"RepeatedSectionGivesTwoSections",
                 u"[A]\nk=1\n[A]\nk=2"_s,
                 {{sec(u"A"_s, {{u"k"_s, u"1"_s}}), sec(u"A"_s, {{u"k"_s, u"2"_s}})}}},
        ReadCase{"EmptySections",
                 u"[A]\n[B]\n[C]\nk=v"_s,
                 {{sec(u"A"_s), sec(u"B"_s), sec(u"C"_s, {{u"k"_s, u"v"_s}})}}},
        ReadCase{"SettingOnTheHeaderLine", u"[A]k=v"_s, {{sec(u"A"_s, {{u"k"_s, u"v"_s}})}}},
        ReadCase{"NameWithoutClosingBracketRunsToTheEnd", u"[A\nk=v"_s, {{sec(u"A\nk=v"_s)}}},
        ReadCase{"ValueOnALaterLine", u"[A]\nk=\n\n   v"_s, {{sec(u"A"_s, {{u"k"_s, u"v"_s}})}}},
        ReadCase{"ValueKeepsBracketsSemicolonsAndHashes",
                 u"[A]\nk=[x] ; #y"_s,
                 {{sec(u"A"_s, {{u"k"_s, u"[x] ; #y"_s}})}}},
        ReadCase{"UnicodeLettersMarksAndNumbers",
                 u"[Größe]\nschlüssel=wert ✓\n𝐀𝐁=ünï 𝄞\n٣=digit\ne\u0301t\u00e9=mark"_s,
                 {{sec(u"Größe"_s, {{u"schlüssel"_s, u"wert ✓"_s},
                                    {u"𝐀𝐁"_s, u"ünï 𝄞"_s},
                                    {u"٣"_s, u"digit"_s},
                                    {u"e\u0301t\u00e9"_s, u"mark"_s}})}}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    StepBack, IniReadTest,
    ::testing::Values(ReadCase{"EmptyValueBeforeASetting",
                               u"[A]\nk=\nm=1"_s,
                               {{sec(u"A"_s, {{u"k"_s, u""_s}, {u"m"_s, u"1"_s}})}}},
                      ReadCase{"EmptyValueBeforeASettingCrLf",
                               u"[A]\r\nk=\r\nm=1\r\n"_s,
                               {{sec(u"A"_s, {{u"k"_s, u""_s}, {u"m"_s, u"1"_s}})}}},
                      ReadCase{"EmptyValueBeforeASectionTakesTheHeader",
                               u"[A]\nk=\n[B]\nm=1"_s,
                               {{sec(u"A"_s, {{u"k"_s, u"[B]"_s}, {u"m"_s, u"1"_s}})}}},
                      ReadCase{"ValueHoldingEqualsIsTheNextSetting",
                               u"[A]\nk=a=b"_s,
                               {{sec(u"A"_s, {{u"k"_s, u""_s}, {u"a"_s, u"b"_s}})}}},
                      ReadCase{"ChainOfEquals",
                               u"[A]\nx=y=z = 1"_s,
                               {{sec(u"A"_s, {{u"x"_s, u""_s}, {u"y"_s, u""_s}, {u"z"_s, u"1"_s}})}}},
                      ReadCase{"StepBackOntoAComment",
                               u"[A]\nk=;c=1\nm=2"_s,
                               {{sec(u"A"_s, {{u"k"_s, u""_s}, {u"m"_s, u"2"_s}})}}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Comments, IniReadTest,
    ::testing::Values(
        ReadCase{"BeforeBetweenAndInsideSections",
                 u"; top\n[A]\n; inside\nk=v\n;between\n[B]\n  ; indented\nm=w\n;end"_s,
                 {{sec(u"A"_s, {{u"k"_s, u"v"_s}}), sec(u"B"_s, {{u"m"_s, u"w"_s}})}}},
        ReadCase{"CrLfComments", u";c\r\n[A]\r\n;c\r\nk=v\r\n;c\r\n"_s, {{sec(u"A"_s, {{u"k"_s, u"v"_s}})}}},
        ReadCase{"EmptyCommentEndsAtItsLineBreak",
                 u";\n[A]\n;\nk=v\n; \n[B]"_s,
                 {{sec(u"A"_s, {{u"k"_s, u"v"_s}}), sec(u"B"_s)}}},
        ReadCase{"CommentAtTheVeryEnd", u"[A]\nk=v\n;"_s, {{sec(u"A"_s, {{u"k"_s, u"v"_s}})}}}),
    caseName);

struct ErrorCase {
  const char* name;
  QString text;
  ParseError::Kind kind;
  qsizetype row;
  qsizetype pos;
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
  *out << c.name;
}

class IniErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(IniErrorTest, FailsAtTheRowAndPosition) {
  const ErrorCase& c = GetParam();
  try {
    const Config config = parseINI(c.text);
    ADD_FAILURE() << "read without error: " << ::testing::PrintToString(config);
  } catch (const ParseError& error) {
    EXPECT_EQ(error.kind, c.kind);
    EXPECT_EQ(error.row, c.row);
    EXPECT_EQ(error.pos, c.pos);
  }
}

std::string errorCaseName(const ::testing::TestParamInfo<ErrorCase>& info) {
  return info.param.name;
}

constexpr auto invalidSyntax = ParseError::Kind::invalidSyntax;
constexpr auto unsupportedToken = ParseError::Kind::unsupportedToken;

INSTANTIATE_TEST_SUITE_P(
    Errors, IniErrorTest,
    ::testing::Values(ErrorCase{"EmptySectionName", u"[]"_s, invalidSyntax, 1, 2},
                      ErrorCase{"BlankSectionName", u"[ \t]\nk=v"_s, invalidSyntax, 1, 2},
                      ErrorCase{"OpenBracketAtTheEnd", u"[A]\n["_s, invalidSyntax, 2, 2},
                      ErrorCase{"EmptyValueAtTheVeryEnd", u"[A]\nk="_s, invalidSyntax, 2, 3},
                      ErrorCase{"EmptyValueBeforeOnlyBlankLines", u"[A]\r\nk= \r\n\r\n"_s, invalidSyntax, 2,
                                3},
                      ErrorCase{"KeyWithoutEquals", u"[A]\nkey"_s, invalidSyntax, 2, 4},
                      ErrorCase{"KeyWithoutEqualsBeforeBlanks", u"[A]\nkey \n\n"_s, invalidSyntax, 2, 4},
                      ErrorCase{"SettingBeforeAnySection", u"k=v\n[A]"_s, unsupportedToken, 1, 1},
                      ErrorCase{"HashIsNoCommentAtTheTop", u"# c\n[A]"_s, unsupportedToken, 1, 1},
                      ErrorCase{"HashLineEndsTheSection", u"[A]\nk=v\n# c"_s, unsupportedToken, 3, 1},
                      ErrorCase{"UnderscoreKeyEndsTheSection", u"[A]\n_k=1"_s, unsupportedToken, 2, 1},
                      ErrorCase{"IndentedTokenAfterCrLf", u"[A]\r\n  _k=1"_s, unsupportedToken, 2, 3},
                      ErrorCase{"StrayEquals", u"[A]\nk=v\n = x"_s, unsupportedToken, 3, 2},
                      ErrorCase{"ValueStartingWithEquals", u"[A]\nk==1"_s, unsupportedToken, 2, 3},
                      ErrorCase{"ColumnsCountCharactersNotUnits", u"[𝐀𝐁] #"_s, unsupportedToken, 1, 6},
                      ErrorCase{"UnicodeSeparatorsEndRows", u"[A]\u2028k=v\u2029#"_s, unsupportedToken, 3, 1},
                      ErrorCase{"CrAloneEndsRows", u"[A]\rk=v\r\r#"_s, unsupportedToken, 4, 1}),
    errorCaseName);

TEST(IniErrorDetailTest, CarriesTheWholeLineAndDescribesItself) {
  const QString text = u"[A]\r\nk=v\r\n  _k=1\r\nnext"_s;
  try {
    parseINI(text);
    ADD_FAILURE() << "read without error";
  } catch (const ParseError& error) {
    EXPECT_EQ(text.sliced(error.line.lowerBound, error.line.upperBound - error.line.lowerBound),
              u"  _k=1\r\n"_s);
    EXPECT_EQ(error.description(), u"Unsupported token at row 3, position 3"_s);
    EXPECT_STREQ(error.what(), "Unsupported token at row 3, position 3");
  }
  const ParseError invalid(ParseError::Kind::invalidSyntax, TextPosition{{0, 4}, 12, 105});
  EXPECT_EQ(invalid.description(), u"Invalid syntax at row 12, position 105"_s);
}

}  // namespace
