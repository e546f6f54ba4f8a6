#include <QDirIterator>

#include "platform/Bundle.h"
#include "platform/NotificationCenter.h"
#include "platform/Utility.h"
#include "tests/service/ServiceFixture.h"

namespace ov::test {
namespace {

constexpr std::int64_t kThreshold = 1'048'576'000;

class Preparation : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    Connectivity::setReachabilityForTesting([this] { return reachable; });
    DiskSpaceUtility::setFreeSpaceForTesting([this](const QString& path) {
      askedFreeSpaceFor = path;
      return freeSpace;
    });
    DiskSpaceUtility::setTotalSpaceForTesting([this](const QString&) { return capacity; });
    readyToken = NotificationCenter::defaultCenter().addObserver(ReadyToDownload, [this] { ++ready; });
    bundle = sandbox.writeFile(QStringLiteral("Tool.app/Contents/Info.plist"), infoPlist("2.1", "305"));
    Bundle::setMainBundlePathForTesting(sandbox.path(QStringLiteral("Tool.app")));
  }

  void TearDown() override {
    NotificationCenter::defaultCenter().removeObserver(readyToken);
    Connectivity::setReachabilityForTesting(nullptr);
    DiskSpaceUtility::setFreeSpaceForTesting(nullptr);
    DiskSpaceUtility::setTotalSpaceForTesting(nullptr);
    Bundle::setMainBundlePathForTesting(QString());
    ServiceFixture::TearDown();
  }

  static QByteArray infoPlist(const char* shortVersion, const char* build) {
    QByteArray plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleIdentifier</key><string>com.orvalen.test</string>";
    if (shortVersion)
      plist += QByteArray("<key>CFBundleShortVersionString</key><string>") + shortVersion + "</string>";
    if (build) plist += QByteArray("<key>CFBundleVersion</key><string>") + build + "</string>";
    return plist + "</dict></plist>\n";
  }

  // Prepares on a background thread, as the window does, and waits until the
  // outcome has reached the main thread.
  void prepare() {
    const int before = ready + static_cast<int>(proxy->failures().size());
    ov::globalUtilityQueue().async([this] {
      manager->initDownloadMgr(proxy, QStringLiteral("BrindleCutter"), QStringLiteral("SR-1"),
                               QStringLiteral("21.0"), QStringLiteral("Retail"));
    });
    ASSERT_TRUE(
        runEventLoopUntil([&] { return ready + static_cast<int>(proxy->failures().size()) > before; }));
    runEventLoopFor(std::chrono::milliseconds(100));  // a second outcome would show up now
  }

  void expectOneFailure(ERROR_Code code) {
    EXPECT_EQ(proxy->failures(), std::vector<ERROR_Code>{code});
    EXPECT_EQ(ready, 0);
  }

  std::shared_ptr<RecordingProxy> proxy = std::make_shared<RecordingProxy>();
  bool reachable = true;
  std::optional<std::int64_t> freeSpace = 50'000'000'000;
  std::optional<std::int64_t> capacity = 100'000'000'000;
  QString askedFreeSpaceFor;
  int ready = 0;
  NotificationCenter::Token readyToken = 0;
  QString bundle;
};

