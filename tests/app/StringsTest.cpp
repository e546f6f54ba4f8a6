#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTranslator>

#include "BuildConfig.h"
#include "app/StringFormat.h"
#include "app/Strings.h"
#include "app/Translations.h"
#include "tests/support/Rows.h"
#include "tests/support/ScriptedToolkit.h"

namespace ov::test {
namespace {

using test::PrintTo;

const QString kTranslations = QStringLiteral(OV_BUILD_BUNDLE "/Contents/Resources/translations");

// The printf-style conversions of a text, in order ("%@", "%d", "%.02f").
QStringList conversions(const QString& text) {
  static const QRegularExpression pattern(u"%(?:\\d+\\$)?(?:\\.\\d+)?[l]*[@dif]"_qs);
  QStringList found;
  auto it = pattern.globalMatch(QString(text).replace(u"%%"_qs, QString()));
  while (it.hasNext()) found << it.next().captured();
  return found;
}

class Translation : public ::testing::TestWithParam<const char*> {};

// Every shipped translation covers every entry, keeps the conversions in
// order and is found by the English text alone; the maker's address stays
// literal between the two translated pieces of the server error.
TEST_P(Translation, TranslatesEveryEntryKeepingItsConversions) {
  ScriptedToolkit toolkit;
  QTranslator translator;
  ASSERT_TRUE(
      translator.load(kTranslations + u"/ovdownloader_"_qs + QString::fromLatin1(GetParam()) + u".qm"_qs));
  ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
  for (int i = 0; i < kUiStringCount; ++i) {
    const UiString& entry = *allUiStrings()[i];
    SCOPED_TRACE(entry.key());
    const QString translated = translator.translate(kUiStringContext, entry.english());
    EXPECT_FALSE(translated.isEmpty());
    if (&entry != &IDS_SERVER_ERROR) {
      EXPECT_EQ(entry.lookup(), translated);
    }
    EXPECT_EQ(conversions(entry.lookup()), conversions(entry.untranslated()));
  }
  EXPECT_TRUE(
      formatString(IDS_SERVER_ERROR.lookup(), {u"P"_qs}).contains(QString::fromUtf8(OV_MAKER_WEB_ADDRESS)));
  // The buttons named in the update message are the translated buttons.
  EXPECT_TRUE(IDS_NEED_UPDATE.lookup().contains(IDS_BTNCAPTION_UPDATE.lookup()));
  EXPECT_TRUE(IDS_NEED_UPDATE.lookup().contains(IDS_BTNCAPTION_CLOSE.lookup()));
  QCoreApplication::removeTranslator(&translator);
}

INSTANTIATE_TEST_SUITE_P(Languages, Translation,
                         ::testing::Values("de", "es", "fr", "it", "ja", "ko", "nl", "zh_Hans", "zh_Hant"));

class TranslationChoice : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

// The second of each pair names the translation chosen, or none for English.
TEST_P(TranslationChoice, PicksTheMostPreferredLanguageTheBundleHas) {
  const auto [locale, language] = GetParam();
  const QString chosen = translationFileFor(QLocale(QString::fromLatin1(locale)), kTranslations);
  EXPECT_EQ(QFileInfo(chosen).fileName(),
            *language ? u"ovdownloader_"_qs + QString::fromLatin1(language) + u".qm"_qs : QString());
}

INSTANTIATE_TEST_SUITE_P(Locales, TranslationChoice,
                         ::testing::Values(std::pair("de_DE", "de"), std::pair("de_CH", "de"),
                                           std::pair("es_419", "es"), std::pair("zh_CN", "zh_Hans"),
                                           std::pair("zh_TW", "zh_Hant"), std::pair("zh_HK", "zh_Hant"),
                                           std::pair("pt_BR", ""), std::pair("C", "")));

struct FormatCase {
  QString format;
  std::vector<FormatArg> values;  // one or two
  QString expected;
};

void PrintTo(const FormatCase& row, std::ostream* out) {
  *out << row.format.toStdString();
}

class Format : public ::testing::TestWithParam<FormatCase> {};

TEST_P(Format, FillsTheTemplateWithPlainText) {
  const auto& [format, v, expected] = GetParam();
  EXPECT_EQ(v.size() == 1 ? formatString(format, {v[0]}) : formatString(format, {v.at(0), v.at(1)}),
            expected);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, Format,
    ::testing::Values(
        FormatCase{u"start in %d second(s)."_qs, {15}, u"start in 15 second(s)."_qs},
        FormatCase{u"Orvalen %@ Downloader"_qs,
                   {u"100% %d %@ <b>x</b>"_qs},
                   u"Orvalen 100% %d %@ <b>x</b> Downloader"_qs},
        FormatCase{u"100%% of %d"_qs, {3}, u"100% of 3"_qs},
        FormatCase{u"%@ and %d"_qs, {u"a"_qs}, u"a and %d"_qs}, FormatCase{u"%s %x %"_qs, {1}, u"%s %x %"_qs},
        FormatCase{u"%2$@ before %1$@"_qs, {u"one"_qs, u"two"_qs}, u"two before one"_qs},
        FormatCase{
            u"%lld bytes of %.02f"_qs, {std::int64_t(104857600), 2.346}, u"104857600 bytes of 2.35"_qs},
        FormatCase{
            escapeForFormat(u"x.example/a%20b%d"_qs) + u" %@"_qs, {u"P"_qs}, u"x.example/a%20b%d P"_qs}));

}  // namespace
}  // namespace ov::test
