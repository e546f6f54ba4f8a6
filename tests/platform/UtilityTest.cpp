#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Bundle.h"
#include "platform/Utility.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

namespace {

using ov::test::LogCapture;
using ov::test::Sandbox;

QString folderOf(const QUrl& url) {
  return url.toLocalFile();
}

mode_t modeOf(const QString& path) {
  struct stat info {};
  ::stat(QFile::encodeName(path).constData(), &info);
  return info.st_mode & 07777;
}

// --- createDirectory ----------------------------------------------------------

TEST(CreateDirectory, ARegularFileAtThePathCountsAsSuccessAndStaysAFile) {
  Sandbox sandbox;
  const QString file = sandbox.writeFile(QStringLiteral("occupied"), "data");
  EXPECT_TRUE(createDirectory(file, true));
  EXPECT_TRUE(createDirectory(file, false));
  EXPECT_TRUE(QFileInfo(file).isFile());
  EXPECT_EQ(QFileInfo(file).size(), 4);
}

struct CreateCase {
  const char* name;
  const char* path;  // below the sandbox home
  bool withIntermediate;
  bool expected;
  bool folderAfterwards;
};

class CreateDirectoryTest : public ::testing::TestWithParam<CreateCase> {};

TEST_P(CreateDirectoryTest, CreatesOrReports) {
  Sandbox sandbox;
  sandbox.writeFile(QStringLiteral("file"), "x");
  QDir().mkpath(sandbox.path(QStringLiteral("existing")));
  const QString path = sandbox.path(QString::fromUtf8(GetParam().path));
  EXPECT_EQ(createDirectory(path, GetParam().withIntermediate), GetParam().expected);
  EXPECT_EQ(QFileInfo(path).isDir(), GetParam().folderAfterwards);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CreateDirectoryTest,
    ::testing::Values(CreateCase{"Existing", "existing", false, true, true},
                      CreateCase{"NewLeaf", "existing/new", false, true, true},
                      CreateCase{"NewLeafTrailingSlash", "existing/new/", false, true, true},
                      CreateCase{"MissingParentWithout", "missing/new", false, false, false},
                      CreateCase{"MissingParentsWith", "a/b/c/d", true, true, true},
                      CreateCase{"UnderAFileWith", "file/sub", true, false, false},
                      CreateCase{"UnderAFileWithout", "file/sub", false, false, false},
                      CreateCase{"Unicode", "Téléchargements/ダウンロード", true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CreateDirectory, EmptyPathFails) {
  EXPECT_FALSE(createDirectory(QString(), true));
}

TEST(CreateDirectory, PermissionsAttributeAppliesToEveryCreatedFolder) {
  Sandbox sandbox;
  const QString leaf = sandbox.path(QStringLiteral("p/q/r"));
  ASSERT_TRUE(createDirectory(leaf, true, QVariantMap{{QStringLiteral("NSFilePosixPermissions"), 0700}}));
  for (const char* folder : {"p", "p/q", "p/q/r"})
    EXPECT_EQ(modeOf(sandbox.path(QString::fromLatin1(folder))), 0700u) << folder;
}

// --- getApplicationSupportDirectory -------------------------------------------

class ApplicationSupportTest : public ::testing::Test {
 protected:
  void useBundleWithIdentifier(const char* identifierElement) {
    const QByteArray plist = QByteArrayLiteral("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>") +
                             identifierElement + QByteArrayLiteral("</dict></plist>");
    sandbox.writeFile(QStringLiteral("Agent.app/Contents/Info.plist"), plist);
    ov::Bundle::setMainBundlePathForTesting(sandbox.path(QStringLiteral("Agent.app")));
  }
  void TearDown() override { ov::Bundle::setMainBundlePathForTesting(QString()); }

  Sandbox sandbox;
};

TEST_F(ApplicationSupportTest, WithoutTheFlagIsTheDataFolderItselfCreatedWhenMissing) {
  ASSERT_TRUE(QDir(sandbox.dataHome()).removeRecursively());
  const QUrl url = getApplicationSupportDirectory(false);
  EXPECT_TRUE(url.isLocalFile());
  EXPECT_EQ(QDir::cleanPath(folderOf(url)), sandbox.dataHome());
  EXPECT_TRUE(folderOf(url).endsWith(u'/'));
  EXPECT_TRUE(QFileInfo(sandbox.dataHome()).isDir());
}

struct IdentifierCase {
  const char* name;
  const char* plistEntry;
  const char* folder;
};

class ApplicationSupportIdentifierTest : public ApplicationSupportTest,
                                         public ::testing::WithParamInterface<IdentifierCase> {};

TEST_P(ApplicationSupportIdentifierTest, WithTheFlagAppendsTheBundleIdentifier) {
  useBundleWithIdentifier(GetParam().plistEntry);
  const QUrl url = getApplicationSupportDirectory(true);
  EXPECT_EQ(folderOf(url), sandbox.dataHome() + u'/' + QString::fromUtf8(GetParam().folder) + u'/');
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, ApplicationSupportIdentifierTest,
    ::testing::Values(IdentifierCase{"FromTheBundle",
                                     "<key>CFBundleIdentifier</key><string>com.example.Agent</string>",
                                     "com.example.Agent"},
                      IdentifierCase{"NoIdentifier", "<key>CFBundleName</key><string>Agent</string>",
                                     ov::kFallbackBundleIdentifier},
                      IdentifierCase{"EmptyIdentifier", "<key>CFBundleIdentifier</key><string></string>",
                                     ov::kFallbackBundleIdentifier},
                      IdentifierCase{"EscapingIdentifier",
                                     "<key>CFBundleIdentifier</key><string>../../etc</string>",
                                     ov::kFallbackBundleIdentifier},
                      IdentifierCase{"DotDot", "<key>CFBundleIdentifier</key><string>..</string>",
                                     ov::kFallbackBundleIdentifier}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplicationSupportTest, FallsBackToLibraryApplicationSupportWhenNoDataFolderCanBeMade) {
  useBundleWithIdentifier("<key>CFBundleIdentifier</key><string>com.example.Agent</string>");
  const QString blocker = sandbox.writeFile(QStringLiteral("blocker"), "x");
  qputenv("XDG_DATA_HOME", QFile::encodeName(blocker + QStringLiteral("/share")));
  EXPECT_EQ(folderOf(getApplicationSupportDirectory(true)),
            sandbox.home() + QStringLiteral("/Library/Application Support/com.example.Agent/"));
  EXPECT_EQ(folderOf(getApplicationSupportDirectory(false)),
            sandbox.home() + QStringLiteral("/Library/Application Support/"));
}

// --- Disk space ---------------------------------------------------------------

TEST(DiskSpace, FreeAndTotalOfARealVolume) {
  Sandbox sandbox;
  const auto free = DiskSpaceUtility::getFreeDiskspace(sandbox.home());
  const auto total = DiskSpaceUtility::getTotalDiskspace(sandbox.home());
  ASSERT_TRUE(free.has_value());
  ASSERT_TRUE(total.has_value());
  EXPECT_GE(*free, 0);
  EXPECT_GT(*total, 0);
  EXPECT_LE(*free, *total);
}

TEST(DiskSpace, MissingPathPrintsTheMessageAndGivesNothing) {
  Sandbox sandbox;
  LogCapture log;
  const QString missing = sandbox.path(QStringLiteral("no/such/folder"));
  EXPECT_EQ(DiskSpaceUtility::getFreeDiskspace(missing), std::nullopt);
  EXPECT_EQ(log.outputLines(), QStringList{QStringLiteral("Error Obtaining System Memory Info:")});
  EXPECT_TRUE(log.systemLines().isEmpty());

  log.clear();
  EXPECT_EQ(DiskSpaceUtility::getTotalDiskspace(missing), std::nullopt);
  EXPECT_TRUE(log.outputLines().isEmpty());
}

TEST(DiskSpace, TestAnswersReplaceTheVolumeUntilCleared) {
  Sandbox sandbox;
  QString asked;
  DiskSpaceUtility::setFreeSpaceForTesting([&](const QString& path) -> std::optional<std::int64_t> {
    asked = path;
    return 1048576000;
  });
  DiskSpaceUtility::setTotalSpaceForTesting([](const QString&) { return std::optional<std::int64_t>(); });
  EXPECT_EQ(DiskSpaceUtility::getFreeDiskspace(sandbox.home()), 1048576000);
  EXPECT_EQ(asked, sandbox.home());
  EXPECT_EQ(DiskSpaceUtility::getTotalDiskspace(sandbox.home()), std::nullopt);
  DiskSpaceUtility::setFreeSpaceForTesting(nullptr);
  DiskSpaceUtility::setTotalSpaceForTesting(nullptr);
  EXPECT_NE(DiskSpaceUtility::getFreeDiskspace(sandbox.home()), 1048576000);
  EXPECT_TRUE(DiskSpaceUtility::getTotalDiskspace(sandbox.home()).has_value());
}

// --- The keep-awake assertion -----------------------------------------------

class NoSleepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(noSleepReturn.has_value()) << "an earlier test left an assertion held";
    setNoSleepBackendForTesting(NoSleepBackend{[this](std::uint32_t& id) {
                                                 std::lock_guard lk(mutex);
                                                 id = nextId++;
                                                 created.push_back(id);
                                                 ++held;
                                                 maxHeld = std::max(maxHeld, held);
                                                 return status;
                                               },
                                               [this](std::uint32_t id) {
                                                 std::lock_guard lk(mutex);
                                                 released.push_back(id);
                                                 --held;
                                               }});
  }
  void TearDown() override {
    releaseNoSleepAssertion();
    setNoSleepBackendForTesting(std::nullopt);
  }

  std::mutex mutex;
  std::uint32_t nextId = 100;
  std::int32_t status = 0;
  std::vector<std::uint32_t> created;
  std::vector<std::uint32_t> released;
  int held = 0;
  int maxHeld = 0;
};

TEST_F(NoSleepTest, AcquireTwiceReleaseTwiceMakesOneAndReleasesOne) {
  acquireNoSleepAssertion();
  EXPECT_EQ(noSleepReturn, 0);
  EXPECT_EQ(noSleepAssertionID, 100u);
  acquireNoSleepAssertion();
  releaseNoSleepAssertion();
  EXPECT_FALSE(noSleepReturn.has_value());
  releaseNoSleepAssertion();
  EXPECT_EQ(created, std::vector<std::uint32_t>{100});
  EXPECT_EQ(released, std::vector<std::uint32_t>{100});
}

TEST_F(NoSleepTest, ReleaseWithNoneHeldDoesNothing) {
  releaseNoSleepAssertion();
  EXPECT_TRUE(released.empty());
  EXPECT_FALSE(noSleepReturn.has_value());
}

TEST_F(NoSleepTest, AFailedCreationStillCountsAsHeldAndIsReleasedOnce) {
  status = 3;
  acquireNoSleepAssertion();
  EXPECT_EQ(noSleepReturn, 3);
  acquireNoSleepAssertion();
  EXPECT_EQ(created.size(), 1u);
  releaseNoSleepAssertion();
  releaseNoSleepAssertion();
  EXPECT_EQ(released, std::vector<std::uint32_t>{100});
}

// The download starts (acquire) on a background queue while pause and cancel
// (release) run on the main thread.
TEST_F(NoSleepTest, AcquireAndReleaseFromManyThreadsNeverHoldTwo) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 300; ++i) {
        if ((i + t) % 2 == 0)
          acquireNoSleepAssertion();
        else
          releaseNoSleepAssertion();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  releaseNoSleepAssertion();
  std::lock_guard lk(mutex);
  EXPECT_EQ(maxHeld, 1);
  EXPECT_EQ(held, 0);
  EXPECT_EQ(created, released);
}

}  // namespace
