#include "tests/service/ServiceFixture.h"

namespace ov::test {
namespace {

struct HeartbeatCase {
  const char* answer;
  std::int64_t interval;
};

class HeartbeatQuery : public ServiceFixture, public ::testing::WithParamInterface<HeartbeatCase> {};

TEST_P(HeartbeatQuery, ReturnsTheAnsweredIntervalOr30) {
  setScenario([&](auto& s) { s.heartbeatText = GetParam().answer; });
  EXPECT_EQ(manager->queryHeartbeatTime(), GetParam().interval);
  EXPECT_TRUE(log.systemLines().contains(
      QStringLiteral("[OVDownloader]queryHeartbeatTime succeeded! retrivedHeartbeatTime : ") +
      QString::number(GetParam().interval)));

  const auto requests = requestsTo("heartbeat.jsp");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests.front().form.size(), 4u) << "exactly the four product fields";
  EXPECT_EQ(requests.front().field("PRODUCTNAME"), "BrindleCutter");
  EXPECT_EQ(requests.front().field("SR"), "SR-1");
}

INSTANTIATE_TEST_SUITE_P(Answers, HeartbeatQuery,
                         ::testing::Values(HeartbeatCase{"45", 45}, HeartbeatCase{"45\r\n", 45},
                                           HeartbeatCase{"\r\n45\r\n", 45}, HeartbeatCase{"45\n", 30},
                                           HeartbeatCase{"0", 0}, HeartbeatCase{"-10", -10},
                                           HeartbeatCase{"soon", 30}, HeartbeatCase{"", 30}));

TEST_F(ServiceFixture, WithoutNetworkTheHeartbeatIsTheDefault) {
  setServiceHostForTesting(QStringLiteral("127.0.0.1:1"));
  EXPECT_EQ(manager->queryHeartbeatTime(), 30);
  EXPECT_TRUE(log.systemLines().contains(
      QStringLiteral("[OVDownloader]queryHeartbeatTime failed! defaultHeartBeats : 30")));
}

TEST_F(ServiceFixture, ATickSendsOneSizeReportInTheBackground) {
  manager->szTokenID = QStringLiteral("TOKEN");
  manager->previousStartTime = QDateTime::currentDateTimeUtc();
  manager->onHeartbeatTimer();
  EXPECT_TRUE(waitForRequests("update-size-v2.jsp", 1));
  EXPECT_EQ(requestsTo("update-size-v2.jsp").size(), 1u);
}

}  // namespace
}  // namespace ov::test
