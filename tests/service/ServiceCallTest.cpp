// What each call to the download service puts on the wire, and what it logs
// of the answer.

#include "platform/Clock.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {
namespace {

using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

const QString kToken = QStringLiteral("0F0E4C2A-0000-4000-8000-000000000001");

class ServiceCall : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    addInstaller(QStringLiteral("Setup.pkg"), 1000);
    mgr_->szTokenID = kToken;
    mgr_->locale = QStringLiteral("US");
    mgr_->szUUID = QStringLiteral("S-1-ABC");
    mgr_->sourceUrl = QStringLiteral("https://cdn.example/Setup.pkg");
    mgr_->i64FileSize = 10'485'761;
    mgr_->currentReceivedSize = 5'242'880;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    mgr_->previousStartTime = start;
    setClockForTesting([start] { return start.addMSecs(12'900); });
  }
  bool systemHasPrefix(const QString& prefix) const {
    const QStringList lines = log_->systemLines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString& line) { return line.startsWith(prefix); });
  }
};

struct CallCase {
  const char* name;
  std::function<void(OVDownloadMgr&)> call;
  std::string endpoint;
  refservice::Fields fields;
  QString logged;         // how the system log's line for the answer starts
  std::string bodyHas{};  // a stretch of the body exactly as sent
};

void PrintTo(const CallCase& c, std::ostream* out) {
  *out << c.name;
}

class ServiceCallWire : public ServiceCall, public ::testing::WithParamInterface<CallCase> {};

TEST_P(ServiceCallWire, SendsExactlyItsFieldsFormEncodedAndLogsTheAnswer) {
  const CallCase& c = GetParam();
  offMain([&] { c.call(*mgr_); });
  ASSERT_TRUE(waitFor([&] { return systemHasPrefix(c.logged); }))
      << log_->systemLines().join('\n').toStdString();
  const auto sent = posts(c.endpoint);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent.front().method, "POST");
  EXPECT_EQ(sent.front().header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(sent.front().header("Accept-Encoding"), "gzip, deflate");
  EXPECT_THAT(sent.front().form, UnorderedElementsAreArray(c.fields));
  EXPECT_NE(sent.front().body.find(c.bodyHas), std::string::npos) << sent.front().body;
}

const refservice::Fields kProduct = {
    {"PRODUCTNAME", "BrindleCutter"}, {"PRODUCTVERSION", "21.0"}, {"VERSIONTYPE", "Retail"}, {"SR", "SR-1"}};

refservice::Fields with(refservice::Fields fields, const refservice::Fields& more) {
  fields.insert(fields.end(), more.begin(), more.end());
  return fields;
}

const refservice::Fields kAgent = {
    {"VID", "1.0.0.1312"}, {"LANGUAGE", "ENU"}, {"platform", "x64"}, {"ostype", "Mac"}};

const std::string kTokenText = kToken.toStdString();

const std::vector<CallCase> kCalls = {
    // Reserved characters travel escaped, and text beyond ASCII as UTF-8.
    {"LinkQuery",
     [](OVDownloadMgr& m) {
       m.product = QStringLiteral("Brindle & Co/100%=yes+no");
       m.version = QStringLiteral("Grüße 北京");
       m.queryDownLoadURL();
     },
     "get-link.jsp",
     with({{"PRODUCTNAME", "Brindle & Co/100%=yes+no"},
           {"PRODUCTVERSION", "Grüße 北京"},
           {"VERSIONTYPE", "Retail"},
           {"SR", "SR-1"}},
          kAgent),
     QStringLiteral("[OVDownloader]queryDownLoadURL succeed! retrivedDownloadURL : https://127.0.0.1:"),
     "PRODUCTNAME=Brindle%20%26%20Co%2F100%25%3Dyes%2Bno"},
    {"Heartbeat", [](OVDownloadMgr& m) { m.queryHeartbeatTime(); }, "heartbeat.jsp", kProduct,
     QStringLiteral("[OVDownloader]queryHeartbeatTime succeeded! retrivedHeartbeatTime : 30")},
    {"StartReport", [](OVDownloadMgr& m) { m.sendLog_UpdateInfo(); }, "update-info.jsp",
     with(with({{"TokenID", kTokenText}}, kProduct),
          with(kAgent, {{"Locale", "US"}, {"UUID", "S-1-ABC"}, {"url", "https://cdn.example/Setup.pkg"}})),
     QStringLiteral("[OVDownloader]sendLog_UpdateInfo succeed! TokenID : ") + kToken},
    {"StatusReport",
     [](OVDownloadMgr& m) {
       m.sendLog_UpdateStatus(QStringLiteral("Complete"), QStringLiteral("Install"), {});
     },
     "update-status.jsp",
     {{"TokenID", kTokenText}, {"status", "Complete"}, {"detail_status", "Install"}, {"CancelReason", ""}},
     QStringLiteral("[OVDownloader]sendLog_UpdateStatus succeed! TokenID : ") + kToken +
         QStringLiteral(", Status : Complete, DetailStatus : Install, CancelReason : ")},
    // The active time in whole seconds.
    {"SizeReport",
     [](OVDownloadMgr& m) { m.sendLog_UpdateSize(); },
     "update-size-v2.jsp",
     {{"TokenID", kTokenText},
      {"fileSize", "10485761"},
      {"currentDownloadSize", "5242880"},
      {"Duration", "12"}},
     QStringLiteral("[OVDownloader]sendLog_UpdateSize succeed! TokenID : ") + kToken +
         QStringLiteral(", FileSize : 10485761, current received size : 5242880, Duration : 12")},
};

INSTANTIATE_TEST_SUITE_P(Calls, ServiceCallWire, ::testing::ValuesIn(kCalls),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceCall, AnswersOtherThan200AreLoggedAsFailures) {
  setScenario([](refservice::Scenario& s) {
    s.updateInfoStatus = 500;
    s.updateStatusStatus = 503;
    s.updateSizeStatus = 404;
  });
  offMain([&] {
    mgr_->sendLog_UpdateInfo();
    mgr_->sendLog_UpdateStatus(QStringLiteral("Launch"), QString(), QString());
  });
  mgr_->sendLog_UpdateSize();
  ASSERT_TRUE(waitFor([&] { return systemHas(QStringLiteral("[OVDownloader]sendLog_UpdateSize failed!")); }));
  EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]sendLog_UpdateInfo failed!")));
  EXPECT_TRUE(systemHas(QStringLiteral("[OVDownloader]sendLog_UpdateStatus failed!")));
  EXPECT_EQ(outputCount(QStringLiteral("SendHttpPostRequset to sendLog_UpdateStatus Status Code = 503")), 1);
}

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
