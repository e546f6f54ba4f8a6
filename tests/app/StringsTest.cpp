#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTranslator>
#include <map>
#include <string>

#include "BuildConfig.h"
#include "app/StringFormat.h"
#include "app/Strings.h"
#include "app/Translations.h"
#include "tests/support/ScriptedToolkit.h"

namespace {

using ov::formatString;

struct Entry {
  const UiString* entry;
  const char* key;
  QString english;
};

// The whole table as the program must declare it, in order.
std::vector<Entry> expectedTable() {
  const QString maker = QString::fromUtf8(OV_MAKER_WEB_ADDRESS).replace(u'%', QStringLiteral("%%"));
  return {
      {&IDS_CAPTION_BAR_TITLE, "IDS_CAPTION_BAR_TITLE", u"Orvalen %@ Downloader"_qs},
      {&IIDS_PREPARE_STATE, "IIDS_PREPARE_STATE", u"Please wait for preparing your downloading..."_qs},
      {&IDS_COUNT_AUTO_DOWNLOAD, "IDS_COUNT_AUTO_DOWNLOAD", u"Your download will start in %d second(s)."_qs},
      {&IDS_DOWNLOAD_STATE, "IDS_DOWNLOAD_STATE", u"Your program is downloading now..."_qs},
      {&IDS_SIZE_PROGRESS, "IDS_SIZE_PROGRESS", u"%.02f MB of %.02f MB"_qs},
      {&IDS_COMPLETE_STATE, "IDS_COMPLETE_STATE", u"Download process is complete..."_qs},
      {&IDS_LEAVEAPP, "IDS_LEAVEAPP", u"Are you sure you want to cancel the download process?"_qs},
      {&IDS_INTERNET_CONNECTION, "IDS_INTERNET_CONNECTION",
       u"Orvalen Downloader could not complete the download process. Check your Internet connection and "
       "firewall settings, and then try again."_qs},
      {&IDS_LOW_DISCSPACE, "IDS_LOW_DISCSPACE",
       u"Low disk space. Free up some disk space on your hard drive and then try again."_qs},
      {&IDS_SERVER_ERROR, "IDS_SERVER_ERROR",
       u"The %@ download is currently unavailable. Please try again later. If this issue persists, go to "_qs +
           maker + u" and try downloading it again."_qs},
      {&IDS_NEED_UPDATE, "IDS_NEED_UPDATE",
       u"There is a new version of the Downloader available. You must complete the update process to "
       "continue the download process. Select [Update] to get the new version now, or [Close] to exit the "
       "Downloader."_qs},
      {&IDS_DOWNLOAD_ERROR, "IDS_DOWNLOAD_ERROR",
       u"An error occurred during the download process and could not successfully complete. Do you want to "
       "try restarting the download process?"_qs},
      {&IDS_OS_ERROR, "IDS_OS_ERROR",
       u"%@ requires macOS 10.14 or above to install. Please update your macOS before proceeding."_qs},
      {&IDS_BTNCAPTION_OK, "IDS_BTNCAPTION_OK", u"OK"_qs},
      {&IDS_BTNCAPTION_CANCEL, "IDS_BTNCAPTION_CANCEL", u"Cancel"_qs},
      {&IDS_BTNCAPTION_PAUSE, "IDS_BTNCAPTION_PAUSE", u"Pause"_qs},
      {&IDS_BTNCAPTION_RESUME, "IDS_BTNCAPTION_RESUME", u"Resume"_qs},
      {&IDS_BTNCAPTION_RETRY, "IDS_BTNCAPTION_RETRY", u"Retry"_qs},
      {&IDS_BTNCAPTION_UPDATE, "IDS_BTNCAPTION_UPDATE", u"Update"_qs},
      {&IDS_BTNCAPTION_CLOSE, "IDS_BTNCAPTION_CLOSE", u"Close"_qs},
      {&IDS_BTNCAPTION_YES, "IDS_BTNCAPTION_YES", u"Yes"_qs},
      {&IDS_BTNCAPTION_NO, "IDS_BTNCAPTION_NO", u"No"_qs},
  };
}

TEST(StringTable, DeclaresTheTwentyTwoEntriesInOrderWithTheirEnglishTexts) {
  const auto expected = expectedTable();
  ASSERT_EQ(expected.size(), std::size_t(kUiStringCount));
  for (int i = 0; i < kUiStringCount; ++i) {
    SCOPED_TRACE(expected[i].key);
    EXPECT_EQ(allUiStrings()[i], expected[i].entry);
    EXPECT_STREQ(allUiStrings()[i]->key(), expected[i].key);
    EXPECT_EQ(allUiStrings()[i]->untranslated(), expected[i].english);
  }
}

TEST(StringTable, WithoutATranslationEveryEntryIsItsEnglishText) {
  for (const Entry& e : expectedTable()) {
    SCOPED_TRACE(e.key);
    EXPECT_EQ(e.entry->lookup(), e.english);
    EXPECT_EQ(e.entry->text(), e.english);
  }
}

// Answers for chosen (context, source) pairs and records every question.
class FakeTranslator : public QTranslator {
 public:
  std::map<std::pair<std::string, std::string>, QString> answers;
  mutable std::vector<std::string> disambiguations;

