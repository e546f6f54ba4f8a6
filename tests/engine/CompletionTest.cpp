// The size check, the move into Downloads, the reports and the hand-off to
// the opener.

#include "platform/Utility.h"
#include "tests/support/Rows.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using test::PrintTo;

using namespace Qt::Literals::StringLiterals;

constexpr std::int64_t kAnnounced = 10'485'761;

struct CompletionCase {
  const char* name;
  std::optional<std::int64_t> fileSize;  // the assembled file's; nothing: there is none
  std::int64_t announced;
  std::function<void(const Sandbox&)> downloadsBefore;  // what the user has in Downloads
  QString landsAs;                                      // empty: nothing is delivered
  bool opens = true;                                    // the opener accepts
};

class Completion : public ServiceTest, public ::testing::WithParamInterface<CompletionCase> {};

TEST_P(Completion, DeliversTheRightSizeUnderAFreeNameOrNothing) {
  const CompletionCase& c = GetParam();
  mgr_->fileUrl = mgr_->getSaveFileUrl(QStringLiteral("https://127.0.0.1/x/Setup.pkg"));
  mgr_->szTokenID = QStringLiteral("engine-test-token");
  mgr_->i64FileSize = c.announced;
  if (c.fileSize) writeWholeFile(saveLocation(), QByteArray(*c.fileSize, 'i'));
  writeWholeFile(downloadsPath(QStringLiteral("notes.txt")), "mine");
  if (c.downloadsBefore) c.downloadsBefore(*sandbox_);
  toolkit_->setOpenAnswer(c.opens);
  acquireNoSleepAssertion();
  mgr_->completeDownload();
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(waitForStatusReports(c.landsAs.isEmpty() || !c.opens ? 1 : 2));
  ASSERT_TRUE(c.landsAs.isEmpty() || waitFor([&] { return !posts("update-size-v2.jsp").empty(); }));
  settle(100ms);

  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_FALSE(QFileInfo::exists(saveLocation())) << "moved, or nothing kept";
  if (QFileInfo(sandbox_->downloads()).isDir()) {
    EXPECT_EQ(readWholeFile(downloadsPath(QStringLiteral("notes.txt"))), "mine");
    // Whatever stood in the installer's way stands there still (or was an older copy of it).
    EXPECT_TRUE(!c.downloadsBefore || QFileInfo(downloadsPath(kSetup)).exists());
  }
  if (c.landsAs.isEmpty()) {
    EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_SIZE_CHECK_FAILED));
    EXPECT_THAT(statusReports(), ElementsAre(Report{"MD5CheckFailed", ""}));
    EXPECT_EQ(proxy_->completions(), 0);
    EXPECT_THAT(toolkit_->calls(), IsEmpty());
    return;
  }
  const QString installed = downloadsPath(c.landsAs);
  EXPECT_EQ(QFileInfo(installed).size(), kAnnounced);
  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_TRUE(log_->systemLines().contains(QStringLiteral("[OVDownloader]Download complete")));
  EXPECT_EQ(posts("update-size-v2.jsp").size(), 1u);
  if (c.opens) {
    EXPECT_THAT(statusReports(), ElementsAre(Report{"Complete", "Complete"}, Report{"Complete", "Install"}));
    EXPECT_THAT(toolkit_->calls(), ElementsAre("openWithDefaultHandler", "setTerminating", "terminate"));
  } else {
    EXPECT_THAT(statusReports(), ElementsAre(Report{"Complete", "Complete"}));
    EXPECT_EQ(outputCount(QStringLiteral("Failed to launch the downloaded installer.")), 1);
    EXPECT_EQ(toolkit_->terminateCount(), 1);
  }
  EXPECT_THAT(toolkit_->openedUrls(), ElementsAre(QUrl::fromLocalFile(installed)));
}

const auto kFolderInTheWay = [](const Sandbox& s) {
  s.writeFile(u"Downloads/Setup.pkg/inside.txt"_s, "mine");
};

const std::vector<CompletionCase> kCases = {
    {"RightSize", kAnnounced, kAnnounced, nullptr, kSetup},
    {"OlderFileReplaced", kAnnounced, kAnnounced,
     [](const Sandbox& s) { s.writeFile(u"Downloads/Setup.pkg"_s, QByteArray(kAnnounced + 5, 'o')); },
     kSetup},
    {"FolderInTheWay", kAnnounced, kAnnounced, kFolderInTheWay, u"Setup (1).pkg"_s},
    {"LinkInTheWay", kAnnounced, kAnnounced,
     [](const Sandbox& s) {
       QFile::link(s.path(u"Downloads/notes.txt"_s), s.path(u"Downloads/Setup.pkg"_s));
     },
     u"Setup (1).pkg"_s},
    {"FirstFreeName", kAnnounced, kAnnounced,
     [](const Sandbox& s) {
       kFolderInTheWay(s);
       s.writeFile(u"Downloads/Setup (1).pkg"_s, "an earlier copy");
     },
     u"Setup (2).pkg"_s},
    {"OpenerRefuses", kAnnounced, kAnnounced, nullptr, kSetup, false},
    {"OneByteShort", kAnnounced - 1, kAnnounced, nullptr, QString()},
    {"OneByteLong", kAnnounced + 1, kAnnounced, nullptr, QString()},
    {"NegativeAnnounced", 0, -1, nullptr, QString()},
    {"NoAssembledFile", std::nullopt, 0, nullptr, QString()},
    // The move fails: nothing is at the only place an installer is opened from.
    {"DownloadsIsNoFolder", kAnnounced, kAnnounced,
     [](const Sandbox& s) {
       QDir(s.downloads()).removeRecursively();
       writeWholeFile(s.downloads(), "not a folder");
     },
     QString()},
};

INSTANTIATE_TEST_SUITE_P(Cases, Completion, ::testing::ValuesIn(kCases), rowName);

}  // namespace
}  // namespace ov::test
