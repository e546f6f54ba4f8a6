#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <atomic>

#include "platform/Dispatch.h"
#include "platform/Reachability.h"
#include "platform/Utility.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LogCapture.h"

namespace ov {
namespace {

const QByteArray kIpv4Header =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

QByteArray ipv4(std::initializer_list<const char*> rows) {
  QByteArray table = kIpv4Header;
  for (const char* row : rows) table += QByteArray(row) + '\n';
  return table;
}

struct RouteCase {
  const char* name;
  QByteArray ipv4Table;
  QByteArray ipv6Table;
  bool expected;
};

class DefaultRouteTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(DefaultRouteTest, FindsAUsableDefaultRoute) {
  EXPECT_EQ(hasDefaultRoute(GetParam().ipv4Table, GetParam().ipv6Table), GetParam().expected);
}

const QByteArray kIpv6Subnet =
    "fd000000000000000000000000000000 40 00000000000000000000000000000000 00 "
    "00000000000000000000000000000000 00000100 00000001 00000000 00000001     eth0\n";
const QByteArray kIpv6Default =
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
    "fe800000000000000000000000000001 00000400 00000001 00000000 00450003     eth0\n";
const QByteArray kIpv6RejectDefault =
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
    "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";

INSTANTIATE_TEST_SUITE_P(
    Tables, DefaultRouteTest,
    ::testing::Values(
        RouteCase{"Ipv4DefaultViaGateway",
                  ipv4({"eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0",
                        "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0"}),
                  QByteArray(), true},
        RouteCase{"Ipv4DefaultOnAPointToPointLink",
                  ipv4({"ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0"}), QByteArray(), true},
        RouteCase{"Ipv4SubnetOnly", ipv4({"eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0"}),
                  QByteArray(), false},
        RouteCase{"Ipv4DefaultNotUp", ipv4({"eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0"}),
                  QByteArray(), false},
        RouteCase{"Ipv4DefaultOnLoopback", ipv4({"lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0"}),
                  QByteArray(), false},
        RouteCase{"Ipv4HeaderOnly", kIpv4Header, QByteArray(), false},
        RouteCase{"Ipv6Default", kIpv4Header, kIpv6Subnet + kIpv6Default, true},
        RouteCase{"Ipv6SubnetAndRejectOnly", kIpv4Header, kIpv6Subnet + kIpv6RejectDefault, false},
        RouteCase{"Garbage", QByteArray("not a table\n\n"), QByteArray("x y z\n"), false},
        RouteCase{"Nothing", QByteArray(), QByteArray(), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Connectivity, TestAnswerReplacesTheQueryUntilCleared) {
  Connectivity::setReachabilityForTesting([] { return false; });
  EXPECT_FALSE(Connectivity::isConnectedToInternet());
  Connectivity::setReachabilityForTesting([] { return true; });
  EXPECT_TRUE(Connectivity::isConnectedToInternet());
  Connectivity::setReachabilityForTesting(nullptr);
}

// Preparation asks from a background thread; the answer must not depend on
// the thread and the call must come back even though the backend lives on
// the main thread.
TEST(Connectivity, AnswersTheSameFromAWorkerAsFromTheMainThread) {
  std::atomic<int> fromWorker{-1};
  globalUtilityQueue().async([&] { fromWorker = Connectivity::isConnectedToInternet() ? 1 : 0; });
  ASSERT_TRUE(test::runEventLoopUntil([&] { return fromWorker != -1; }));
  EXPECT_EQ(fromWorker == 1, Connectivity::isConnectedToInternet());
}

TEST(Connectivity, SystemViewAgreesWithTheRoutingTableWhereOneExists) {
  QFile routes(QStringLiteral("/proc/net/route"));
  if (!routes.open(QIODevice::ReadOnly)) GTEST_SKIP() << "no /proc/net/route here";
  QFile routes6(QStringLiteral("/proc/net/ipv6_route"));
  const QByteArray v6 = routes6.open(QIODevice::ReadOnly) ? routes6.readAll() : QByteArray();
  EXPECT_EQ(systemReachability(), hasDefaultRoute(routes.readAll(), v6));
}

// Containers and CI machines have no NetworkManager; there the answer comes
// from the routing table, and the system log says so once. The plugins are
// hidden in a child process, since a loaded backend stays for the process.
TEST(ConnectivityDeathTest, WithoutABackendTheSystemViewAnswersAndTheLogSaysSoOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        QCoreApplication::setLibraryPaths({QStringLiteral("/nonexistent-plugin-folder")});
        test::LogCapture log;
        const bool first = Connectivity::isConnectedToInternet();
        const bool second = Connectivity::isConnectedToInternet();
        const QStringList expectedLog{
            QStringLiteral("[OVDownloader]No network information backend; reachability is taken from the "
                           "system's default route")};
        std::exit(first == systemReachability() && second == first && log.systemLines() == expectedLog ? 0
                                                                                                       : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ov