  QString translate(const char* context, const char* source, const char* disambiguation, int) const override {
    disambiguations.push_back(disambiguation ? disambiguation : "");
    const auto it = answers.find({context ? context : "", source ? source : ""});
    return it == answers.end() ? QString() : it->second;
  }
  bool isEmpty() const override { return false; }
};

TEST(StringTable, ATranslationIsFoundByTheEnglishTextNotByTheKey) {
  ov::test::ScriptedToolkit toolkit;
  FakeTranslator translator;
  translator.answers[{kUiStringContext, "Pause"}] = u"Anhalten"_qs;
  translator.answers[{kUiStringContext, "IDS_BTNCAPTION_RESUME"}] = u"by key"_qs;
  translator.answers[{kUiStringContext, " and try downloading it again."}] = u" und erneut versuchen."_qs;
  ASSERT_TRUE(QCoreApplication::installTranslator(&translator));

  EXPECT_EQ(IDS_BTNCAPTION_PAUSE.lookup(), u"Anhalten"_qs);
  EXPECT_EQ(IDS_BTNCAPTION_RESUME.lookup(), u"Resume"_qs);
  // Only the second piece is translated; the maker's address stays between.
  EXPECT_TRUE(IDS_SERVER_ERROR.lookup().endsWith(
      QString::fromUtf8(OV_MAKER_WEB_ADDRESS).replace(u'%', u"%%"_qs) + u" und erneut versuchen."_qs));
  QCoreApplication::removeTranslator(&translator);
}

TEST(StringTable, AnEntryIsResolvedOnceAndKeepsItsText) {
  const QString before = IDS_BTNCAPTION_CLOSE.text();
  FakeTranslator translator;
  translator.answers[{kUiStringContext, "Close"}] = u"Schließen"_qs;
  ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
  EXPECT_EQ(IDS_BTNCAPTION_CLOSE.text(), before);
  EXPECT_EQ(&IDS_BTNCAPTION_CLOSE.text(), &IDS_BTNCAPTION_CLOSE.text());
  QCoreApplication::removeTranslator(&translator);
}

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
// order and is really found through the table's lookup.
TEST_P(Translation, TranslatesEveryEntryKeepingItsConversions) {
  ov::test::ScriptedToolkit toolkit;
  const QString file = QStringLiteral(OV_BUILD_BUNDLE "/Contents/Resources/translations/ovdownloader_") +
                       QString::fromLatin1(GetParam()) + QStringLiteral(".qm");
  QTranslator translator;
  ASSERT_TRUE(translator.load(file)) << file.toStdString();
  ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
  for (int i = 0; i < kUiStringCount; ++i) {
    const UiString& entry = *allUiStrings()[i];
    SCOPED_TRACE(entry.key());
    const QString translated = entry.lookup();
    EXPECT_FALSE(translated.isEmpty());
    EXPECT_EQ(conversions(translated), conversions(entry.untranslated()));
    EXPECT_FALSE(translator.translate(kUiStringContext, entry.english()).isEmpty());
  }
  // The buttons named in the update message are the translated buttons.
  EXPECT_TRUE(IDS_NEED_UPDATE.lookup().contains(IDS_BTNCAPTION_UPDATE.lookup()));
  EXPECT_TRUE(IDS_NEED_UPDATE.lookup().contains(IDS_BTNCAPTION_CLOSE.lookup()));
  QCoreApplication::removeTranslator(&translator);
}

INSTANTIATE_TEST_SUITE_P(Languages, Translation,
                         ::testing::Values("de", "es", "fr", "it", "ja", "ko", "nl", "zh_Hans", "zh_Hant"));

struct LocaleCase {
  const char* name;
  QStringList languages;  // the user's preferred languages, most preferred first
  QString file;           // expected translation, empty for English
};
void PrintTo(const LocaleCase& c, std::ostream* out) {
  *out << c.name;
}

class TranslationChoice : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(TranslationChoice, PicksTheMostPreferredLanguageTheBundleHas) {
  const QString folder = QStringLiteral(OV_BUILD_BUNDLE "/Contents/Resources/translations");
  QLocale locale(GetParam().languages.front());
  const QString chosen = ov::translationFileFor(locale, folder);
  EXPECT_EQ(QFileInfo(chosen).fileName(), GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, TranslationChoice,
    ::testing::Values(LocaleCase{"German", {u"de_DE"_qs}, u"ovdownloader_de.qm"_qs},
                      LocaleCase{"SwissGerman", {u"de_CH"_qs}, u"ovdownloader_de.qm"_qs},
                      LocaleCase{"Spanish419", {u"es_419"_qs}, u"ovdownloader_es.qm"_qs},
                      LocaleCase{"ChinaSimplified", {u"zh_CN"_qs}, u"ovdownloader_zh_Hans.qm"_qs},
                      LocaleCase{"TaiwanTraditional", {u"zh_TW"_qs}, u"ovdownloader_zh_Hant.qm"_qs},
                      LocaleCase{"HongKongTraditional", {u"zh_HK"_qs}, u"ovdownloader_zh_Hant.qm"_qs},
                      LocaleCase{"Japanese", {u"ja_JP"_qs}, u"ovdownloader_ja.qm"_qs},
                      LocaleCase{"BrazilianPortugueseHasNone", {u"pt_BR"_qs}, QString()},
                      LocaleCase{"EnglishNeedsNone", {u"en_GB"_qs}, QString()},
                      LocaleCase{"CLocale", {u"C"_qs}, QString()}),
    [](const auto& info) { return std::string(info.param.name); });

struct FormatCase {
  const char* name;
  QString format;
  std::function<QString(const QString&)> fill;
  QString expected;
};
void PrintTo(const FormatCase& c, std::ostream* out) {
  *out << c.name;
}

class Format : public ::testing::TestWithParam<FormatCase> {};

TEST_P(Format, FillsTheTemplate) {
  EXPECT_EQ(GetParam().fill(GetParam().format), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, Format,
    ::testing::Values(
        FormatCase{"ZeroOfFifty", u"%.02f MB of %.02f MB"_qs,
                   [](const QString& f) {
                     return formatString(f, {0.0, 52428800.0 / 1048576.0});
                   },
                   u"0.00 MB of 50.00 MB"_qs},
        FormatCase{"RoundsToTwoDecimals", u"%.02f MB of %.02f MB"_qs,
                   [](const QString& f) {
                     return formatString(f, {1.005, 2.0 / 3.0});
                   },
                   u"1.00 MB of 0.67 MB"_qs},
        FormatCase{"Seconds", u"Your download will start in %d second(s)."_qs,
                   [](const QString& f) { return formatString(f, {15}); },
                   u"Your download will start in 15 second(s)."_qs},
        FormatCase{"TextWithConversionsStaysLiteral", u"Orvalen %@ Downloader"_qs,
                   [](const QString& f) { return formatString(f, {u"100% %d %@ <b>x</b>"_qs}); },
                   u"Orvalen 100% %d %@ <b>x</b> Downloader"_qs},
        FormatCase{"EmptyText", u"Orvalen %@ Downloader"_qs,
                   [](const QString& f) { return formatString(f, {QString()}); }, u"Orvalen  Downloader"_qs},
        FormatCase{"PercentSign", u"100%% of %d"_qs, [](const QString& f) { return formatString(f, {3}); },
                   u"100% of 3"_qs},
        FormatCase{"MissingValueIsCopied", u"%@ and %d"_qs,
                   [](const QString& f) { return formatString(f, {u"a"_qs}); }, u"a and %d"_qs},
        FormatCase{"UnknownConversionIsCopied", u"%s %x %"_qs,
                   [](const QString& f) { return formatString(f, {1}); }, u"%s %x %"_qs},
        FormatCase{"Positional", u"%2$@ before %1$@"_qs,
                   [](const QString& f) {
                     return formatString(f, {u"one"_qs, u"two"_qs});
                   },
                   u"two before one"_qs},
        FormatCase{"LongInteger", u"%lld bytes"_qs,
                   [](const QString& f) { return formatString(f, {std::int64_t(104857600)}); },
                   u"104857600 bytes"_qs}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Format, TheServerErrorKeepsAPercentInTheMakersAddressLiteral) {
  const QString filled = formatString(
      u"go to "_qs + ov::escapeForFormat(u"https://x.example/a%20b%d"_qs) + u" %@"_qs, {u"Product"_qs});
  EXPECT_EQ(filled, u"go to https://x.example/a%20b%d Product"_qs);
}

}  // namespace
