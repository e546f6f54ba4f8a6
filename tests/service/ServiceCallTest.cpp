// What each call to the download service puts on the wire, and what it logs
// of the answer.

#include "platform/Clock.h"
#include "tests/support/Rows.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using test::PrintTo;

using ::testing::UnorderedElementsAreArray;
using namespace Qt::Literals::StringLiterals;

const QString kToken = QStringLiteral("0F0E4C2A-0000-4000-8000-000000000001");

class ServiceCall : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    addInstaller(kSetup, 1000);
    // Reserved characters travel escaped, and text beyond ASCII as UTF-8.
    mgr_->product = QStringLiteral("Brindle & Co/100%=yes+no");
    mgr_->version = QStringLiteral("Grüße 北京");
    mgr_->szTokenID = kToken;
    mgr_->locale = QStringLiteral("US");
    mgr_->szUUID = QStringLiteral("S-1-ABC");
    mgr_->sourceUrl = QStringLiteral("https://cdn.example/Setup.pkg");
    mgr_->i64FileSize = 10'485'761;
    mgr_->currentReceivedSize = 5'242'880;
    mgr_->previousStartTime = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    setClockForTesting([start = *mgr_->previousStartTime] { return start.addMSecs(12'900); });
  }
};

struct CallCase {
  const char* name;
  std::function<void(OVDownloadMgr&)> call;
  std::string endpoint;
  refservice::Fields fields;
  const char* logged;     // what the system log's line for the answer holds (%T: the token)
  std::string bodyHas{};  // a stretch of the body exactly as sent
  int status = 200;       // what the service answers with
};

class ServiceCallWire : public ServiceCall, public ::testing::WithParamInterface<CallCase> {};

TEST_P(ServiceCallWire, SendsExactlyItsFieldsFormEncodedAndLogsTheAnswer) {
  const CallCase& c = GetParam();
  setScenario([&](refservice::Scenario& s) {
    s.updateInfoStatus = s.updateStatusStatus = s.updateSizeStatus = c.status;
  });
  offMain([&] { c.call(*mgr_); });
  const QString logged = u"[OVDownloader]"_s + QString::fromUtf8(c.logged).replace(u"%T"_s, kToken);
  ASSERT_TRUE(waitFor([&] { return !log_->systemLines().filter(logged).isEmpty(); }))
      << log_->systemLines().join('\n').toStdString();
  const auto sent = posts(c.endpoint);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent.front().method, "POST");
  EXPECT_EQ(sent.front().header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(sent.front().header("Accept-Encoding"), "gzip, deflate");
  EXPECT_THAT(sent.front().form, UnorderedElementsAreArray(c.fields));
  EXPECT_NE(sent.front().body.find(c.bodyHas), std::string::npos) << sent.front().body;
}

const refservice::Fields kProduct = {{"PRODUCTNAME", "Brindle & Co/100%=yes+no"},
                                     {"PRODUCTVERSION", "Grüße 北京"},
                                     {"VERSIONTYPE", "Retail"},
                                     {"SR", "SR-1"}};

refservice::Fields with(refservice::Fields fields, const refservice::Fields& more) {
  fields.insert(fields.end(), more.begin(), more.end());
  return fields;
}

const refservice::Fields kAgent = {
    {"VID", "1.0.0.1312"}, {"LANGUAGE", "ENU"}, {"platform", "x64"}, {"ostype", "Mac"}};

const std::string kTokenText = kToken.toStdString();
const refservice::Fields kStartReport =
    with(with({{"TokenID", kTokenText}}, kProduct),
         with(kAgent, {{"Locale", "US"}, {"UUID", "S-1-ABC"}, {"url", "https://cdn.example/Setup.pkg"}}));
const refservice::Fields kStatusReport = {
    {"TokenID", kTokenText}, {"status", "Complete"}, {"detail_status", "Install"}, {"CancelReason", ""}};
const refservice::Fields kSizeReport = {{"TokenID", kTokenText},
                                        {"fileSize", "10485761"},
                                        {"currentDownloadSize", "5242880"},
                                        {"Duration", "12"}};
const auto kSendStatus = [](OVDownloadMgr& m) {
  m.sendLog_UpdateStatus(QStringLiteral("Complete"), QStringLiteral("Install"), {});
};

const std::vector<CallCase> kCalls = {
    {"LinkQuery", &OVDownloadMgr::queryDownLoadURL, "get-link.jsp", with(kProduct, kAgent),
     "queryDownLoadURL succeed! retrivedDownloadURL : https://127.0.0.1:",
     "PRODUCTNAME=Brindle%20%26%20Co%2F100%25%3Dyes%2Bno"},
    {"Heartbeat", &OVDownloadMgr::queryHeartbeatTime, "heartbeat.jsp", kProduct,
     "queryHeartbeatTime succeeded! retrivedHeartbeatTime : 30"},
    {"StartReport", &OVDownloadMgr::sendLog_UpdateInfo, "update-info.jsp", kStartReport,
     "sendLog_UpdateInfo succeed! TokenID : %T"},
    {"StatusReport", kSendStatus, "update-status.jsp", kStatusReport,
     "sendLog_UpdateStatus succeed! TokenID : %T, Status : Complete, DetailStatus : Install, CancelReason "
     ": "},
    // The active time in whole seconds.
    {"SizeReport", &OVDownloadMgr::sendLog_UpdateSize, "update-size-v2.jsp", kSizeReport,
     "sendLog_UpdateSize succeed! TokenID : %T, FileSize : 10485761, current received size : 5242880, "
     "Duration : 12"},
    // Answers other than 200 are failures.
    {"StartReportRefused", &OVDownloadMgr::sendLog_UpdateInfo, "update-info.jsp", kStartReport,
     "sendLog_UpdateInfo failed!", "", 500},
    {"StatusReportRefused", kSendStatus, "update-status.jsp", kStatusReport, "sendLog_UpdateStatus failed!",
     "", 503},
    {"SizeReportRefused", &OVDownloadMgr::sendLog_UpdateSize, "update-size-v2.jsp", kSizeReport,
     "sendLog_UpdateSize failed!", "", 404},
};

INSTANTIATE_TEST_SUITE_P(Calls, ServiceCallWire, ::testing::ValuesIn(kCalls), rowName);

TEST_F(ServiceCall, WithoutATokenNoStatusIsSent) {
  mgr_->szTokenID.reset();
  offMain([&] {
    mgr_->sendLog_UpdateStatus(QStringLiteral("Cancel"), QString(), QString());
    mgr_->sendLog_UpdateInfo();  // answered only after the first would have arrived
  });
  EXPECT_THAT(posts("update-status.jsp"), IsEmpty());
  EXPECT_THAT(log_->systemLines().filter(QStringLiteral("sendLog_UpdateStatus")), IsEmpty());
}

TEST_F(ServiceCall, TheSizeReportDoesNotWaitForItsAnswer) {
  setScenario([](refservice::Scenario& s) { s.answerDelay = 3s; });
  const auto before = std::chrono::steady_clock::now();
  mgr_->sendLog_UpdateSize();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms);
  EXPECT_DOUBLE_EQ(mgr_->downloadDuration.load(), 12.9);
}

}  // namespace
}  // namespace ov::test
