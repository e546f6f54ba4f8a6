#include <gtest/gtest.h>

#include <thread>

#include "tests/tools/ServiceFixture.h"
#include "tools/refservice/ScenarioParser.h"

namespace refservice::testing {
namespace {

std::string rangeOf(int first, int last) {
  return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

TEST_F(ServiceTest, KeepsOneConnectionAliveAcrossRequests) {
  service().updateScenario([](Scenario& s) { s.gzip = true; });
  auto c = client();
  for (int i = 0; i < 12; ++i)
    ASSERT_EQ(c->Get("/installers/Setup.pkg", {{"Range", rangeOf(i, i)}})->status, 206);
  // The client inflates the answer, so it checks the gzip stream too.
  const auto heartbeat = c->Post("/prog/util/downloader/heartbeat.jsp", {{"Accept-Encoding", "gzip"}}, "SR=1",
                                 "application/x-www-form-urlencoded");
  EXPECT_EQ(heartbeat->get_header_value("Content-Encoding"), "gzip");
  EXPECT_EQ(heartbeat->body, "30");
  const auto records = service().requests();
  ASSERT_EQ(records.size(), 13u);
  for (const auto& r : records) EXPECT_EQ(r.peer, records.front().peer);
}

TEST_F(ServiceTest, HoldsFortyConnectionsAtOnceUntilReleased) {
  // Every body is held before its first byte, so all forty connections must be open together.
  service().setHold(true);
  constexpr int count = 40;
  std::vector<std::thread> clients;
  std::vector<std::string> bodies(count);
  for (int i = 0; i < count; ++i)
    clients.emplace_back([this, i, &bodies] {
      const auto result =
          client()->Get("/installers/Setup.pkg", {{"Range", rangeOf(i * 1000, i * 1000 + 999)}});
      if (result) bodies[i] = result->body;
    });
  const bool allHeld = service().waitForRequests(
      [&](const std::vector<RequestRecord>& records) {
        return std::count_if(records.begin(), records.end(), [](const RequestRecord& r) { return r.held; }) ==
               count;
      },
      std::chrono::seconds(20));
  service().setHold(false);
  for (auto& thread : clients) thread.join();
  EXPECT_TRUE(allHeld);
  for (int i = 0; i < count; ++i) EXPECT_TRUE(bodies[i] == installer_.substr(i * 1000, 1000)) << i;
}

TEST_F(ServiceTest, StopEndsHeldAndSlowAnswersAndIdleConnectionsPromptly) {
  ServiceOptions options;
  options.keepAliveTimeout = std::chrono::seconds(60);
  startService(options, parseScenarioText("hold = on\nslow-reports = on"));
  auto idle = client();
  ASSERT_EQ(idle->Head("/installers/Setup.pkg")->status, 200);
  std::thread held([&] { raw("GET /installers/Setup.pkg HTTP/1.1\r\nHost: x\r\n\r\n"); });
  std::thread slow([&] { raw(postRequest("update-status.jsp")); });
  // The slow report's first byte comes a second after its headers; the second, a second later.
  ASSERT_TRUE(service().waitForRequests(
      [](const std::vector<RequestRecord>& r) {
        return r.size() == 3 && (r[1].held || r[2].held) && (r[1].bytesSent + r[2].bytesSent) > 0;
      },
      std::chrono::seconds(10)));
  for (const auto& r : service().requests()) EXPECT_LE(r.bytesSent, 2) << r.target;
  const auto start = std::chrono::steady_clock::now();
  service().stop();
  // Far below the 60 s an idle keep-alive connection, or the ten minutes of a slow report, would last.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  held.join();
  slow.join();
  for (const auto& r : service().requests())
    EXPECT_EQ(r.outcome, r.method == "HEAD" ? Outcome::Complete : Outcome::Aborted) << r.target;
}

}  // namespace
}  // namespace refservice::testing
