#include "platform/Clock.h"
#include "service/StatusReport.h"
#include "tests/service/ServiceFixture.h"

namespace ov::test {
namespace {

class StatusReport : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    manager->szTokenID = QStringLiteral("0F0E4C2A-0000-4000-8000-000000000001");
    manager->locale = QStringLiteral("US");
    manager->szUUID = QStringLiteral("S-1-ABC");
    manager->sourceUrl = QStringLiteral("https://cdn.example/Setup.pkg");
    manager->i64FileSize = 10485761;
    manager->currentReceivedSize = 5242880;
  }
  void TearDown() override {
    setClockForTesting(nullptr);
    ServiceFixture::TearDown();
  }
};

TEST_F(StatusReport, StatusNamesAreSpelledAsTheServiceExpects) {
  EXPECT_EQ(statusName(STATUS_ID::SI_LAUNCH), "Launch");
  EXPECT_EQ(statusName(STATUS_ID::SI_MD5FAILED), "MD5CheckFailed");
  EXPECT_EQ(statusName(STATUS_ID::SI_NOREQUEST), "");
  EXPECT_EQ(STATUS_NAME_Dict().size(), 10u);
  EXPECT_EQ(STATUS_IDFromRaw(9), STATUS_ID::SI_COMPLETE);
  EXPECT_FALSE(STATUS_IDFromRaw(10).has_value());
  EXPECT_FALSE(STATUS_IDFromRaw(-1).has_value());
}

TEST_F(StatusReport, TheStartReportDescribesProductMachineAndLink) {
  manager->sendLog_UpdateInfo();  // blocks until answered
  const auto requests = requestsTo("update-info.jsp");
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests.front();
  EXPECT_EQ(r.form.size(), 12u);
  EXPECT_EQ(r.field("TokenID"), "0F0E4C2A-0000-4000-8000-000000000001");
  EXPECT_EQ(r.field("PRODUCTNAME"), "BrindleCutter");
  EXPECT_EQ(r.field("PRODUCTVERSION"), "21.0");
  EXPECT_EQ(r.field("VERSIONTYPE"), "Retail");
  EXPECT_EQ(r.field("SR"), "SR-1");
  EXPECT_EQ(r.field("VID"), "1.0.0.1312");
  EXPECT_EQ(r.field("LANGUAGE"), "ENU");
  EXPECT_EQ(r.field("platform"), "x64");
  EXPECT_EQ(r.field("ostype"), "Mac");
  EXPECT_EQ(r.field("Locale"), "US");
  EXPECT_EQ(r.field("UUID"), "S-1-ABC");
  EXPECT_EQ(r.field("url"), "https://cdn.example/Setup.pkg");
  EXPECT_TRUE(log.outputLines().contains(
      QStringLiteral("SendHttpPostRequset to sendLog_UpdateInfo Status Code = 200")));
  EXPECT_TRUE(log.systemLines().contains(QStringLiteral(
      "[OVDownloader]sendLog_UpdateInfo succeed! TokenID : 0F0E4C2A-0000-4000-8000-000000000001")));
}

TEST_F(StatusReport, TheStatusReportCarriesItsThreeTexts) {
  manager->sendLog_UpdateStatus(QStringLiteral("Complete"), QStringLiteral("Install"), QString());
  const auto requests = requestsTo("update-status.jsp");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests.front().form.size(), 4u);
  EXPECT_EQ(requests.front().field("status"), "Complete");
  EXPECT_EQ(requests.front().field("detail_status"), "Install");
  EXPECT_EQ(requests.front().field("CancelReason"), "");
  EXPECT_TRUE(log.systemLines().contains(QStringLiteral(
      "[OVDownloader]sendLog_UpdateStatus succeed! TokenID : 0F0E4C2A-0000-4000-8000-000000000001, Status : "
      "Complete, DetailStatus : Install, CancelReason : ")));
}

TEST_F(StatusReport, WithoutATokenNoStatusIsSent) {
  manager->szTokenID.reset();
  manager->sendLog_UpdateStatus(QStringLiteral("Cancel"), QString(), QString());
  manager->sendLog_UpdateInfo();  // a request after it, to know the first would have arrived
  EXPECT_TRUE(requestsTo("update-status.jsp").empty());
  EXPECT_TRUE(log.systemLines().filter(QStringLiteral("sendLog_UpdateStatus")).isEmpty());
}

TEST_F(StatusReport, TheSizeReportSendsWholeSecondsAndDoesNotWait) {
  const QDateTime start = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
  setClockForTesting([start] { return start.addMSecs(12'900); });
  manager->previousStartTime = start;
  setScenario([](auto& s) { s.answerDelay = std::chrono::milliseconds(1500); });

  const auto before = std::chrono::steady_clock::now();
  manager->sendLog_UpdateSize();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
  EXPECT_DOUBLE_EQ(manager->downloadDuration.load(), 12.9);

  ASSERT_TRUE(waitForRequests("update-size-v2.jsp", 1));
  const auto r = requestsTo("update-size-v2.jsp").front();
  EXPECT_EQ(r.field("Duration"), "12");
  EXPECT_EQ(r.field("fileSize"), "10485761");
  EXPECT_EQ(r.field("currentDownloadSize"), "5242880");
  EXPECT_TRUE(runEventLoopUntil([&] {
    return log.systemLines().contains(
        QStringLiteral("[OVDownloader]sendLog_UpdateSize succeed! TokenID : "
                       "0F0E4C2A-0000-4000-8000-000000000001, FileSize : "
                       "10485761, current received size : 5242880, Duration : 12"));
  }));
}

TEST_F(StatusReport, AnswersOtherThan200AreLoggedAsFailures) {
  setScenario([](auto& s) {
    s.updateInfoStatus = 500;
    s.updateStatusStatus = 503;
    s.updateSizeStatus = 404;
  });
  manager->previousStartTime = QDateTime::currentDateTimeUtc();
  manager->sendLog_UpdateInfo();
  manager->sendLog_UpdateStatus(QStringLiteral("Launch"), QString(), QString());
  manager->sendLog_UpdateSize();
  EXPECT_TRUE(runEventLoopUntil([&] {
    return log.systemLines().contains(QStringLiteral("[OVDownloader]sendLog_UpdateSize failed!"));
  }));
  const QStringList system = log.systemLines();
  EXPECT_TRUE(system.contains(QStringLiteral("[OVDownloader]sendLog_UpdateInfo failed!")));
  EXPECT_TRUE(system.contains(QStringLiteral("[OVDownloader]sendLog_UpdateStatus failed!")));
  EXPECT_TRUE(log.outputLines().contains(
      QStringLiteral("SendHttpPostRequset to sendLog_UpdateStatus Status Code = 503")));
}

TEST_F(StatusReport, AReportThatGetsNoAnswerWritesNothing) {
  setServiceHostForTesting(QStringLiteral("127.0.0.1:1"));
  manager->sendLog_UpdateStatus(QStringLiteral("Launch"), QString(), QString());
  EXPECT_TRUE(log.systemLines().filter(QStringLiteral("sendLog_UpdateStatus")).isEmpty());
  EXPECT_TRUE(log.outputLines().filter(QStringLiteral("sendLog_UpdateStatus")).isEmpty());
}

}  // namespace
}  // namespace ov::test
