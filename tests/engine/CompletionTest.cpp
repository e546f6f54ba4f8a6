// The size check, the move into Downloads, the reports and the hand-off to
// the opener.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include "tests/engine/EngineFixture.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;
using Report = std::pair<std::string, std::string>;

constexpr std::int64_t kAnnounced = 10'485'761;

class CompletionTest : public EngineTest {
 protected:
  // A merged file of `size` (zero) bytes at the save location of Setup.pkg.
  void merged(std::int64_t size, std::int64_t announced = kAnnounced) {
    mgr_->fileUrl = mgr_->getSaveFileUrl(QStringLiteral("https://127.0.0.1/x/Setup.pkg"));
    mgr_->szTokenID = QStringLiteral("engine-test-token");
    mgr_->i64FileSize = announced;
    QFile file(saveLocation());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size));
  }
  std::vector<QString> toolkitCalls() const { return toolkit_->calls(); }
};

TEST_F(CompletionTest, TheRightSizeIsMovedReportedOpenedAndEnds) {
  merged(kAnnounced);
  acquireNoSleepAssertion();
  mgr_->completeDownload();
  ASSERT_TRUE(waitFor([&] { return sizeReportCount() == 1; }));

  const QString installed = downloadsPath(QStringLiteral("Setup.pkg"));
  EXPECT_EQ(QFileInfo(installed).size(), kAnnounced);
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  EXPECT_THAT(statusReports(), ElementsAre(Report{"Complete", "Complete"}, Report{"Complete", "Install"}));
  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_THAT(toolkit_->openedUrls(), ElementsAre(QUrl::fromLocalFile(installed)));
  EXPECT_THAT(toolkitCalls(), ElementsAre("openWithDefaultHandler", "setTerminating", "terminate"));
  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_TRUE(log_->systemLines().contains(QStringLiteral("[OVDownloader]Download complete")));
  EXPECT_EQ(mgr_->getDownloadedFileLocation(), installed);
  EXPECT_EQ(mgr_->getDownloadedFileSize(), kAnnounced);
}

struct WrongSizeCase {
  const char* name;
  std::optional<std::int64_t> fileSize;  // nothing: no merged file at all
  std::int64_t announced;
};

void PrintTo(const WrongSizeCase& c, std::ostream* out) {
  *out << c.name;
}

class WrongSizeTest : public CompletionTest, public ::testing::WithParamInterface<WrongSizeCase> {};

TEST_P(WrongSizeTest, IsReportedAndLeavesTheFileWhereItIs) {
  merged(GetParam().fileSize.value_or(0), GetParam().announced);
  if (!GetParam().fileSize) QFile::remove(saveLocation());
  mgr_->completeDownload();
  ASSERT_TRUE(waitFor([&] { return !proxy_->failures().empty(); }));
  ASSERT_TRUE(waitForStatusReports(1));
  settle(std::chrono::milliseconds(100));

  EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_SIZE_CHECK_FAILED));
  EXPECT_THAT(statusReports(), ElementsAre(Report{"MD5CheckFailed", ""}));
  EXPECT_EQ(proxy_->completions(), 0);
  EXPECT_EQ(QFileInfo::exists(saveLocation()), GetParam().fileSize.has_value());
  EXPECT_FALSE(QFileInfo::exists(downloadsPath(QStringLiteral("Setup.pkg"))));
  EXPECT_TRUE(toolkitCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, WrongSizeTest,
                         ::testing::Values(WrongSizeCase{"OneByteShort", kAnnounced - 1, kAnnounced},
                                           WrongSizeCase{"OneByteLong", kAnnounced + 1, kAnnounced},
                                           WrongSizeCase{"NegativeAnnounced", 0, -1},
                                           WrongSizeCase{"NoMergedFile", std::nullopt, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CompletionTest, AnOlderFileInDownloadsIsReplaced) {
  const QString installed = downloadsPath(QStringLiteral("Setup.pkg"));
  writeWholeFile(installed, QByteArray(kAnnounced + 500, 'o'));
  merged(kAnnounced);
  mgr_->completeDownload();

  EXPECT_EQ(readWholeFile(installed), QByteArray(kAnnounced, '\0'));
  EXPECT_THAT(toolkit_->openedUrls(), ElementsAre(QUrl::fromLocalFile(installed)));
}

TEST_F(CompletionTest, AnOpenerThatRefusesStillEndsTheProgram) {
  toolkit_->setOpenAnswer(false);
  merged(kAnnounced);
  mgr_->completeDownload();
  ASSERT_TRUE(waitFor([&] { return sizeReportCount() == 1; }));
  settle(std::chrono::milliseconds(100));

  EXPECT_EQ(outputCount(QStringLiteral("Failed to launch the downloaded installer.")), 1);
  EXPECT_THAT(statusReports(), ElementsAre(Report{"Complete", "Complete"}));
  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_EQ(toolkit_->terminateCount(), 1);
}

// The immutable flag keeps even root from removing a file.
bool setImmutable(const QString& path, bool on) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return done;
}

TEST_F(CompletionTest, AnOldFileThatCannotBeRemovedIsNeverOpened) {
  const QString old = downloadsPath(QStringLiteral("Setup.pkg"));
  writeWholeFile(old, "older installer");
  if (!setImmutable(old, true)) GTEST_SKIP() << "the file system here has no immutable flag";
  merged(kAnnounced);
  mgr_->completeDownload();
  setImmutable(old, false);

  EXPECT_EQ(outputCount(QStringLiteral("Move the downloaded pkg to Downloads folder failed!")), 1);
  EXPECT_EQ(outputCount(QStringLiteral("The installer stays at ") + saveLocation()), 1);
  EXPECT_EQ(readWholeFile(old), QByteArray("older installer"));
  EXPECT_THAT(toolkit_->openedUrls(), ElementsAre(QUrl::fromLocalFile(saveLocation())));
  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_EQ(toolkit_->terminateCount(), 1);
}

TEST_F(CompletionTest, WithoutADownloadsFolderTheInstallerIsOpenedWhereItIs) {
  QDir(sandbox_->downloads()).removeRecursively();
  writeWholeFile(sandbox_->downloads(), "not a folder");
  merged(kAnnounced);
  mgr_->completeDownload();

  EXPECT_GE(outputCount(QStringLiteral("get download path failed.")), 1);
  EXPECT_EQ(outputCount(QStringLiteral("Move the downloaded pkg to Downloads folder failed!")), 1);
  EXPECT_TRUE(QFileInfo::exists(saveLocation()));
  EXPECT_THAT(toolkit_->openedUrls(), ElementsAre(QUrl::fromLocalFile(saveLocation())));
  EXPECT_EQ(toolkit_->terminateCount(), 1);
}

TEST_F(EngineTest, ANameWithoutExtensionLandsUnderItsOwnName) {
  mgr_->fileUrl = mgr_->getSaveFileUrl(QStringLiteral("https://127.0.0.1/x/Setup"));
  EXPECT_EQ(mgr_->getDownloadedFileLocation(), downloadsPath(QStringLiteral("Setup")));
  EXPECT_FALSE(mgr_->getNewDownloaderURL());
  mgr_->newDownloaderURL = QStringLiteral("https://example.invalid/new");
  EXPECT_EQ(mgr_->getNewDownloaderURL(), QStringLiteral("https://example.invalid/new"));
}

}  // namespace
}  // namespace enginetest
