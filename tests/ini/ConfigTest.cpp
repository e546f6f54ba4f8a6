// The document: lookups and changes act on the first section of a name;
// names and keys compare exactly.

#include <gtest/gtest.h>

#include "ini/Config.h"
#include "tests/ini/IniTestSupport.h"

using namespace ov;

using namespace Qt::Literals::StringLiterals;

namespace {

Config twoSectionsNamedA() {
  return Config{{Section{u"A"_s, {{u"k"_s, u"first"_s}}}, Section{u"B"_s, {{u"k"_s, u"b"_s}}},
                 Section{u"A"_s, {{u"k"_s, u"second"_s}, {u"only2"_s, u"x"_s}}}}};
}

TEST(ConfigTest, LookupsActOnTheFirstSectionOfANameComparedExactly) {
  const Config config = twoSectionsNamedA();
  EXPECT_EQ(config[u"A"_s], config.sections[0]);
  EXPECT_EQ(config.get(u"A"_s, u"k"_s), u"first"_s);
  EXPECT_EQ(config.get(u"A"_s, u"only2"_s, u"fallback"_s), u"fallback"_s);
  EXPECT_EQ(config.get(u"Missing"_s, u"k"_s, u"d"_s), u"d"_s);
  EXPECT_TRUE(config.get(u"B"_s, u"missing"_s).isEmpty());
  EXPECT_EQ(config[u"B"_s].value()[u"k"_s], u"b"_s);
  EXPECT_FALSE(config[u"a"_s].has_value());
  EXPECT_FALSE(config[u"A "_s].has_value());
  EXPECT_EQ(config.sections[0][u"K"_s], std::nullopt);
}

TEST(ConfigTest, SetReplacesInTheFirstSectionOfANameOrAppendsOne) {
  Config config = twoSectionsNamedA();
  config.set(u"A"_s, u"k"_s, u"replaced"_s);
  config.set(u"A"_s, u"new"_s, u"added"_s);
  config.set(u"C"_s, u"k"_s, u"v"_s);
  EXPECT_EQ(describe(config), u"[A]k=replaced;new=added;[B]k=b;[A]k=second;only2=x;[C]k=v;"_s);
}

TEST(ConfigTest, OnlyExactlyOneTrueAndYesAreTrue) {
  const Section section{u"S"_s,
                        {{u"1"_s, u"1"_s},
                         {u"true"_s, u"true"_s},
                         {u"yes"_s, u"yes"_s},
                         {u"0"_s, u"0"_s},
                         {u"True"_s, u"True"_s},
                         {u"YES"_s, u"YES"_s},
                         {u"on"_s, u"on"_s},
                         {u" 1"_s, u" 1"_s},
                         {u"empty"_s, u""_s}}};
  for (const QString& key : section.settings.keys())
    EXPECT_EQ(section.boolValue(key), key == u"1"_s || key == u"true"_s || key == u"yes"_s)
        << key.toStdString();
  EXPECT_FALSE(section.boolValue(u"missing"_s));
}

}  // namespace
