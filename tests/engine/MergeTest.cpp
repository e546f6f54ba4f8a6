// The merge of the parts, and their names.

#include <sys/resource.h>

#include <csignal>

#include "tests/support/Rows.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using test::PrintTo;

// The installer put together while the chunks arrive: each part is appended
// as soon as every part before it is there, and removed right after. (Exact
// bytes at every size: the chunk plan and the window tests.)
enum class MergeEnd { AppendFails, Cancelled };

struct MergeCase {
  const char* name;
  std::int64_t size;
  MergeEnd end;
};

class MergeAsYouGo : public ServiceTest, public ::testing::WithParamInterface<MergeCase> {
 protected:
  void TearDown() override {
    if (limited_) ::setrlimit(RLIMIT_FSIZE, &previous_);
    ServiceTest::TearDown();
  }
  rlimit previous_{};
  bool limited_ = false;
};

TEST_P(MergeAsYouGo, AFailedAppendOrACancelDeliversAndLeavesNothing) {
  const MergeCase& c = GetParam();
  prepare(addInstaller(kSetup, c.size), c.size);
  setScenario([](refservice::Scenario& s) { s.installer.rateLimit = 8'000'000; });
  startDownload();
  if (c.end == MergeEnd::AppendFails) {
    // Once the installer's space is reserved, writes past 6 MiB fail: part 1
    // arrives whole (5 MiB) but cannot be appended behind part 0, which ends
    // the download.
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
  EXPECT_EQ(proxy_->completions(), 0);
  EXPECT_TRUE(toolkit_->openedUrls().empty());
  EXPECT_TRUE(QDir(sandbox_->downloads()).isEmpty());
}

const std::vector<MergeCase> kMerges = {
    {"AppendFails", 11 * kChunk, MergeEnd::AppendFails},
    {"CancelledWhileAppending", 25 * kChunk, MergeEnd::Cancelled},
};

INSTANTIATE_TEST_SUITE_P(Ends, MergeAsYouGo, ::testing::ValuesIn(kMerges), rowName);

TEST_F(ServiceTest, PartsOfANameWithoutExtensionHaveTwoDots) {
  const QString link = addInstaller(QStringLiteral("Setup"), kChunk + 10);
  prepare(link, kChunk + 10);
  // Part 1 waits on disk for the part 0 that never comes: held before its
  // first byte until part 1 is there, then dropped and refused on its retry.
  setScenario([](refservice::Scenario& s) { s.installer.hold = true, s.installer.holdRanges = {0}; });
  startDownload();
  ASSERT_TRUE(waitFor([&] { return tasksLeft() == 1 && heldRequests() == 1; }));
  setScenario([](refservice::Scenario& s) {
    s.installer.dropOnRelease = true, s.installer.failAtByte = 0, s.installer.hold = false;
  });
  ASSERT_TRUE(waitForOutcome());

  EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  EXPECT_EQ(tempFolder(), QFileInfo(saveLocation()).path() + QStringLiteral("/Setup_TempFiles"));
  EXPECT_EQ(QDir(tempFolder()).entryList(QDir::Files, QDir::Name),
            (QStringList{QStringLiteral("Setup..1"), QStringLiteral("Setup..state")}));
}

}  // namespace
}  // namespace ov::test
