// Part file names, the merge of the parts and the temporary folder.

#include <sys/resource.h>

#include <csignal>

#include "platform/RepeatingTimer.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;

struct SplitCase {
  QString path;
  QString directory;
  QString filenameOnly;
  QString ext;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
  *out << c.path.toStdString();
}

class SplitFilenameTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitFilenameTest, SplitsFolderNameAndExtension) {
  const auto [directory, filenameOnly, ext] =
      OVDownloadMgr::splitFilename(QUrl::fromLocalFile(GetParam().path));
  EXPECT_EQ(directory, GetParam().directory);
  EXPECT_EQ(filenameOnly, GetParam().filenameOnly);
  EXPECT_EQ(ext, GetParam().ext);
}

INSTANTIATE_TEST_SUITE_P(Names, SplitFilenameTest,
                         ::testing::Values(SplitCase{QStringLiteral("/a/b/Setup.pkg"), QStringLiteral("/a/b"),
                                                     QStringLiteral("Setup"), QStringLiteral("pkg")},
                                           SplitCase{QStringLiteral("/a/b/Setup"), QStringLiteral("/a/b"),
                                                     QStringLiteral("Setup"), QString()},
                                           SplitCase{QStringLiteral("/a/Setup.tar.gz"), QStringLiteral("/a"),
                                                     QStringLiteral("Setup.tar"), QStringLiteral("gz")},
                                           SplitCase{QStringLiteral("/a/.profile"), QStringLiteral("/a"),
                                                     QStringLiteral(".profile"), QString()}));

// The installer put together while the rounds run: each part is appended as
// soon as every part before it is there, and removed right after.
enum class MergeEnd { Delivered, AppendFails, Cancelled };

struct MergeCase {
  const char* name;
  std::int64_t size;
  MergeEnd end = MergeEnd::Delivered;
};

void PrintTo(const MergeCase& c, std::ostream* out) {
  *out << c.name;
}

class MergeAsYouGo : public EngineTest, public ::testing::WithParamInterface<MergeCase> {
 protected:
  void TearDown() override {
    if (limited_) ::setrlimit(RLIMIT_FSIZE, &previous_);
    EngineTest::TearDown();
  }
  rlimit previous_{};
  bool limited_ = false;
};

