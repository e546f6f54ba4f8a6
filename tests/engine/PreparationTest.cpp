// Preparation: the link, the save location, the size and the start reports,
// or exactly one failure and nothing written.

#include <QDirIterator>

#include "platform/Bundle.h"
#include "platform/Utility.h"
#include "tests/support/Rows.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using test::PrintTo;

constexpr std::int64_t kInstallerSize = 1'000'003;
constexpr std::int64_t kThreshold = 1'048'576'000;

QByteArray infoPlist(const char* build) {
  QByteArray plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>CFBundleIdentifier</key><string>com.orvalen.test</string>"
      "<key>CFBundleShortVersionString</key><string>2.1</string>";
  if (build) plist += QByteArray("<key>CFBundleVersion</key><string>") + build + "</string>";
  return plist + "</dict></plist>\n";
}

class Preparation : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    addInstaller(kSetup, kInstallerSize);
    DiskSpaceUtility::setFreeSpaceForTesting([this](const QString& path) {
      askedFreeSpaceFor_ = path;
      return freeSpace_;
    });
    sandbox_->writeFile(QStringLiteral("Tool.app/Contents/Info.plist"), infoPlist("305"));
    Bundle::setMainBundlePathForTesting(sandbox_->path(QStringLiteral("Tool.app")));
  }
  void TearDown() override {
    Bundle::setMainBundlePathForTesting(QString());
    ServiceTest::TearDown();
  }
  QString supportFolder() const { return sandbox_->dataHome() + QStringLiteral("/com.orvalen.test"); }

  QString askedFreeSpaceFor_;  // written on the preparation's thread before its outcome is posted
};

TEST_F(Preparation, AllChecksPassedMakesTheDownloadReady) {
  ASSERT_TRUE(prepareForReal());
  ASSERT_TRUE(waitForStatusReports(1));
  EXPECT_EQ(ready_, 1);
  EXPECT_THAT(proxy_->failures(), IsEmpty());
  EXPECT_EQ(mgr_->sourceUrl, QString::fromStdString(service_->installerUrl("Setup.pkg")));
  EXPECT_EQ(mgr_->fileUrl->toLocalFile(), supportFolder() + QStringLiteral("/Setup.pkg"));
  EXPECT_EQ(askedFreeSpaceFor_, supportFolder());
  EXPECT_EQ(mgr_->i64FileSize.load(), kInstallerSize);
  EXPECT_DOUBLE_EQ(mgr_->totalFileSize, static_cast<double>(kInstallerSize));
  EXPECT_EQ(mgr_->heartbeatsTime, 30);
  EXPECT_EQ(mgr_->vid, QStringLiteral("2.1.305"));
  EXPECT_EQ(mgr_->language->size(), 3);
  ASSERT_TRUE(mgr_->szTokenID.has_value());
  EXPECT_EQ(mgr_->szTokenID->size(), 36);

  // The start report, then the "Launch" status, both under the one new token.
  const auto info = posts("update-info.jsp").front();
  const auto status = posts("update-status.jsp").front();
  EXPECT_EQ(info.field("TokenID"), mgr_->szTokenID->toStdString());
  EXPECT_EQ(info.field("VID"), "2.1.305");
  EXPECT_EQ(status.field("TokenID"), mgr_->szTokenID->toStdString());
  EXPECT_EQ(status.field("status"), "Launch");
  EXPECT_EQ(status.field("detail_status"), "");
  EXPECT_EQ(status.field("CancelReason"), "");

  // Every preparation makes a new token.
  ASSERT_TRUE(prepareForReal());
  ASSERT_TRUE(waitForStatusReports(2));
  EXPECT_NE(posts("update-status.jsp")[1].field("TokenID"), status.field("TokenID"));
  EXPECT_EQ(posts("update-status.jsp")[1].field("TokenID"), mgr_->szTokenID->toStdString());
}

struct OutcomeCase {
  const char* name;
  std::optional<ERROR_Code> failure;  // nothing: the download becomes ready
  std::function<void(refservice::Scenario&)> scenario;
  bool reachable = true;
  std::optional<std::int64_t> freeSpace = 50'000'000'000;
};

class PreparationOutcome : public Preparation, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(PreparationOutcome, IsReadyOrExactlyOneFailureWithNothingWrittenOrReported) {
  const OutcomeCase& c = GetParam();
  reachable_ = c.reachable;
  freeSpace_ = c.freeSpace;
  setScenario(c.scenario);
  EXPECT_EQ(prepareForReal(), !c.failure);
  if (!c.failure) {
    EXPECT_EQ(ready_, 1);
    EXPECT_THAT(proxy_->failures(), IsEmpty());
    return;
  }
  EXPECT_THAT(proxy_->failures(), ElementsAre(*c.failure));
  EXPECT_EQ(ready_, 0);
  EXPECT_THAT(posts("update-info.jsp"), IsEmpty());
  EXPECT_THAT(posts("update-status.jsp"), IsEmpty());
  QDirIterator files(sandbox_->dataHome(), QDir::Files, QDirIterator::Subdirectories);
  EXPECT_FALSE(files.hasNext()) << files.next().toStdString();
}

