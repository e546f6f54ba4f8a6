#include <gtest/gtest.h>

#include <httplib.h>

#include <thread>

#include "tests/tools/ServiceFixture.h"
#include "tools/refservice/ScenarioParser.h"

namespace refservice::testing {
namespace {

// Test teardowns stop services that still hold answers and connections.
TEST_F(ServiceTest, StopEndsHeldAndSlowAnswersAndIdleConnectionsPromptly) {
  ServiceOptions options;
  options.keepAliveTimeout = std::chrono::seconds(60);
  startService(options, parseScenarioText("hold = on\nslow-reports = on"));
  // An idle keep-alive connection besides.
  httplib::SSLClient idle("127.0.0.1", service().port());
  idle.set_ca_cert_path(service().caFile().c_str());
  idle.set_keep_alive(true);
  ASSERT_EQ(idle.Head("/installers/Setup.pkg")->status, 200);
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
