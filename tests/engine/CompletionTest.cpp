// The size check, the move into Downloads, the reports and the hand-off to
// the opener.

#include "platform/Utility.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Report = std::pair<std::string, std::string>;

constexpr std::int64_t kAnnounced = 10'485'761;

class Completion;

struct CompletionCase {
  const char* name;
  std::optional<std::int64_t> fileSize;  // the assembled file's; nothing: there is none
  std::int64_t announced;
  std::function<void(Completion&)> downloadsBefore;  // what the user has in Downloads
  QString landsAs;                                   // empty: nothing is delivered
  bool opens = true;                                 // the opener accepts
};

void PrintTo(const CompletionCase& c, std::ostream* out) {
  *out << c.name;
}

class Completion : public ServiceTest, public ::testing::WithParamInterface<CompletionCase> {
 public:
  QString downloads(const QString& name) const { return downloadsPath(name); }
  Sandbox& sandbox() { return *sandbox_; }
};

TEST_P(Completion, DeliversTheRightSizeUnderAFreeNameOrNothing) {
  const CompletionCase& c = GetParam();
  mgr_->fileUrl = mgr_->getSaveFileUrl(QStringLiteral("https://127.0.0.1/x/Setup.pkg"));
  mgr_->szTokenID = QStringLiteral("engine-test-token");
  mgr_->i64FileSize = c.announced;
  if (c.fileSize) {
    QFile file(saveLocation());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(*c.fileSize));
  }
  writeWholeFile(downloadsPath(QStringLiteral("notes.txt")), "mine");
  if (c.downloadsBefore) c.downloadsBefore(*this);
  toolkit_->setOpenAnswer(c.opens);
  acquireNoSleepAssertion();
  mgr_->completeDownload();
  ASSERT_TRUE(waitForEnd());
  ASSERT_TRUE(waitForStatusReports(c.landsAs.isEmpty() || !c.opens ? 1 : 2));
  if (!c.landsAs.isEmpty()) {
    ASSERT_TRUE(waitForPosts("update-size-v2.jsp", 1));
  }
  settle(100ms);

  EXPECT_EQ(assertionsHeld_.load(), 0);
  EXPECT_FALSE(QFileInfo::exists(saveLocation())) << "moved, or nothing kept";
  if (QFileInfo(sandbox_->downloads()).isDir()) {
    EXPECT_EQ(readWholeFile(downloadsPath(QStringLiteral("notes.txt"))), "mine");
    // Whatever stood in the installer's way stands there still (or was an older copy of it).
    if (c.downloadsBefore) {
      EXPECT_TRUE(QFileInfo(downloadsPath(QStringLiteral("Setup.pkg"))).exists());
    }
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

const auto kFolderInTheWay = [](Completion& t) {
  t.sandbox().writeFile(QStringLiteral("Downloads/Setup.pkg/inside.txt"), "mine");
};
const auto kSetup = QStringLiteral("Setup.pkg");

const std::vector<CompletionCase> kCases = {
    {"RightSize", kAnnounced, kAnnounced, nullptr, kSetup},
    {"OlderFileReplaced", kAnnounced, kAnnounced,
     [](Completion& t) { writeWholeFile(t.downloads(kSetup), QByteArray(kAnnounced + 5, 'o')); }, kSetup},
    {"FolderInTheWay", kAnnounced, kAnnounced, kFolderInTheWay, QStringLiteral("Setup (1).pkg")},
    {"LinkInTheWay", kAnnounced, kAnnounced,
     [](Completion& t) { QFile::link(t.downloads(QStringLiteral("notes.txt")), t.downloads(kSetup)); },
     QStringLiteral("Setup (1).pkg")},
    {"FirstFreeName", kAnnounced, kAnnounced,
     [](Completion& t) {
       kFolderInTheWay(t);
       writeWholeFile(t.downloads(QStringLiteral("Setup (1).pkg")), "an earlier copy");
     },
     QStringLiteral("Setup (2).pkg")},
    {"OpenerRefuses", kAnnounced, kAnnounced, nullptr, kSetup, false},
    {"OneByteShort", kAnnounced - 1, kAnnounced, nullptr, QString()},
    {"OneByteLong", kAnnounced + 1, kAnnounced, nullptr, QString()},
    {"NegativeAnnounced", 0, -1, nullptr, QString()},
    {"NoAssembledFile", std::nullopt, 0, nullptr, QString()},
    // The move fails: nothing is at the only place an installer is opened from.
    {"DownloadsIsNoFolder", kAnnounced, kAnnounced,
     [](Completion& t) {
       QDir(t.sandbox().downloads()).removeRecursively();
       writeWholeFile(t.sandbox().downloads(), "not a folder");
     },
     QString()},
};

INSTANTIATE_TEST_SUITE_P(Cases, Completion, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ov::test
