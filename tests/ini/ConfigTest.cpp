#include <gtest/gtest.h>

#include "ini/Config.h"
#include "tests/ini/IniTestSupport.h"

using namespace Qt::Literals::StringLiterals;

namespace {

Config twoSectionsNamedA() {
  return Config{{Section{u"A"_s, {{u"k"_s, u"first"_s}}}, Section{u"B"_s, {{u"k"_s, u"b"_s}}},
                 Section{u"A"_s, {{u"k"_s, u"second"_s}, {u"only2"_s, u"x"_s}}}}};
}

TEST(ConfigTest, LookupsActOnTheFirstSectionOfAName) {
  const Config config = twoSectionsNamedA();
  ASSERT_TRUE(config[u"A"_s].has_value());
  EXPECT_EQ(config[u"A"_s], config.sections[0]);
  EXPECT_EQ(config.get(u"A"_s, u"k"_s), u"first"_s);
  EXPECT_EQ(config.get(u"A"_s, u"only2"_s, u"fallback"_s), u"fallback"_s);
  EXPECT_EQ(config[u"B"_s].value()[u"k"_s], u"b"_s);
}

TEST(ConfigTest, NamesAndKeysCompareExactly) {
  const Config config = twoSectionsNamedA();
  EXPECT_FALSE(config[u"a"_s].has_value());
  EXPECT_FALSE(config[u"A "_s].has_value());
  EXPECT_EQ(config.sections[0][u"K"_s], std::nullopt);
  EXPECT_EQ(config.sections[0][u"k"_s], u"first"_s);
}

TEST(ConfigTest, GetFallsBackToTheDefaultOrEmptyText) {
  const Config config = twoSectionsNamedA();
  EXPECT_EQ(config.get(u"Missing"_s, u"k"_s, u"d"_s), u"d"_s);
  EXPECT_EQ(config.get(u"B"_s, u"missing"_s, u"d"_s), u"d"_s);
  EXPECT_TRUE(config.get(u"Missing"_s, u"k"_s).isEmpty());
  EXPECT_TRUE(config.get(u"B"_s, u"missing"_s).isEmpty());
  EXPECT_TRUE(Config{}.get(u"A"_s, u"k"_s).isEmpty());
}

struct BoolCase {
  const char16_t* stored;  // nullptr: no such key
  bool expected;
};

class SectionBoolTest : public ::testing::TestWithParam<BoolCase> {};

TEST_P(SectionBoolTest, OnlyExactOneTrueYesAreTrue) {
  Section section{u"S"_s, {}};
  if (GetParam().stored) section.settings[u"flag"_s] = QString::fromUtf16(GetParam().stored);
  EXPECT_EQ(section.boolValue(u"flag"_s), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, SectionBoolTest,
                         ::testing::Values(BoolCase{u"1", true}, BoolCase{u"true", true},
                                           BoolCase{u"yes", true}, BoolCase{u"0", false},
                                           BoolCase{u"True", false}, BoolCase{u"TRUE", false},
                                           BoolCase{u"YES", false}, BoolCase{u"Yes", false},
                                           BoolCase{u"on", false}, BoolCase{u" 1", false},
                                           BoolCase{u"", false}, BoolCase{nullptr, false}));

TEST(ConfigTest, SetReplacesInTheFirstSectionOfAName) {
  Config config = twoSectionsNamedA();
  const Section secondA = config.sections[2];
  config.set(u"A"_s, u"k"_s, u"replaced"_s);
  config.set(u"A"_s, u"new"_s, u"added"_s);
  ASSERT_EQ(config.sections.size(), 3u);
  EXPECT_EQ(config.sections[0].settings,
            (QHash<QString, QString>{{u"k"_s, u"replaced"_s}, {u"new"_s, u"added"_s}}));
  EXPECT_EQ(config.sections[2], secondA);
}

TEST(ConfigTest, SetAppendsAMissingSectionAtTheEnd) {
  Config config = twoSectionsNamedA();
  config.set(u"C"_s, u"k"_s, u"v"_s);
  ASSERT_EQ(config.sections.size(), 4u);
  EXPECT_EQ(config.sections.back(), (Section{u"C"_s, {{u"k"_s, u"v"_s}}}));

  Config empty;
  empty.set(u"Only"_s, u"key"_s, u"value"_s);
  EXPECT_EQ(empty, (Config{{Section{u"Only"_s, {{u"key"_s, u"value"_s}}}}}));
}

}  // namespace