TEST_F(Preparation, AllChecksPassedMakesTheDownloadReady) {
  prepare();
  EXPECT_EQ(ready, 1);
  EXPECT_TRUE(proxy->failures().empty());
  EXPECT_EQ(manager->sourceUrl, QString::fromStdString(service->installerUrl("Setup.pkg")));
  EXPECT_EQ(manager->fileUrl->toLocalFile(),
            sandbox.dataHome() + QStringLiteral("/com.orvalen.test/Setup.pkg"));
  EXPECT_EQ(askedFreeSpaceFor, sandbox.dataHome() + QStringLiteral("/com.orvalen.test"));
  EXPECT_EQ(manager->i64FileSize.load(), kInstallerSize);
  EXPECT_DOUBLE_EQ(manager->totalFileSize, static_cast<double>(kInstallerSize));
  EXPECT_EQ(manager->heartbeatsTime, 30);
  EXPECT_EQ(manager->vid, QStringLiteral("2.1.305"));
  EXPECT_EQ(manager->language->size(), 3);
  EXPECT_TRUE(manager->szTokenID.has_value());
  EXPECT_EQ(manager->szTokenID->size(), 36);

  // The start report, then the "Launch" status, both under the one new token.
  ASSERT_TRUE(waitForRequests("update-status.jsp", 1));
  const auto info = requestsTo("update-info.jsp");
  const auto status = requestsTo("update-status.jsp");
  ASSERT_EQ(info.size(), 1u);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_LT(info.front().seq, status.front().seq);
  EXPECT_EQ(info.front().field("TokenID"), manager->szTokenID->toStdString());
  EXPECT_EQ(status.front().field("TokenID"), manager->szTokenID->toStdString());
  EXPECT_EQ(status.front().field("status"), "Launch");
  EXPECT_EQ(status.front().field("detail_status"), "");
  EXPECT_EQ(status.front().field("CancelReason"), "");
  EXPECT_EQ(info.front().field("VID"), "2.1.305");
  EXPECT_EQ(info.front().field("url"), service->installerUrl("Setup.pkg"));

  // The conversation in its order: link, heartbeat, size, start report, status.
  std::vector<std::string> order;
  for (const auto& r : service->requests()) order.push_back(r.method + " " + r.path);
  const std::vector<std::string> expected{
      "POST /prog/util/downloader/get-link.jsp", "POST /prog/util/downloader/heartbeat.jsp",
      "HEAD /installers/Setup.pkg", "POST /prog/util/downloader/update-info.jsp",
      "POST /prog/util/downloader/update-status.jsp"};
  EXPECT_EQ(order, expected);
}

TEST_F(Preparation, NoNetworkFailsBeforeAskingTheService) {
  manager->sourceUrl = QStringLiteral("https://earlier.example/Setup.pkg");
  reachable = false;
  prepare();
  expectOneFailure(ERROR_Code::E_NO_CONNECTION);
  EXPECT_EQ(manager->sourceUrl, QStringLiteral("https://earlier.example/Setup.pkg"));
  EXPECT_TRUE(service->requests().empty());
}

struct LinkOutcome {
  const char* name;
  std::function<void(refservice::Scenario&)> scenario;
  ERROR_Code code;
};

class PreparationLink : public Preparation, public ::testing::WithParamInterface<LinkOutcome> {};

TEST_P(PreparationLink, EachWayOfGivingNoUsableLinkIsOneFailure) {
  setScenario(GetParam().scenario);
  prepare();
  expectOneFailure(GetParam().code);
  EXPECT_TRUE(requestsTo("update-info.jsp").empty()) << "no start report after a failure";
  EXPECT_TRUE(requestsTo("update-status.jsp").empty());
  // Nothing was written but the application-support folder itself.
  QDirIterator files(sandbox.dataHome(), QDir::Files, QDirIterator::Subdirectories);
  EXPECT_FALSE(files.hasNext()) << files.next().toStdString();
}

