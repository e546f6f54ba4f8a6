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

// A checkpoint's count belongs to the assembly it counted: one that was still
// flushing when the assembly was discarded (a failed size check) and reopened
// (its restart) would count the new, zero-filled reservation as appended.
enum class Meanwhile { Nothing, Discarded, Reopened };
struct CheckpointCase {
  const char* name;
  Meanwhile meanwhile;
};

class CheckpointRule : public ::testing::TestWithParam<CheckpointCase> {};

TEST_P(CheckpointRule, ACountIsRecordedOnlyForTheAssemblyItCounted) {
  const Sandbox sandbox;
  const auto path = [&](const QString& name) { return sandbox.path(name); };
  const auto part = [&](std::int64_t i) { return path(QStringLiteral("Setup.pkg.%1").arg(i)); };
  const InstallerAssembly::Layout layout{path(u"Setup.pkg"_qs),
                                         part,
                                         30,
                                         10,
                                         3,
                                         path(u"Setup.pkg.state"_qs),
                                         {u"https://h/Setup.pkg"_qs, 30, u"\"t\""_qs, 10, 0, {}}};
  InstallerAssembly assembly;
  QString error;
  ASSERT_TRUE(assembly.open(layout, 0, std::nullopt, error));
  // Part 0 goes into the installer; part 2 waits on disk for part 1.
  for (const std::int64_t i : {0, 2}) {
    writeWholeFile(part(i), QByteArray(10, 'p'));
    assembly.markArrived(i);
  }
  ASSERT_TRUE(assembly.appendArrived(error));
  const auto taken = assembly.checkpoint(error);
  ASSERT_TRUE(taken);
  if (GetParam().meanwhile != Meanwhile::Nothing) assembly.close();
  const bool reopened =
      GetParam().meanwhile != Meanwhile::Reopened || assembly.open(layout, 0, std::nullopt, error);

  const bool recorded = GetParam().meanwhile == Meanwhile::Nothing;
  EXPECT_TRUE(reopened);
  EXPECT_EQ(assembly.record(*taken, error), recorded);
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  const auto state = TransferState::load(layout.statePath);
  ASSERT_EQ(state.has_value(), recorded);
  if (state) {
    EXPECT_EQ(state->appendedParts, 1);
    EXPECT_EQ(state->flushedParts, std::vector<std::int64_t>{2});
  }
}

INSTANTIATE_TEST_SUITE_P(Rule, CheckpointRule,
                         ::testing::Values(CheckpointCase{"SameAssembly", Meanwhile::Nothing},
                                           CheckpointCase{"DiscardedMeanwhile", Meanwhile::Discarded},
                                           CheckpointCase{"ReopenedMeanwhile", Meanwhile::Reopened}),
                         rowName);

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
  // The requests still under way were cancelled, and remove their files as they end.
  const QStringList kept{QStringLiteral("Setup..1"), QStringLiteral("Setup..state")};
  EXPECT_TRUE(waitFor([&] { return QDir(tempFolder()).entryList(QDir::Files, QDir::Name) == kept; }))
      << QDir(tempFolder()).entryList(QDir::Files).join(u' ').toStdString();
}

}  // namespace
}  // namespace ov::test
