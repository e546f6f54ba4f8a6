#include <gtest/gtest.h>

#include <QLocale>

#include "service/Identity.h"

namespace ov::test {
namespace {

class Identity : public ::testing::Test {
 protected:
  void TearDown() override {
    setPlatformUuidForTesting(nullptr);
    setLoginNameForTesting(nullptr);
    setPreferredLanguagesForTesting(nullptr);
  }
};

// "S-1-" and the upper-case SHA-256 of the machine id followed by the login
// name (the digest worked out beforehand with sha256sum).
TEST_F(Identity, TheIdentifierDigestsMachineIdThenLoginName) {
  setPlatformUuidForTesting([] { return QStringLiteral("564D4A2E-1B38-4C1F-9F1A-6E8F3A2B1C0D"); });
  setLoginNameForTesting([] { return QStringLiteral("ada"); });
  const QString expected =
      QStringLiteral("S-1-B5B606A0B68484C34EB292A3F1BFE4704810B7A10F4E9ED44CBA5B0CB6DEC0A0");
  EXPECT_EQ(getUUID(), expected);
  setLoginNameForTesting([] { return QStringLiteral("grace"); });
  EXPECT_NE(getUUID(), expected) << "another user of the same machine";
  for (const auto& unreadable : {std::optional<QString>(), std::optional(QString())}) {
    setPlatformUuidForTesting([unreadable] { return unreadable; });
    EXPECT_EQ(getUUID(), QString());
  }
}

struct LanguageCase {
  QStringList preferred;
  const char* code;
};

QString linuxTag(const char* locale) {
  return languageTagForLocale(QLocale(QString::fromLatin1(locale)));
}

void PrintTo(const LanguageCase& row, std::ostream* out) {
  *out << row.preferred.join(u',').toStdString() << " -> " << row.code;
}

class LanguageCode : public Identity, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(LanguageCode, OnlyTheMostPreferredLanguageCounts) {
  setPreferredLanguagesForTesting([] { return GetParam().preferred; });
  EXPECT_EQ(getSystemLanguageCode(), QLatin1String(GetParam().code))
      << GetParam().preferred.join(',').toStdString();
}

// A Linux locale names no script; only the script tells Simplified from
// Traditional Chinese.
INSTANTIATE_TEST_SUITE_P(Table, LanguageCode,
                         ::testing::Values(LanguageCase{{"zh-Hans-CN"}, "CHS"},
                                           LanguageCase{{"zh-Hant-TW"}, "CHT"},
                                           LanguageCase{{"zh-TW"}, "ENU"}, LanguageCase{{"de-CH"}, "DEU"},
                                           LanguageCase{{"es-419"}, "ESP"}, LanguageCase{{"fr-CA"}, "FRA"},
                                           LanguageCase{{"it-IT"}, "ITA"}, LanguageCase{{"ja-JP"}, "JPN"},
                                           LanguageCase{{"ko-KR"}, "KOR"}, LanguageCase{{"nl-BE"}, "NLD"},
                                           LanguageCase{{"pt-BR"}, "ENU"},
                                           LanguageCase{{"en-US", "de-DE"}, "ENU"}, LanguageCase{{}, "ENU"},
                                           LanguageCase{{linuxTag("zh_TW")}, "CHT"},
                                           LanguageCase{{linuxTag("zh_CN")}, "CHS"}));

}  // namespace
}  // namespace ov::test
