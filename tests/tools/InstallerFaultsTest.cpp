#include <gtest/gtest.h>

#include <thread>

#include "tests/tools/ServiceFixture.h"

namespace refservice::testing {
namespace {

class FaultTest : public ServiceTest {
 protected:
  httplib::Result getRange(std::int64_t first, std::int64_t last, httplib::Headers extra = {}) {
    extra.emplace("Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last));
    return get("/installers/Setup.pkg", extra);
  }

  void setFaults(const std::function<void(InstallerFaults&)>& change) {
    service().updateScenario([&](Scenario& s) { change(s.installer); });
  }
};

TEST_F(FaultTest, NotFoundAtByteHitsOnlyTheRangeStartingThere) {
  setFaults([](InstallerFaults& f) { f.failAtByte = 100000; });
  EXPECT_EQ(getRange(0, 99999)->status, 206);
  const auto hit = getRange(100000, 199999);
  EXPECT_EQ(hit->status, 404);
  EXPECT_EQ(getRange(100000, 199999)->status, 404);
  EXPECT_EQ(getRange(200000, 299999)->status, 206);
  const auto record = lastFinishedRecord();
  EXPECT_TRUE(record.fault.empty());
  EXPECT_EQ(service().requests()[1].fault, "404 for the range starting at byte 100000");
}

TEST_F(FaultTest, NotFoundAtByteOnceFiresOnceUntilCountersReset) {
  setFaults([](InstallerFaults& f) {
    f.failAtByte = 0;
    f.failRepeat = Repeat::Once;
  });
  EXPECT_EQ(getRange(0, 9)->status, 404);
  EXPECT_EQ(getRange(0, 9)->status, 206);
  service().resetCounters();
  EXPECT_EQ(getRange(0, 9)->status, 404);
}

TEST_F(FaultTest, NotFoundAtRequestCountsOnlyRangedGets) {
  setFaults([](InstallerFaults& f) { f.failAtRequest = 2; });
  EXPECT_EQ(get("/installers/Setup.pkg")->status, 200);
  EXPECT_EQ(client()->Head("/installers/Setup.pkg")->status, 200);
  EXPECT_EQ(getRange(0, 9)->status, 206);
  EXPECT_EQ(getRange(10, 19)->status, 404);
  EXPECT_EQ(getRange(20, 29)->status, 206);
  EXPECT_EQ(service().requests()[3].fault, "404 for ranged request 2");
}

TEST_F(FaultTest, DropCutsTheConnectionAfterTheGivenBodyBytes) {
  setFaults([](InstallerFaults& f) { f.dropAfterBytes = 70000; });
  const auto dropped = getRange(0, 199999);
  EXPECT_FALSE(dropped && dropped->body.size() == 200000);
  auto record = lastFinishedRecord();
  EXPECT_EQ(record.status, 206);
  EXPECT_EQ(record.bytesSent, 70000);
  EXPECT_EQ(record.outcome, Outcome::Aborted);
  EXPECT_EQ(record.fault, "connection dropped after 70000 body bytes");
  const auto again = getRange(0, 199999);
  EXPECT_FALSE(again && again->body.size() == 200000);
  EXPECT_EQ(lastFinishedRecord().outcome, Outcome::Aborted);
  // An answer no longer than the limit is whole.
  const auto small = getRange(0, 69999);
  EXPECT_EQ(small->status, 206);
  EXPECT_TRUE(small->body == installerBytes(0, 69999));
}

TEST_F(FaultTest, DropOnceLetsTheRetryThrough) {
  setFaults([](InstallerFaults& f) {
    f.dropAfterBytes = 0;
    f.dropRepeat = Repeat::Once;
  });
  const auto first = get("/installers/Setup.pkg");
  EXPECT_FALSE(first && first->body.size() == kInstallerSize);
  const auto second = get("/installers/Setup.pkg");
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->body == installer_);
}

TEST_F(FaultTest, IgnoreRangeAnswersTheWholeFile) {
  setFaults([](InstallerFaults& f) { f.ignoreRange = true; });
  const auto result = getRange(10, 19);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Range"), "");
  EXPECT_TRUE(result->body == installer_);
  EXPECT_EQ(lastFinishedRecord().fault, "Range ignored");
}

TEST_F(FaultTest, HeadMayLieAboutTheSizeAndTheStatus) {
  setFaults([](InstallerFaults& f) {
    f.headContentLength = "1048576";
    f.headStatus = 404;
  });
  const auto head = client()->Head("/installers/Setup.pkg");
  EXPECT_EQ(head->status, 404);
  EXPECT_EQ(head->get_header_value("Content-Length"), "1048576");
  EXPECT_EQ(get("/installers/Setup.pkg")->body.size(), kInstallerSize);

  for (const auto& lie : {std::string("-5"), std::string(" 45"), std::string("abc")}) {
    setFaults([&](InstallerFaults& f) { f.headContentLength = lie; });
    const auto answer = raw("HEAD /installers/Setup.pkg HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_NE(answer.find("Content-Length: " + lie + "\r\n"), std::string::npos) << answer;
  }
}

TEST_F(FaultTest, EtagCanBeLeftOutOrChangeAfterNRequests) {
  setFaults([](InstallerFaults& f) { f.sendEtag = false; });
  EXPECT_FALSE(client()->Head("/installers/Setup.pkg")->has_header("ETag"));
  EXPECT_FALSE(getRange(0, 9)->has_header("ETag"));

  setFaults([](InstallerFaults& f) {
    f.sendEtag = true;
    f.etagChangesAfter = 1;
  });
  service().resetCounters();
  const auto original = client()->Head("/installers/Setup.pkg")->get_header_value("ETag");
  const auto changed = getRange(0, 9, {{"If-Range", original}});
  EXPECT_NE(changed->get_header_value("ETag"), original);
  EXPECT_EQ(changed->get_header_value("ETag").back(), '"');
  // The If-Range validator is now stale, so the whole file comes back.
  EXPECT_EQ(changed->status, 200);
  EXPECT_TRUE(changed->body == installer_);
  EXPECT_EQ(getRange(0, 9, {{"If-Range", changed->get_header_value("ETag")}})->status, 206);
}

TEST_F(FaultTest, RateLimitPacesTheBody) {
  setFaults([](InstallerFaults& f) { f.rateLimit = 100'000; });
  const auto start = std::chrono::steady_clock::now();
  const auto result = getRange(0, 19999);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->body == installerBytes(0, 19999));
  // 20,000 bytes at 100,000 bytes a second cannot take less than 0.2 s.
  EXPECT_GE(elapsed, std::chrono::milliseconds(200));
}

TEST_F(FaultTest, FirstByteDelayHoldsTheWholeAnswerBack) {
  setFaults([](InstallerFaults& f) { f.firstByteDelay = std::chrono::milliseconds(150); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(getRange(0, 9)->status, 206);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}

TEST_F(FaultTest, HoldPausesBodiesAfterTheGivenBytesUntilReleased) {
  setFaults([](InstallerFaults& f) {
    f.hold = true;
    f.holdAfterBytes = 1000;
  });
  httplib::Result result{nullptr, httplib::Error::Unknown};
  std::thread reader([&] { result = getRange(0, 99999); });
  const bool held = service().waitForRequests(
      [](const std::vector<RequestRecord>& r) {
        return r.size() == 1 && r[0].held && r[0].bytesSent == 1000;
      },
      std::chrono::seconds(10));
  EXPECT_TRUE(held);
  EXPECT_EQ(service().requests()[0].outcome, Outcome::Pending);
  service().setHold(false);
  reader.join();
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->body == installerBytes(0, 99999));
  EXPECT_FALSE(lastFinishedRecord().held);
}

TEST_F(FaultTest, StopEndsHeldAnswersAndIdleConnectionsPromptly) {
  ServiceOptions options;
  options.keepAliveTimeout = std::chrono::seconds(60);
  startService(options);
  auto idle = client();
  ASSERT_EQ(idle->Get("/installers/Setup.pkg", {{"Range", "bytes=0-0"}})->status, 206);
  service().setHold(true);
  httplib::Result result{nullptr, httplib::Error::Unknown};
  std::thread reader([&] { result = getRange(0, 99999); });
  ASSERT_TRUE(service().waitForRequests(
      [](const std::vector<RequestRecord>& r) { return r.size() == 2 && r[1].held; },
      std::chrono::seconds(10)));
  const auto start = std::chrono::steady_clock::now();
  service().stop();
  // Far below the 60 s an idle keep-alive connection would otherwise hold the stop.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  reader.join();
  EXPECT_FALSE(result && result->body.size() == 100000);
  EXPECT_EQ(service().requests()[1].outcome, Outcome::Aborted);
  EXPECT_FALSE(service().isRunning());
}

}  // namespace
}  // namespace refservice::testing
