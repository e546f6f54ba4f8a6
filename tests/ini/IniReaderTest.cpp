// The INI reader: each text with the document it reads as, or the error it
// fails with at its row and position.

#include <gtest/gtest.h>

#include "ini/IniReader.h"
#include "tests/ini/IniTestSupport.h"
#include "tests/support/Files.h"

using namespace Qt::Literals::StringLiterals;

namespace ov::test {
namespace {

using test::PrintTo;

struct ReadCase {
  const char* name;
  QString text;
  QString outcome;  // see describe() and outcome()
};

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, ReadsTheDocumentOrFailsAtThePlace) {
  EXPECT_EQ(outcome([] { return parseINI(GetParam().text); }), GetParam().outcome);
}

const std::vector<ReadCase> kTexts = {
    {"Empty", u""_s, u""_s},
    {"OnlyBlanksAndLineBreaks", u" \t\r\n\n \u2028\u2029\u3000 "_s, u""_s},
    {"LfLines", u"[A]\nk=v\n"_s, u"[A]k=v;"_s},
    {"CrLfLines", u"[A]\r\nk=v\r\n"_s, u"[A]k=v;"_s},
    {"CrLines", u"[A]\rk=v\rm=w"_s, u"[A]k=v;m=w;"_s},
    {"UnicodeSeparators", u"[A]\u2028k=v\u2029m=w"_s, u"[A]k=v;m=w;"_s},
    {"BlanksAroundEqualsDropped", u"[A]\nk = v\n"_s, u"[A]k=v;"_s},
    {"TrailingBlanksOfValueKept", u"[A]\nk=v  \r\nm=w\t\n"_s, u"[A]k=v  ;m=w\t;"_s},
    {"LeadingBlanksOfValueDropped", u"[A]\nk=\t  v w\n"_s, u"[A]k=v w;"_s},
    {"BlankLinesDropped", u"\n\n[A]\n\n\n  k=v\n\n[B]\n\n"_s, u"[A]k=v;[B]"_s},
    {"NameKeepsBlanksBeforeTheBracket", u"[  Ureg Info  ]"_s, u"[Ureg Info  ]"_s},
    {"KeyLosesItsFirstInnerGap", u"[A]\nDisplay Name=x\nDisplay Prod Name = y\n"_s,
     u"[A]DisplayName=x;DisplayProd Name=y;"_s},
    {"KeyWithDigitsAndPunctuation", u"[A]\nProd_Name=p\n0v1.2-x = q"_s, u"[A]0v1.2-x=q;Prod_Name=p;"_s},
    {"RepeatedKeyKeepsTheLastValue", u"[A]\nk=1\nk=2"_s, u"[A]k=2;"_s},
    {"RepeatedSectionGivesTwoSections", u"[A]\nk=1\n[A]\nk=2"_s, u"[A]k=1;[A]k=2;"_s},
    {"EmptySections", u"[A]\n[B]\n[C]\nk=v"_s, u"[A][B][C]k=v;"_s},
    {"SettingOnTheHeaderLine", u"[A]k=v"_s, u"[A]k=v;"_s},
    {"NameWithoutClosingBracketRunsToTheEnd", u"[A\nk=v"_s, u"[A\nk=v]"_s},
    {"ValueOnALaterLine", u"[A]\nk=\n\n   v"_s, u"[A]k=v;"_s},
    {"ValueKeepsBracketsSemicolonsAndHashes", u"[A]\nk=[x] ; #y"_s, u"[A]k=[x] ; #y;"_s},
    {"UnicodeLettersMarksAndNumbers", u"[Größe]\nschlüssel=wert ✓\n𝐀𝐁=ünï 𝄞\n٣=digit\ne\u0301t\u00e9=mark"_s,
     u"[Größe]e\u0301té=mark;schlüssel=wert ✓;٣=digit;𝐀𝐁=ünï 𝄞;"_s},
    {"EmptyValueBeforeASetting", u"[A]\nk=\nm=1"_s, u"[A]k=;m=1;"_s},
    {"EmptyValueBeforeASettingCrLf", u"[A]\r\nk=\r\nm=1\r\n"_s, u"[A]k=;m=1;"_s},
    {"EmptyValueBeforeASectionTakesTheHeader", u"[A]\nk=\n[B]\nm=1"_s, u"[A]k=[B];m=1;"_s},
    {"ValueHoldingEqualsIsTheNextSetting", u"[A]\nk=a=b"_s, u"[A]a=b;k=;"_s},
    {"ChainOfEquals", u"[A]\nx=y=z = 1"_s, u"[A]x=;y=;z=1;"_s},
    {"StepBackOntoAComment", u"[A]\nk=;c=1\nm=2"_s, u"[A]k=;m=2;"_s},
    {"BeforeBetweenAndInsideSections", u"; top\n[A]\n; inside\nk=v\n;between\n[B]\n  ; indented\nm=w\n;end"_s,
     u"[A]k=v;[B]m=w;"_s},
    {"CrLfComments", u";c\r\n[A]\r\n;c\r\nk=v\r\n;c\r\n"_s, u"[A]k=v;"_s},
    {"EmptyCommentEndsAtItsLineBreak", u";\n[A]\n;\nk=v\n; \n[B]"_s, u"[A]k=v;[B]"_s},
    {"CommentAtTheVeryEnd", u"[A]\nk=v\n;"_s, u"[A]k=v;"_s},
    {"EmptySectionName", u"[]"_s, u"Invalid syntax at row 1, position 2"_s},
    {"BlankSectionName", u"[ \t]\nk=v"_s, u"Invalid syntax at row 1, position 2"_s},
    {"OpenBracketAtTheEnd", u"[A]\n["_s, u"Invalid syntax at row 2, position 2"_s},
    {"EmptyValueAtTheVeryEnd", u"[A]\nk="_s, u"Invalid syntax at row 2, position 3"_s},
    {"EmptyValueBeforeOnlyBlankLines", u"[A]\r\nk= \r\n\r\n"_s, u"Invalid syntax at row 2, position 3"_s},
    {"KeyWithoutEquals", u"[A]\nkey"_s, u"Invalid syntax at row 2, position 4"_s},
    {"KeyWithoutEqualsBeforeBlanks", u"[A]\nkey \n\n"_s, u"Invalid syntax at row 2, position 4"_s},
    {"SettingBeforeAnySection", u"k=v\n[A]"_s, u"Unsupported token at row 1, position 1"_s},
    {"HashIsNoCommentAtTheTop", u"# c\n[A]"_s, u"Unsupported token at row 1, position 1"_s},
    {"HashLineEndsTheSection", u"[A]\nk=v\n# c"_s, u"Unsupported token at row 3, position 1"_s},
    {"UnderscoreKeyEndsTheSection", u"[A]\n_k=1"_s, u"Unsupported token at row 2, position 1"_s},
    {"IndentedTokenAfterCrLf", u"[A]\r\n  _k=1"_s, u"Unsupported token at row 2, position 3"_s},
    {"StrayEquals", u"[A]\nk=v\n = x"_s, u"Unsupported token at row 3, position 2"_s},
    {"ValueStartingWithEquals", u"[A]\nk==1"_s, u"Unsupported token at row 2, position 3"_s},
    {"ColumnsCountCharactersNotUnits", u"[𝐀𝐁] #"_s, u"Unsupported token at row 1, position 6"_s},
    {"UnicodeSeparatorsEndRows", u"[A]\u2028k=v\u2029#"_s, u"Unsupported token at row 3, position 1"_s},
    {"CrAloneEndsRows", u"[A]\rk=v\r\r#"_s, u"Unsupported token at row 4, position 1"_s},
};

INSTANTIATE_TEST_SUITE_P(Texts, IniRead, ::testing::ValuesIn(kTexts), rowName);

TEST(IniReadError, CarriesTheWholeLineAndDescribesItself) {
  const QString text = u"[A]\r\nk=v\r\n  _k=1\r\nnext"_s;
  try {
    parseINI(text);
    ADD_FAILURE() << "read without error";
  } catch (const ParseError& error) {
    EXPECT_EQ(error.kind, ParseError::Kind::unsupportedToken);
    EXPECT_EQ(text.sliced(error.line.lowerBound, error.line.upperBound - error.line.lowerBound),
              u"  _k=1\r\n"_s);
    EXPECT_STREQ(error.what(), "Unsupported token at row 3, position 3");
  }
}

}  // namespace
}  // namespace ov::test
