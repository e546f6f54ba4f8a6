// The INI writer: the exact bytes, and the whole file replaced or left as it was.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QDir>
#include <QStringList>
#include <csignal>

#include "ini/IniWriter.h"
#include "tests/ini/IniTestSupport.h"
#include "tests/support/SandboxedTest.h"

using namespace Qt::Literals::StringLiterals;

namespace ov::test {
namespace {

class IniWriter : public ov::test::SandboxedTest {
 protected:
  QString path(const QString& name) const { return sandbox_->path(name); }
  QByteArray read(const QString& name) const { return ov::test::readWholeFile(path(name)); }
  QStringList entries() const {
    return QDir(sandbox_->home()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
  }
  // The writer prints its failures itself (it depends on nothing of the
  // program): what it printed since testing::internal::CaptureStdout().
  QStringList output() const {
    return QString::fromStdString(testing::internal::GetCapturedStdout()).split(u'\n', Qt::SkipEmptyParts);
  }
};

TEST_F(IniWriter, WritesHeaderSettingsAndAnEmptyLineInCrLfOverTheWholeFile) {
  testing::internal::CaptureStdout();
  sandbox_->writeFile(u"one.ini"_s, QByteArray(4096, 'x'));
  saveINI(path(u"one.ini"_s), Config{{Section{u"A"_s, {{u"k"_s, u"v"_s}}}}});
  EXPECT_EQ(read(u"one.ini"_s), QByteArray("[A]\r\nk = v\r\n\r\n"));

  saveINI(path(u"two.ini"_s), Config{{Section{u"Größe"_s, {{u"ключ"_s, u"𝐀 x "_s}}}, Section{u"B"_s, {}}}});
  EXPECT_EQ(read(u"two.ini"_s), u"[Größe]\r\nключ = 𝐀 x \r\n\r\n[B]\r\n\r\n"_s.toUtf8());

  saveINI(path(u"empty.ini"_s), Config{});
  EXPECT_EQ(read(u"empty.ini"_s), QByteArray());
  EXPECT_EQ(entries(), (QStringList{u"empty.ini"_s, u"one.ini"_s, u"two.ini"_s}));
  EXPECT_TRUE(output().isEmpty());
}

// A missing folder, a folder in the file's place, and a file-size limit that
// makes the write fail halfway, after the temporary file has begun to fill:
// the target keeps its old bytes, nothing is left beside it, and standard
// output says so.
TEST_F(IniWriter, AFailedSaveLeavesTheOldFileWholeAndSaysSo) {
  const QByteArray old("[Old]\r\nk = v\r\n\r\n");
  sandbox_->writeFile(u"MakeInfo.ini"_s, old);
  testing::internal::CaptureStdout();
  Config large;
  large.set(u"A"_s, u"k"_s, QString(qsizetype(256) * 1024, u'x'));

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limited{rlim_t(16) * 1024, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  saveINI(path(u"MakeInfo.ini"_s), large);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  const QString noFolder = path(u"no/such/folder/x.ini"_s);
  saveINI(noFolder, large);
  saveINI(sandbox_->home(), large);

  EXPECT_EQ(read(u"MakeInfo.ini"_s), old);
  EXPECT_EQ(entries(), QStringList{u"MakeInfo.ini"_s});
  EXPECT_FALSE(QFile::exists(noFolder));
  const QString failed = u" failed"_s;
  EXPECT_EQ(output(), (QStringList{u"save "_s + path(u"MakeInfo.ini"_s) + failed,
                                   u"save "_s + noFolder + failed, u"save "_s + sandbox_->home() + failed}));
}

}  // namespace
}  // namespace ov::test
