#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/Reachability.h"
#include "platform/Utility.h"
#include "tests/support/Rows.h"

namespace ov::test {
namespace {

using test::PrintTo;

const QByteArray kIpv4Header =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

// One route of /proc/net/route: interface, destination, gateway, flags (1 up, 2 gateway), mask.
QByteArray ipv4(const char* iface, const char* destination, const char* gateway, const char* flags,
                const char* mask = "00000000") {
  return kIpv4Header + QByteArray(iface) + '\t' + destination + '\t' + gateway + '\t' + flags +
         "\t0\t0\t0\t" + mask + "\t0\t0\t0\n";
}

// One route of /proc/net/ipv6_route: destination and prefix, next hop, flags (0x200 reject), interface.
QByteArray ipv6(const char* destination, const char* prefix, const char* nextHop, const char* flags,
                const char* iface) {
  return QByteArray(destination) + ' ' + prefix + " 00000000000000000000000000000000 00 " + nextHop +
         " 00000100 00000001 00000000 " + flags + "     " + iface + '\n';
}

const char* const kZero6 = "00000000000000000000000000000000";

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

INSTANTIATE_TEST_SUITE_P(
    Tables, DefaultRouteTest,
    ::testing::Values(
        RouteCase{"Ipv4DefaultViaGateway", ipv4("eth0", "00000000", "010200C0", "0003"), {}, true},
        RouteCase{"Ipv4DefaultOnAPointToPointLink", ipv4("ppp0", "00000000", "00000000", "0001"), {}, true},
        RouteCase{"Ipv4SubnetOnly", ipv4("eth0", "000200C0", "00000000", "0001", "00FFFFFF"), {}, false},
        RouteCase{"Ipv4DefaultNotUp", ipv4("eth0", "00000000", "010200C0", "0002"), {}, false},
        RouteCase{"Ipv4DefaultOnLoopback", ipv4("lo", "00000000", "00000000", "0001"), {}, false},
        RouteCase{"Ipv6Default", kIpv4Header,
                  ipv6(kZero6, "00", "fe800000000000000000000000000001", "00450003", "eth0"), true},
        RouteCase{"Ipv6SubnetAndRejectOnly", kIpv4Header,
                  ipv6("fd000000000000000000000000000000", "40", kZero6, "00000001", "eth0") +
                      ipv6(kZero6, "00", kZero6, "00200200", "lo"),
                  false},
        RouteCase{"Garbage", "not a table\n\n", "x y z\n", false}, RouteCase{"Nothing", {}, {}, false}),
    rowName);

// No connection, then the route comes back and the user presses Retry: the
// next question must see it, and the one after that its going away again.
TEST(Connectivity, EveryQuestionSeesTheRoutesOfThatMoment) {
  QTemporaryDir folder;
  const QString v4 = folder.filePath(QStringLiteral("route"));
  const QString v6 = folder.filePath(QStringLiteral("ipv6_route"));
  setRouteTablesForTesting(std::pair{v4, v6});
  for (const bool routed : {false, true, false}) {
    QFile table(v4), none(v6);
    ASSERT_TRUE(table.open(QIODevice::WriteOnly | QIODevice::Truncate) && none.open(QIODevice::WriteOnly));
    table.write(routed ? ipv4("eth0", "00000000", "0100A8C0", "0003") : kIpv4Header);
    table.close();
    EXPECT_EQ(Connectivity::isConnectedToInternet(), routed);
  }
  setRouteTablesForTesting(std::nullopt);
}

}  // namespace
}  // namespace ov::test
