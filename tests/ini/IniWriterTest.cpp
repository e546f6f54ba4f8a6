#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QDir>
#include <QStringList>
#include <csignal>
#include <random>

#include "ini/IniReader.h"
#include "ini/IniWriter.h"
#include "tests/ini/IniTestSupport.h"

using namespace Qt::Literals::StringLiterals;

namespace {

class IniWriterTest : public IniSandbox {
 protected:
  void captureOutput() { testing::internal::CaptureStdout(); }
  // The lines written to standard output since captureOutput().
  QStringList output() const {
    return QString::fromStdString(testing::internal::GetCapturedStdout()).split(u'\n', Qt::SkipEmptyParts);
  }
};

TEST_F(IniWriterTest, WritesHeaderSettingsAndAnEmptyLineInCrLf) {
  saveINI(path(u"one.ini"_s), Config{{Section{u"A"_s, {{u"k"_s, u"v"_s}}}}});
  EXPECT_EQ(readFile(u"one.ini"_s), QByteArray("[A]\r\nk = v\r\n\r\n"));

  saveINI(path(u"two.ini"_s), Config{{Section{u"Größe"_s, {{u"ключ"_s, u"𝐀 x "_s}}}, Section{u"B"_s, {}}}});
  EXPECT_EQ(readFile(u"two.ini"_s), u"[Größe]\r\nключ = 𝐀 x \r\n\r\n[B]\r\n\r\n"_s.toUtf8());
}

TEST_F(IniWriterTest, NoSectionsGiveAnEmptyFile) {
  saveINI(path(u"empty.ini"_s), Config{});
  QFile file(path(u"empty.ini"_s));
  ASSERT_TRUE(file.exists());
  EXPECT_EQ(file.size(), 0);
}

TEST_F(IniWriterTest, ReplacesTheWholeFileAndLeavesNothingBeside) {
  writeFile(u"MakeInfo.ini"_s, QByteArray(4096, 'x'));
  saveINI(path(u"MakeInfo.ini"_s), Config{{Section{u"A"_s, {{u"k"_s, u"v"_s}}}}});
  EXPECT_EQ(readFile(u"MakeInfo.ini"_s), QByteArray("[A]\r\nk = v\r\n\r\n"));
  EXPECT_EQ(QDir(folderPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{u"MakeInfo.ini"_s});
}

TEST_F(IniWriterTest, AFailedSaveSaysSoOnStandardOutputAndReturns) {
  captureOutput();
  const Config config{{Section{u"A"_s, {{u"k"_s, u"v"_s}}}}};
  const QString noFolder = path(u"no/such/folder/x.ini"_s);
  saveINI(noFolder, config);
  saveINI(folderPath(), config);
  EXPECT_EQ(output(),
            (QStringList{u"save "_s + noFolder + u" failed"_s, u"save "_s + folderPath() + u" failed"_s}));
  EXPECT_FALSE(QFile::exists(noFolder));
}

// The file-size limit makes the write fail halfway, after the temporary file
// has begun to fill: the target must keep its old bytes, and nothing may be
// left beside it.
TEST_F(IniWriterTest, AFailedWriteLeavesTheOldFileWhole) {
  const QByteArray old("[Old]\r\nk = v\r\n\r\n");
  writeFile(u"MakeInfo.ini"_s, old);
  Config large;
  large.set(u"A"_s, u"k"_s, QString(qsizetype(256) * 1024, u'x'));
  captureOutput();

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limited{rlim_t(16) * 1024, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  saveINI(path(u"MakeInfo.ini"_s), large);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(readFile(u"MakeInfo.ini"_s), old);
  EXPECT_EQ(output(), QStringList{u"save "_s + path(u"MakeInfo.ini"_s) + u" failed"_s});
  EXPECT_EQ(QDir(folderPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{u"MakeInfo.ini"_s});
}

// Documents the reader can give back exactly: names without "]" or line
// breaks, keys that start with a letter or number not followed by a blank,
// values that are not empty, hold no "=" and start with no blank; none of
// them starts with a blank, and keys do not end with one.
class RandomDocuments {
 public:
  explicit RandomDocuments(std::uint32_t seed) : random_(seed) {}

  Config next() {
    Config config;
    const int sectionCount = pick(0, 5);
    for (int s = 0; s < sectionCount; ++s) {
      Section section{firstOf(u"AbZ9é𝐀[;#=_."_s) + text(u"Ab9 é𝐀[;#=_.\t"_s, 0, 12), {}};
      const int settingCount = pick(0, 6);
      for (int k = 0; k < settingCount; ++k) {
        QString key = text(u"aZ9üЖ𝐀٣"_s, 1, 4);
        if (pick(0, 1)) key += firstOf(u"_.-:;[]#"_s) + text(u"a9 _.\tü"_s, 0, 8) + firstOf(u"x_7ü"_s);
        section.settings[key] = firstOf(u"v9[;#ü𝄞_"_s) + text(u"v 9[];#/ü𝄞_\t"_s, 0, 16);
      }
      config.sections.push_back(std::move(section));
    }
    return config;
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  QString firstOf(const QString& alphabet) { return text(alphabet, 1, 1); }

  QString text(const QString& alphabet, int minLength, int maxLength) {
    const QList<uint> characters = alphabet.toUcs4();
    QList<uint> chosen;
    const int length = pick(minLength, maxLength);
    for (int i = 0; i < length; ++i) chosen << characters[pick(0, int(characters.size()) - 1)];
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(chosen.constData()), chosen.size());
  }

  std::mt19937 random_;
};

TEST_F(IniWriterTest, WrittenDocumentsReadBackEqual) {
  for (std::uint32_t seed = 1; seed <= 120; ++seed) {
    const Config config = RandomDocuments(seed).next();
    const QString file = path(u"round-trip.ini"_s);
    saveINI(file, config);
    EXPECT_EQ(parseINIFile(file), config) << "seed " << seed;
  }
}

}  // namespace