std::function<void(refservice::Scenario&)> rawLink(const char* text) {
  return [text](refservice::Scenario& s) { s.link = refservice::LinkAnswer::RawText, s.linkText = text; };
}

std::function<void(refservice::Scenario&)> headLength(const char* text) {
  return [text](refservice::Scenario& s) { s.installer.headContentLength = text; };
}

constexpr auto kServerError = ERROR_Code::E_SERVER_ERROR;
constexpr auto kLowDiskSpace = ERROR_Code::E_LOW_DISK_SPACE;

const auto kAny = [](refservice::Scenario&) {};

const std::vector<OutcomeCase> kOutcomes = {
    {"NoNetwork", ERROR_Code::E_NO_CONNECTION, kAny, false},
    {"ServiceSilent", kServerError, [](auto&) { setServiceHostForTesting(QStringLiteral("127.0.0.1:1")); }},
    {"ServerError", kServerError, [](auto& s) { s.link = refservice::LinkAnswer::ServerError; }},
    {"NeedUpdate", ERROR_Code::E_NEED_UPDATE, [](auto& s) { s.link = refservice::LinkAnswer::NeedUpdate; }},
    {"ProbeFails", kServerError, [](auto& s) { s.installer.headStatus = 404; }},
    {"ProbeSaysZeroBytes", kServerError, headLength("0")},
    {"ProbeSaysNegativeBytes", kServerError, headLength("-5")},
    {"ProbeLengthUnreadable", kServerError, headLength("1e6")},
    {"FileLink", kServerError, rawLink("file:///etc/passwd?http")},
    {"FtpLink", kServerError, rawLink("ftp://mirror.example/http/Setup.pkg")},
    {"NoHost", kServerError, rawLink("https:///Setup.pkg")},
    {"DotDot", kServerError, rawLink("https://cdn.example/a/..")},
    {"EncodedDotDot", kServerError, rawLink("https://cdn.example/a/%2E%2E")},
    {"EncodedSlash", kServerError, rawLink("https://cdn.example/a/..%2F..%2F.bashrc")},
    {"Backslash", kServerError, rawLink("https://cdn.example/a/..%5C..%5Cevil")},
    {"ControlCharacter", kServerError, rawLink("https://cdn.example/Setup%0A.pkg")},
    {"NoFileName", kServerError, rawLink("https://cdn.example/downloads/")},
    {"FreeSpaceAtTheThreshold", kLowDiskSpace, kAny, true, kThreshold},
    {"FreeSpaceAboveTheThreshold", {}, kAny, true, kThreshold + 1},
    {"FreeSpaceUnknown", kLowDiskSpace, kAny, true, std::nullopt},
    // Beside the installer, room for the ten parts that may wait to be appended.
    {"InstallerAndItsPartsFit", {}, headLength("2000000000"), true, 2'000'000'000 + 10 * kChunk},
    {"InstallerFitsButNotItsParts", kLowDiskSpace, headLength("2000000000"), true,
     2'000'000'000 + 10 * kChunk - 1},
};

INSTANTIATE_TEST_SUITE_P(Outcomes, PreparationOutcome, ::testing::ValuesIn(kOutcomes), rowName);

TEST_F(Preparation, ABundleWithoutBuildNumberKeepsTheAgentVersion) {
  sandbox_->writeFile(QStringLiteral("Tool.app/Contents/Info.plist"), infoPlist(nullptr));
  ASSERT_TRUE(prepareForReal());
  EXPECT_EQ(mgr_->vid, QStringLiteral("1.0.0.1312"));
  EXPECT_EQ(posts("get-link.jsp").front().field("VID"), "1.0.0.1312");
}

TEST_F(Preparation, AWindowThatHasGoneAwayIsNeitherCalledNorKeptAlive) {
  reachable_ = false;
  auto window = std::make_shared<RecordingProxy>();
  std::weak_ptr<RecordingProxy> watch = window;
  offMain([&, held = std::shared_ptr<DownloadProxy>(window)]() mutable {
    mgr_->initDownloadMgr(held, QStringLiteral("P"), QStringLiteral("S"), QStringLiteral("V"),
                          QStringLiteral("T"));
    held.reset();
  });
  window.reset();  // the failure is still queued for the main thread
  EXPECT_TRUE(watch.expired()) << "the manager must hold its window weakly";
  drainMainQueue();  // delivering to nobody must be harmless
  EXPECT_EQ(mgr_->product, QStringLiteral("P")) << "the state changes still happen";
}

}  // namespace
}  // namespace ov::test
