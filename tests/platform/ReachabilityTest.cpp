#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/Reachability.h"
#include "platform/Utility.h"

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

// No connection, then the route comes back and the user presses Retry: the
// next question must see it, and the one after that its going away again.
TEST(Connectivity, EveryQuestionSeesTheRoutesOfThatMoment) {
  QTemporaryDir folder;
  const QString v4 = folder.filePath(QStringLiteral("route"));
  const QString v6 = folder.filePath(QStringLiteral("ipv6_route"));
  const auto write = [](const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  };
  setRouteTablesForTesting(std::pair{v4, v6});
  write(v6, QByteArray());
  for (const bool routed : {false, true, false}) {
    write(v4, routed ? ipv4({"eth0\t00000000\t0100A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0"}) : kIpv4Header);
    EXPECT_EQ(Connectivity::isConnectedToInternet(), routed);
  }
  setRouteTablesForTesting(std::nullopt);
}

}  // namespace
}  // namespace ov