auto rawLink(const char* text) {
  return [text](refservice::Scenario& s) {
    s.link = refservice::LinkAnswer::RawText;
    s.linkText = text;
  };
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PreparationLink,
    ::testing::Values(
        LinkOutcome{"ServerError", [](auto& s) { s.link = refservice::LinkAnswer::ServerError; },
                    ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"NeedUpdate", [](auto& s) { s.link = refservice::LinkAnswer::NeedUpdate; },
                    ERROR_Code::E_NEED_UPDATE},
        LinkOutcome{"ProbeFails", [](auto& s) { s.installer.headStatus = 404; }, ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"FileLink", rawLink("file:///etc/passwd?http"), ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"FtpLink", rawLink("ftp://mirror.example/http/Setup.pkg"), ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"NoHost", rawLink("https:///Setup.pkg"), ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"DotDot", rawLink("https://cdn.example/a/.."), ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"EncodedDotDot", rawLink("https://cdn.example/a/%2E%2E"), ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"EncodedSlash", rawLink("https://cdn.example/a/..%2F..%2F.bashrc"),
                    ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"Backslash", rawLink("https://cdn.example/a/..%5C..%5Cevil"), ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"ControlCharacter", rawLink("https://cdn.example/Setup%0A.pkg"),
                    ERROR_Code::E_SERVER_ERROR},
        LinkOutcome{"NoFileName", rawLink("https://cdn.example/downloads/"), ERROR_Code::E_SERVER_ERROR}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Preparation, ALinkQueryWithoutAnswerAndWithoutReasonIsAServerError) {
  // Answered once, then the service goes silent: the host no longer listens.
  setServiceHostForTesting(QStringLiteral("127.0.0.1:1"));
  prepare();
  expectOneFailure(ERROR_Code::E_SERVER_ERROR);
  EXPECT_FALSE(manager->queryDownloadURLErrorID.has_value());
}

TEST_F(Preparation, TheFreeSpaceThresholdIsFixed) {
  freeSpace = kThreshold;
  prepare();
  expectOneFailure(ERROR_Code::E_LOW_DISK_SPACE);

  freeSpace = kThreshold + 1;
  proxy = std::make_shared<RecordingProxy>();
  prepare();
  EXPECT_EQ(ready, 1);
  EXPECT_TRUE(proxy->failures().empty());
}

TEST_F(Preparation, AnInstallerLargerThanTheFreeSpaceButNotTheDiskStillPrepares) {
  setScenario([](auto& s) { s.installer.headContentLength = "40000000000"; });
  freeSpace = kThreshold + 1;
  capacity = 50'000'000'000;
  prepare();
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(manager->i64FileSize.load(), 40'000'000'000);
}

TEST_F(Preparation, ASizeNoDiskCouldHoldIsLowDiskSpace) {
  setScenario([](auto& s) { s.installer.headContentLength = "9000000000000000000"; });
  prepare();
  expectOneFailure(ERROR_Code::E_LOW_DISK_SPACE);
  EXPECT_TRUE(requestsTo("update-info.jsp").empty());
}

TEST_F(Preparation, AnUnknownFreeSpaceIsTreatedAsTooLittle) {
  freeSpace.reset();
  prepare();
  expectOneFailure(ERROR_Code::E_LOW_DISK_SPACE);
}

TEST_F(Preparation, EveryPreparationMakesANewToken) {
  prepare();
  const auto first = manager->szTokenID;
  ASSERT_TRUE(waitForRequests("update-status.jsp", 1));
  prepare();
  ASSERT_TRUE(waitForRequests("update-status.jsp", 2));
  EXPECT_EQ(ready, 2);
  EXPECT_NE(manager->szTokenID, first);
  const auto status = requestsTo("update-status.jsp");
  EXPECT_NE(status[0].field("TokenID"), status[1].field("TokenID"));
}

TEST_F(Preparation, AReasonFromAnEarlierAttemptIsKept) {
  setScenario([](auto& s) { s.link = refservice::LinkAnswer::NeedUpdate; });
  prepare();
  expectOneFailure(ERROR_Code::E_NEED_UPDATE);
  setScenario([](auto& s) { s.link = refservice::LinkAnswer::Installer; });
  prepare();
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(manager->queryDownloadURLErrorID, ERR_ID_Query_Download_URL::EQDU_NEED_UPDATE);
  EXPECT_TRUE(manager->newDownloaderURL.has_value());
}

TEST_F(Preparation, ABundleWithoutBuildNumberKeepsTheAgentVersion) {
  sandbox.writeFile(QStringLiteral("Tool.app/Contents/Info.plist"), infoPlist("2.1", nullptr));
  prepare();
  EXPECT_EQ(manager->vid, QStringLiteral("1.0.0.1312"));
  EXPECT_EQ(requestsTo("get-link.jsp").front().field("VID"), "1.0.0.1312");
}

TEST_F(Preparation, AWindowThatHasGoneAwayIsNeitherCalledNorKeptAlive) {
  reachable = false;
  auto window = std::make_shared<RecordingProxy>();
  std::weak_ptr<RecordingProxy> watch = window;
  ov::Semaphore prepared(0);
  ov::globalUtilityQueue().async([&, held = std::shared_ptr<DownloadProxy>(window)]() mutable {
    manager->initDownloadMgr(held, QStringLiteral("P"), QStringLiteral("S"), QStringLiteral("V"),
                             QStringLiteral("T"));
    held.reset();
    prepared.signal();
  });
  prepared.wait();
  window.reset();  // the failure is still queued for the main thread
  EXPECT_TRUE(watch.expired()) << "the manager must hold its window weakly";
  runEventLoopFor(std::chrono::milliseconds(200));  // delivering to nobody must be harmless
  EXPECT_EQ(manager->product, QStringLiteral("P")) << "the state changes still happen";
}

}  // namespace
}  // namespace ov::test
