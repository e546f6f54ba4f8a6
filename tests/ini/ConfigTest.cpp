// The document: lookups and changes act on the first section of a name;
// names and keys compare exactly.

#include <gtest/gtest.h>

#include "ini/Config.h"
#include "tests/ini/IniTestSupport.h"

using namespace Qt::Literals::StringLiterals;

namespace ov::test {
namespace {

TEST(ConfigTest, LookupsAndChangesActOnTheFirstSectionOfANameComparedExactly) {
  Config config{{Section{u"A"_s, {{u"k"_s, u"first"_s}}}, Section{u"B"_s, {{u"k"_s, u"b"_s}}},
                 Section{u"A"_s, {{u"k"_s, u"second"_s}, {u"only2"_s, u"x"_s}}}}};
  EXPECT_EQ(config[u"A"_s], config.sections[0]);
  EXPECT_EQ(config.get(u"A"_s, u"k"_s), u"first"_s);
  EXPECT_EQ(config.get(u"A"_s, u"only2"_s, u"fallback"_s), u"fallback"_s);
  EXPECT_EQ(config.get(u"Missing"_s, u"k"_s, u"d"_s), u"d"_s);
  EXPECT_TRUE(config.get(u"B"_s, u"missing"_s).isEmpty());
  EXPECT_EQ(config[u"B"_s].value()[u"k"_s], u"b"_s);
  EXPECT_FALSE(config[u"a"_s].has_value());
  EXPECT_FALSE(config[u"A "_s].has_value());
  EXPECT_EQ(config.sections[0][u"K"_s], std::nullopt);

  // Set replaces in the first section of a name, or appends one.
  config.set(u"A"_s, u"k"_s, u"replaced"_s);
  config.set(u"A"_s, u"new"_s, u"added"_s);
  config.set(u"C"_s, u"k"_s, u"v"_s);
  EXPECT_EQ(describe(config), u"[A]k=replaced;new=added;[B]k=b;[A]k=second;only2=x;[C]k=v;"_s);
}

TEST(ConfigTest, OnlyExactlyOneTrueAndYesAreTrue) {
  for (const auto& [value, isTrue] :
       {std::pair(u"1"_s, true), std::pair(u"true"_s, true), std::pair(u"yes"_s, true),
        std::pair(u"0"_s, false), std::pair(u"True"_s, false), std::pair(u"YES"_s, false),
        std::pair(u"on"_s, false), std::pair(u" 1"_s, false), std::pair(u""_s, false)})
    EXPECT_EQ((Section{u"S"_s, {{u"k"_s, value}}}.boolValue(u"k"_s)), isTrue) << value.toStdString();
  EXPECT_FALSE(Section{}.boolValue(u"missing"_s));
}

}  // namespace
}  // namespace ov::test
