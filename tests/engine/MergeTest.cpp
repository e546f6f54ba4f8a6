// Part file names, the merge of the parts and the temporary folder.

#include <system_error>

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

// merge(files:to:chunkSize:) on its own, with a small block size.
class MergeFilesTest : public EngineTest {
 protected:
  static constexpr std::int64_t kBlock = 4096;

  QUrl part(int index, const QByteArray& bytes) {
    const QString path = sandbox_->path(QStringLiteral("parts/p.") + QString::number(index));
    writeWholeFile(path, bytes);
    return QUrl::fromLocalFile(path);
  }
  QUrl target() const { return QUrl::fromLocalFile(sandbox_->path(QStringLiteral("merged.bin"))); }
  QByteArray bytes(std::int64_t size, std::uint32_t seed) const {
    const std::string pattern = patternBytes(size, seed);
    return QByteArray(pattern.data(), static_cast<qsizetype>(pattern.size()));
  }
};

TEST_F(MergeFilesTest, AppendsEveryPartWholeInOrder) {
  const QByteArray a = bytes(kBlock, 1), b = bytes(kBlock, 2), c = bytes(17, 3);
  mgr_->merge({part(0, a), part(1, b), part(2, QByteArray()), part(3, c)}, target(), kBlock);
  EXPECT_EQ(readWholeFile(target().toLocalFile()), a + b + c);
}

TEST_F(MergeFilesTest, ReplacesAnExistingTargetFromTheStart) {
  writeWholeFile(target().toLocalFile(), bytes(3 * kBlock, 9));
  const QByteArray a = bytes(100, 1);
  mgr_->merge({part(0, a)}, target(), kBlock);
  EXPECT_EQ(readWholeFile(target().toLocalFile()), a);
}

TEST_F(MergeFilesTest, RefusesAPartLongerThanABlock) {
  const QByteArray a = bytes(kBlock, 1);
  EXPECT_THROW(mgr_->merge({part(0, a), part(1, bytes(kBlock + 1, 2))}, target(), kBlock), std::system_error);
  EXPECT_EQ(readWholeFile(target().toLocalFile()), a);
}

TEST_F(MergeFilesTest, AMissingPartStopsTheMergeBehindTheEarlierParts) {
  std::vector<QUrl> parts;
  QByteArray before;
  for (int i = 0; i < 5; ++i) {
    const QByteArray content = bytes(kBlock, static_cast<std::uint32_t>(i + 1));
    parts.push_back(part(i, content));
    if (i < 3) before += content;
  }
  QFile::remove(parts[3].toLocalFile());
  try {
    mgr_->merge(parts, target(), kBlock);
    ADD_FAILURE() << "the merge went on without part 3";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
  }
  EXPECT_EQ(readWholeFile(target().toLocalFile()), before);
}

TEST_F(MergeFilesTest, FailsWhenTheTargetCannotBeWritten) {
  QDir().mkpath(target().toLocalFile());
  EXPECT_THROW(mgr_->merge({part(0, bytes(10, 1))}, target(), kBlock), std::system_error);
}

// mergeChunkedFiles() over part files laid out as the rounds leave them.
class ChunkMergeTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    mgr_->fileUrl = mgr_->getSaveFileUrl(QStringLiteral("https://127.0.0.1/x/Setup.pkg"));
    mgr_->szTokenID = QStringLiteral("engine-test-token");
    mgr_->progressTimer = ov::RepeatingTimer::scheduled(600, [] {});
    mgr_->heartbeatsTimer = ov::RepeatingTimer::scheduled(600, [] {});
  }

  // Writes parts 0 to count - 1 (all but `missing`); answers the bytes of the parts before it.
  QByteArray writeParts(int count, int missing = -1) {
    QByteArray whole;
    for (int i = 0; i < count; ++i) {
      const std::string content =
          patternBytes(i == count - 1 ? 1000 : kChunk, static_cast<std::uint32_t>(i + 1));
      if (i == missing) continue;
      const QByteArray bytes(content.data(), static_cast<qsizetype>(content.size()));
      writeWholeFile(tempFolder() + QStringLiteral("/Setup.pkg.") + QString::number(i), bytes);
      if (missing < 0 || i < missing) whole += bytes;
    }
    mgr_->dataChuckCount = count;
    return whole;
  }
};

TEST_F(ChunkMergeTest, JoinsThePartsAndEndsTheTransferPhase) {
  const QByteArray whole = writeParts(3);
  mgr_->mergeChunkedFiles();
  settle(std::chrono::milliseconds(100));

  EXPECT_EQ(readWholeFile(saveLocation()), whole);
  EXPECT_THAT(proxy_->progress(), ElementsAre(1.0));
  EXPECT_FALSE(mgr_->progressTimer);
  EXPECT_FALSE(mgr_->heartbeatsTimer);
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), Total Progress: 1.0")), 1);
}

TEST_F(ChunkMergeTest, AMissingPartFailsTheDownloadAndStillReachesTheSizeCheck) {
  const QByteArray firstThree = writeParts(5, 3);
  mgr_->i64FileSize = 4 * kChunk + 1000;
  mgr_->tasksCountInCurrentRound = 0;
  // The last completion of the last round ends it on the task queue.
  auto ending = std::async(std::launch::async, [mgr = mgr_.get()] { mgr->checkTasksStatus(); });
  ASSERT_TRUE(waitFor([&] { return proxy_->failures().size() == 2; }));
  ASSERT_TRUE(waitForStatusReports(1));

  EXPECT_THAT(proxy_->events(), ElementsAre("failed:6", "failed:9"));
  EXPECT_EQ(readWholeFile(saveLocation()), firstThree);
  EXPECT_FALSE(QFileInfo::exists(tempFolder()));
  EXPECT_EQ(
      outputCount(QStringLiteral("OVDownloadMgr::mergeChunkedFiles(), error when merging parted files!!")),
      1);
  EXPECT_THAT(statusReports(), ElementsAre(std::pair<std::string, std::string>{"MD5CheckFailed", ""}));
  EXPECT_TRUE(mgr_->progressTimer);
  EXPECT_TRUE(toolkit_->openedUrls().empty());
}

TEST_F(ChunkMergeTest, ACancelledDownloadIsNotMerged) {
  writeParts(2);
  mgr_->bCancel = true;
  mgr_->mergeChunkedFiles();
  settle(std::chrono::milliseconds(100));

  EXPECT_TRUE(QFileInfo::exists(tempFolder() + QStringLiteral("/Setup.pkg.1")));
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  EXPECT_TRUE(proxy_->events().empty());
  EXPECT_TRUE(mgr_->progressTimer);
  EXPECT_TRUE(mgr_->heartbeatsTimer);
}

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
  service_->updateScenario([](refservice::Scenario& s) { s.installer.failAtByte = kChunk; });
  startDownload();
  ASSERT_TRUE(waitForOutcome());

  EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  EXPECT_EQ(tempFolder(), QFileInfo(saveLocation()).path() + QStringLiteral("/Setup_TempFiles"));
  EXPECT_EQ(QDir(tempFolder()).entryList(QDir::Files, QDir::Name),
            (QStringList{QStringLiteral("Setup..0"), QStringLiteral("Setup..1")}));
}

}  // namespace
}  // namespace enginetest