TEST_P(MergeAsYouGo, TheInstallerIsExactOrNothingIsLeft) {
  const MergeCase& c = GetParam();
  addInstaller(QStringLiteral("Setup.pkg"), c.size);
  const QString served = installerPath(QStringLiteral("Setup.pkg"));
  prepare(QString::fromStdString(service_->installerUrl("Setup.pkg")), c.size);
  if (c.end != MergeEnd::Delivered)
    service_->updateScenario([](refservice::Scenario& s) { s.installer.rateLimit = 8'000'000; });
  startDownload();
  if (c.end == MergeEnd::AppendFails) {
    // Once the installer's space is reserved, writes past 6 MiB fail: part 1
    // arrives whole (5 MiB) but cannot be appended behind part 0.
    ASSERT_TRUE(waitFor([&] { return !chunkRequests().empty(); }));
    std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = 6 * 1024 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    limited_ = true;
  }
  if (c.end == MergeEnd::Cancelled) {
    // Parts are being appended while later ones still arrive.
    ASSERT_TRUE(waitFor([&] { return mgr_->currentReceivedSize.load() >= 3 * kChunk; }));
    mgr_->CancelDownload(false);
  } else {
    ASSERT_TRUE(waitForOutcome());
  }
  settle();

  const QString merged =
      QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), error when merging parted files!!");
  const QString done = QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0");
  switch (c.end) {
    case MergeEnd::Delivered:
      EXPECT_EQ(proxy_->completions(), 1);
      EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")), served));
      EXPECT_EQ(outputCount(done), 1);
      EXPECT_EQ(outputCount(merged), 0);
      EXPECT_EQ(proxy_->progress().back(), 1.0);
      EXPECT_FALSE(QFileInfo::exists(tempFolder()));
      EXPECT_FALSE(QFileInfo::exists(saveLocation())) << "moved, not copied";
      break;
    case MergeEnd::AppendFails:
      EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
      EXPECT_EQ(outputCount(merged), 1);
      EXPECT_EQ(outputCount(done), 0);
      break;
    case MergeEnd::Cancelled:
      EXPECT_TRUE(proxy_->failures().empty());
      EXPECT_FALSE(QFileInfo::exists(tempFolder()));
      EXPECT_FALSE(QFileInfo::exists(saveLocation()));
      break;
  }
  if (c.end != MergeEnd::Delivered) {
    EXPECT_EQ(proxy_->completions(), 0);
    EXPECT_TRUE(toolkit_->openedUrls().empty());
    EXPECT_TRUE(QDir(sandbox_->downloads()).isEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, MergeAsYouGo,
                         ::testing::Values(MergeCase{"OneByte", 1}, MergeCase{"OneChunk", kChunk},
                                           MergeCase{"OneChunkAndAByte", kChunk + 1},
                                           MergeCase{"TwentyFiveChunks", 25 * kChunk - 7},
                                           MergeCase{"AppendFails", 3 * kChunk, MergeEnd::AppendFails},
                                           MergeCase{"CancelledWhileAppending", 25 * kChunk,
                                                     MergeEnd::Cancelled}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, RemovingTempFilesWithNothingThereDoesNothing) {
  mgr_->removeTempFiles();
  mgr_->fileUrl = mgr_->getSaveFileUrl(QStringLiteral("https://127.0.0.1/x/Setup.pkg"));
  mgr_->removeTempFiles();
  writeWholeFile(tempFolder() + QStringLiteral("/sub/Setup.pkg.0"), "x");
  mgr_->removeTempFiles();
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_TRUE(log_->outputLines().isEmpty());
}

struct SaveNameCase {
  const char* name;
  QString served;  // the installer's name on the server
  QString link;    // what follows "/installers/" in the link
  QString saved;   // the name in Downloads
};

void PrintTo(const SaveNameCase& c, std::ostream* out) {
  *out << c.name;
}

class SaveNameTest : public EngineTest, public ::testing::WithParamInterface<SaveNameCase> {};

TEST_P(SaveNameTest, TheInstallerKeepsTheNameOfItsLink) {
  const SaveNameCase& c = GetParam();
  addInstaller(c.served, kChunk + 10);
  prepare(QString::fromStdString(service_->baseUrl()) + QStringLiteral("/installers/") + c.link, kChunk + 10);
  EXPECT_EQ(QFileInfo(saveLocation()).fileName(), c.saved);
  startDownload();
  ASSERT_TRUE(waitForOutcome());

  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_TRUE(sameFileContents(downloadsPath(c.saved), installerPath(c.served)));
  EXPECT_EQ(QDir(sandbox_->downloads()).entryList(QDir::Files), QStringList{c.saved});
}

INSTANTIATE_TEST_SUITE_P(Links, SaveNameTest,
                         ::testing::Values(SaveNameCase{"NoExtension", QStringLiteral("Setup"),
                                                        QStringLiteral("Setup"), QStringLiteral("Setup")},
                                           SaveNameCase{"Query", QStringLiteral("Setup.pkg"),
                                                        QStringLiteral("Setup.pkg?k=v"),
                                                        QStringLiteral("Setup.pkg")}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, PartsOfANameWithoutExtensionHaveTwoDots) {
  const QString link = addInstaller(QStringLiteral("Setup"), kChunk + 10);
  prepare(link, kChunk + 10);
  // Part 1 waits on disk for the part 0 that never comes.
  service_->updateScenario([](refservice::Scenario& s) { s.installer.failAtByte = 0; });
  startDownload();
  ASSERT_TRUE(waitForOutcome());

  EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  EXPECT_EQ(tempFolder(), QFileInfo(saveLocation()).path() + QStringLiteral("/Setup_TempFiles"));
  EXPECT_EQ(QDir(tempFolder()).entryList(QDir::Files, QDir::Name),
            (QStringList{QStringLiteral("Setup..1"), QStringLiteral("Setup..state")}));
}

}  // namespace
}  // namespace enginetest
