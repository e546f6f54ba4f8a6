#include <gtest/gtest.h>

#include "ini/IniScanner.h"

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(IniScannerTest, ScanUpToCharactersStopsAtTheSetAndSkipsFirst) {
  const QString text = u"  \nabc\r\ndef"_s;
  IniScanner scanner(text);
  EXPECT_EQ(scanner.scanUpToCharacters(CharacterSets::lineBreaks), u"abc"_s);
  EXPECT_EQ(scanner.currentIndex(), 6);
  EXPECT_EQ(scanner.scanUpToCharacters(CharacterSets::lineBreaks), u"def"_s);
  EXPECT_TRUE(scanner.isAtEnd());
  EXPECT_EQ(scanner.scanUpToCharacters(CharacterSets::lineBreaks), std::nullopt);
  EXPECT_EQ(scanner.currentIndex(), text.size());
}

TEST(IniScannerTest, ScanUpToCharactersGivesNothingWhenNothingIsScanned) {
  const QString text = u"x  \ny"_s;
  IniScanner scanner(text);
  scanner.setCurrentIndex(1);
  scanner.charactersToBeSkipped = CharacterSets::blanks;
  EXPECT_EQ(scanner.scanUpToCharacters(CharacterSets::lineBreaks), std::nullopt);
  EXPECT_EQ(scanner.currentIndex(), 1);
}

TEST(IniScannerTest, AFailedScanLeavesThePositionBeforeTheSkip) {
  const QString text = u" \n\tx=1"_s;
  IniScanner scanner(text);
  EXPECT_EQ(scanner.scanString(u"["), std::nullopt);
  EXPECT_EQ(scanner.scanCharacters(CharacterSets::lineBreaks), std::nullopt);
  EXPECT_EQ(scanner.scanUpToString(u"x"), std::nullopt);
  EXPECT_EQ(scanner.currentIndex(), 0);
  EXPECT_EQ(scanner.indexAfterSkipping(), 3);
  EXPECT_FALSE(scanner.isAtEnd());
  EXPECT_EQ(scanner.scanString(u"x"), u"x"_s);
  EXPECT_EQ(scanner.currentIndex(), 4);
}

TEST(IniScannerTest, ScanUpToStringRunsToTheEndWhenAbsent) {
  const QString text = u"[name] [rest"_s;
  IniScanner scanner(text);
  ASSERT_TRUE(scanner.scanString(u"["));
  EXPECT_EQ(scanner.scanUpToString(u"]"), u"name"_s);
  ASSERT_TRUE(scanner.scanString(u"]"));
  ASSERT_TRUE(scanner.scanString(u"["));
  EXPECT_EQ(scanner.scanUpToString(u"]"), u"rest"_s);
  EXPECT_TRUE(scanner.isAtEnd());
}

TEST(IniScannerTest, AlphanumericRunsTakeLettersMarksAndNumbersWhole) {
  const QString text = u"e\u0301𝐀٣Ⅻ²x_y"_s;
  IniScanner scanner(text);
  EXPECT_EQ(scanner.scanCharacters(CharacterSets::alphanumerics), u"e\u0301𝐀٣Ⅻ²x"_s);
  EXPECT_EQ(scanner.scanCharacters(CharacterSets::alphanumerics), std::nullopt);
  EXPECT_EQ(scanner.scanString(u"_"), u"_"_s);
}

TEST(IniScannerTest, BlanksAreTabsAndSpaceSeparatorsOnly) {
  for (const char32_t blank : {U' ', U'\t', U'\u00a0', U'\u3000', U'\u2009'}) {
    EXPECT_TRUE(CharacterSets::blanks(blank)) << int(blank);
  }
  for (const char32_t other : {U'\n', U'\r', U'\v', U'\f', U'\u0085', U'\u2028', U'x', U'\0'}) {
    EXPECT_FALSE(CharacterSets::blanks(other)) << int(other);
  }
  for (const char32_t lineBreak : {U'\n', U'\r', U'\u2028', U'\u2029'}) {
    EXPECT_TRUE(CharacterSets::lineBreaks(lineBreak)) << int(lineBreak);
  }
  EXPECT_FALSE(CharacterSets::lineBreaks(U'\v'));
}

