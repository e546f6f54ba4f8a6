#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Bundle.h"
#include "platform/Utility.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Rows.h"
#include "tests/support/Sandbox.h"

namespace ov::test {
namespace {

using test::PrintTo;

struct CreateCase {
  const char* name;
  const char* path;  // below the sandbox home, which holds the file "file"; null: empty
  bool expected;
  bool folderAfterwards;
};

class CreateDirectoryTest : public ::testing::TestWithParam<CreateCase> {};

TEST_P(CreateDirectoryTest, CreatesOrReportsAndNeverTouchesAFile) {
  Sandbox sandbox;
  const QString file = sandbox.writeFile(QStringLiteral("file"), "x");
  const QString path = GetParam().path ? sandbox.path(QString::fromUtf8(GetParam().path)) : QString();
  EXPECT_EQ(createDirectory(path, true), GetParam().expected);
  EXPECT_EQ(QFileInfo(path).isDir(), GetParam().folderAfterwards);
  EXPECT_EQ(QFileInfo(file).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, CreateDirectoryTest,
                         ::testing::Values(CreateCase{"NewWithParentsAndTrailingSlash", "a/b/c/", true, true},
                                           CreateCase{"UnderAFile", "file/sub", false, false},
                                           CreateCase{"AFileCountsAsSuccess", "file", true, false},
                                           CreateCase{"Unicode", "Téléchargements/ダウンロード", true, true},
                                           CreateCase{"Empty", nullptr, false, false}),
                         rowName);

struct IdentifierCase {
  const char* name;
  QByteArray plist;  // the bundle's Info.plist
  const char* folder;
};

QByteArray plist(const char* entries) {
  return QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>") + entries + "</dict></plist>";
}

class ApplicationSupportTest : public ::testing::TestWithParam<IdentifierCase> {
 protected:
  void SetUp() override {
    sandbox.writeFile(QStringLiteral("Agent.app/Contents/Info.plist"), GetParam().plist);
    Bundle::setMainBundlePathForTesting(sandbox.path(QStringLiteral("Agent.app")));
  }
  void TearDown() override { Bundle::setMainBundlePathForTesting(QString()); }
  Sandbox sandbox;
};

// Created when missing; when no data folder can be made, ~/Library/Application Support.
TEST_P(ApplicationSupportTest, IsTheDataFolderWithAPlainIdentifierFolderOrTheLibraryFallback) {
  const QString folder = QString::fromUtf8(GetParam().folder) + u'/';
  ASSERT_TRUE(QDir(sandbox.dataHome()).removeRecursively());
  EXPECT_EQ(getApplicationSupportDirectory(true).toLocalFile(), sandbox.dataHome() + u'/' + folder);
  EXPECT_TRUE(QFileInfo(sandbox.dataHome()).isDir());
  qputenv("XDG_DATA_HOME",
          QFile::encodeName(sandbox.writeFile(QStringLiteral("blocker"), "x") + u"/share"_qs));
  EXPECT_EQ(getApplicationSupportDirectory(true).toLocalFile(),
            sandbox.home() + QStringLiteral("/Library/Application Support/") + folder);
}

// Only a top-level string of an XML Info.plist that is a plain folder name counts.
INSTANTIATE_TEST_SUITE_P(
    Identifiers, ApplicationSupportTest,
    ::testing::Values(
        IdentifierCase{"FromTheBundle",
                       plist("<key>CFBundleIdentifier</key><string>com.example.Agent</string>"),
                       "com.example.Agent"},
        IdentifierCase{"None", plist("<key>Empty</key><string/>"), kFallbackBundleIdentifier},
        IdentifierCase{"Empty", plist("<key>CFBundleIdentifier</key><string></string>"),
                       kFallbackBundleIdentifier},
        IdentifierCase{"Escaping", plist("<key>CFBundleIdentifier</key><string>../../etc</string>"),
                       kFallbackBundleIdentifier},
        IdentifierCase{"DotDot", plist("<key>CFBundleIdentifier</key><string>..</string>"),
                       kFallbackBundleIdentifier},
        IdentifierCase{"NotAString", plist("<key>CFBundleIdentifier</key><integer>7</integer>"),
                       kFallbackBundleIdentifier},
        IdentifierCase{"Nested",
                       plist("<key>N</key><dict><key>CFBundleIdentifier</key><string>a.b</string></dict>"),
                       kFallbackBundleIdentifier},
        IdentifierCase{"Truncated", "<plist><dict><key>CFBundleIdentifier</key><string>a.b",
                       kFallbackBundleIdentifier},
        IdentifierCase{"Binary",
                       QByteArray("bplist00\xd1\x01\x02_\x10\x12"
                                  "CFBundleIdentifier"),
                       kFallbackBundleIdentifier}),
    rowName);

TEST(DiskSpace, FreeSpaceOfTheVolumeOrNothingWithTheMessage) {
  Sandbox sandbox;
  const auto free = DiskSpaceUtility::getFreeDiskspace(sandbox.home());
  ASSERT_TRUE(free);
  EXPECT_GE(*free, 0);
  LogCapture log;
  EXPECT_EQ(DiskSpaceUtility::getFreeDiskspace(sandbox.path(QStringLiteral("missing"))), std::nullopt);
  EXPECT_EQ(log.outputLines(), QStringList{QStringLiteral("Error Obtaining System Memory Info:")});
}

// A backend that counts what it holds.
class NoSleepTest : public ::testing::TestWithParam<std::int32_t> {
 protected:
  void SetUp() override {
    setNoSleepBackendForTesting(NoSleepBackend{[this](std::uint32_t& id) {
                                                 std::lock_guard lk(mutex);
                                                 id = static_cast<std::uint32_t>(created.size());
                                                 created.push_back(id);
                                                 maxHeld = std::max(maxHeld, ++held);
                                                 return GetParam();
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
  std::vector<std::uint32_t> created, released;
  int held = 0, maxHeld = 0;
};

// The download starts (acquire) on a background queue while pause and cancel
// (release) run on the main thread. Any status counts as held, as on macOS:
// a failed creation is released once too.
TEST_P(NoSleepTest, AcquireAndReleaseFromManyThreadsNeverHoldTwo) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 300; ++i) (i + t) % 2 == 0 ? acquireNoSleepAssertion() : releaseNoSleepAssertion();
    });
  }
  for (auto& thread : threads) thread.join();
  releaseNoSleepAssertion();
  std::lock_guard lk(mutex);
  EXPECT_EQ(maxHeld, 1);
  EXPECT_EQ(held, 0);
  EXPECT_EQ(created, released);
}

INSTANTIATE_TEST_SUITE_P(Statuses, NoSleepTest, ::testing::Values(0, 3));

}  // namespace
}  // namespace ov::test