// Stepping back and scanning again must give what a fresh scanner gives, for
// the same set and after a scan with another set in between.
TEST(IniScannerTest, RescanningAfterASteppingBackMatchesAFreshScan) {
  const QString text = u"a=b=c\nd\u2029e=f"_s;
  IniScanner scanner(text);
  EXPECT_EQ(scanner.scanUpToCharacters(CharacterSets::lineBreaks), u"a=b=c"_s);
  for (const qsizetype back : {2, 4, 1}) {
    scanner.setCurrentIndex(back);
    EXPECT_EQ(scanner.scanUpToCharacters(CharacterSets::lineBreaks), text.sliced(back, 5 - back)) << back;
  }
  scanner.setCurrentIndex(3);
  EXPECT_EQ(scanner.scanUpToCharacters(CharacterSets::blanks), u"=c\nd\u2029e=f"_s);
  scanner.setCurrentIndex(5);
  EXPECT_EQ(scanner.scanUpToCharacters(CharacterSets::lineBreaks), u"d"_s);
  scanner.setCurrentIndex(0);
  EXPECT_EQ(scanner.scanUpToCharacters(CharacterSets::lineBreaks), u"a=b=c"_s);
}

struct PositionCase {
  const char* name;
  QString text;
  qsizetype index;
  TextPosition expected;
};

void PrintTo(const PositionCase& c, std::ostream* out) {
  *out << c.name;
}

class IniScannerPositionTest : public ::testing::TestWithParam<PositionCase> {};

TEST_P(IniScannerPositionTest, FindsLineRowAndColumn) {
  IniScanner scanner(GetParam().text);
  scanner.setCurrentIndex(GetParam().index);
  const TextPosition position = scanner.position();
  EXPECT_EQ(position.line, GetParam().expected.line);
  EXPECT_EQ(position.row, GetParam().expected.row);
  EXPECT_EQ(position.pos, GetParam().expected.pos);
}

INSTANTIATE_TEST_SUITE_P(
    Places, IniScannerPositionTest,
    ::testing::Values(PositionCase{"EmptyText", u""_s, 0, {{0, 0}, 1, 1}},
                      PositionCase{"OneLine", u"abc"_s, 2, {{0, 3}, 1, 3}},
                      PositionCase{"EndOfLastLine", u"abc"_s, 3, {{0, 3}, 1, 4}},
                      PositionCase{"OnTheLineFeed", u"ab\ncd"_s, 2, {{0, 3}, 1, 3}},
                      PositionCase{"SecondLine", u"ab\ncd"_s, 4, {{3, 5}, 2, 2}},
                      PositionCase{"CrLfIsOneBreak", u"ab\r\ncd\r\n"_s, 5, {{4, 8}, 2, 2}},
                      PositionCase{"InsideCrLf", u"ab\r\ncd"_s, 3, {{0, 4}, 1, 4}},
                      PositionCase{"LfCrIsTwoBreaks", u"ab\n\rcd"_s, 4, {{4, 6}, 3, 1}},
                      PositionCase{"CrAlone", u"a\rb\rc"_s, 4, {{4, 5}, 3, 1}},
                      PositionCase{"ParagraphSeparator", u"a\u2029bc"_s, 3, {{2, 4}, 2, 2}},
                      PositionCase{"AfterAFinalBreak", u"ab\n"_s, 3, {{3, 3}, 2, 1}},
                      PositionCase{"BlankLines", u"\n\n\nx"_s, 2, {{2, 3}, 3, 1}},
                      PositionCase{"CharactersOutsideTheBmpCountOnce", u"x\n𝐀𝐁c"_s, 6, {{2, 7}, 2, 3}},
                      PositionCase{
                          "LoneSurrogatesCountOnce", u"\xd800\xdc00\xdc00\xd800q"_s, 4, {{0, 5}, 1, 4}},
                      PositionCase{"BeyondTheEndIsClamped", u"ab"_s, 99, {{0, 2}, 1, 3}}),
    [](const ::testing::TestParamInfo<PositionCase>& info) { return std::string(info.param.name); });

}  // namespace
