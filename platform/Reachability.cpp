#include "platform/Reachability.h"

#include <QFile>
#include <QList>
#include <QNetworkInterface>
#include <algorithm>
#include <mutex>
#include <optional>
#include <tuple>

#include "platform/Utility.h"

namespace ov {
namespace {

constexpr unsigned kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned kRouteReject = 0x0200;  // RTF_REJECT

bool isZeroHex(const QByteArray& field) {
  return !field.isEmpty() && std::all_of(field.begin(), field.end(), [](char c) { return c == '0'; });
}

unsigned hexFlags(const QByteArray& field) {
  bool ok = false;
  const unsigned flags = field.toUInt(&ok, 16);
  return ok ? flags : 0;
}

// Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the first line is a header.
bool ipv4DefaultRoute(const QByteArray& table) {
  const QList<QByteArray> lines = table.split('\n');
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QList<QByteArray> f = lines[i].simplified().split(' ');
    if (f.size() < 8 || f[0] == "lo") continue;
    if (isZeroHex(f[1]) && isZeroHex(f[7]) && (hexFlags(f[3]) & kRouteUp) && !(hexFlags(f[3]) & kRouteReject))
      return true;
  }
  return false;
}

// Destination PrefixLength Source SourcePrefixLength NextHop Metric RefCnt Use Flags Iface; no header.
bool ipv6DefaultRoute(const QByteArray& table) {
  for (const QByteArray& line : table.split('\n')) {
    const QList<QByteArray> f = line.simplified().split(' ');
    if (f.size() < 10 || f[9] == "lo") continue;
    const unsigned flags = hexFlags(f[8]);
    if (isZeroHex(f[0]) && isZeroHex(f[1]) && (flags & kRouteUp) && !(flags & kRouteReject)) return true;
  }
  return false;
}

std::optional<QByteArray> readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  // Files under /proc report a size of 0, so read until the end.
  return file.readAll();
}

struct TestAnswer {
  std::mutex mutex;
  std::function<bool()> answer;
  std::optional<std::pair<QString, QString>> routeTables;
};

TestAnswer& testAnswer() {
  static TestAnswer t;
  return t;
}

}  // namespace

bool hasDefaultRoute(const QByteArray& ipv4Table, const QByteArray& ipv6Table) {
  return ipv4DefaultRoute(ipv4Table) || ipv6DefaultRoute(ipv6Table);
}

bool hasUsableInterface() {
  const auto wanted = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;
  for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
    if ((interface.flags() & wanted) != wanted || (interface.flags() & QNetworkInterface::IsLoopBack))
      continue;
    for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
      const QHostAddress ip = entry.ip();
      if (!ip.isNull() && !ip.isLoopback() && !ip.isLinkLocal()) return true;
    }
  }
  return false;
}

bool systemReachability() {
  QString ipv4Path = QStringLiteral("/proc/net/route");
  QString ipv6Path = QStringLiteral("/proc/net/ipv6_route");
  {
    TestAnswer& t = testAnswer();
    std::lock_guard lk(t.mutex);
    if (t.routeTables) std::tie(ipv4Path, ipv6Path) = *t.routeTables;
  }
  const std::optional<QByteArray> ipv4 = readFile(ipv4Path);
  const std::optional<QByteArray> ipv6 = readFile(ipv6Path);
  if (ipv4 || ipv6) return hasDefaultRoute(ipv4.value_or(QByteArray()), ipv6.value_or(QByteArray()));
  return hasUsableInterface();
}

bool Connectivity::isConnectedToInternet() {
  {
    TestAnswer& t = testAnswer();
    std::lock_guard lk(t.mutex);
    if (t.answer) return t.answer();
  }
  // Asked afresh every time, as a reachability monitor made for one query
  // would be: after "no connection", the user's Retry must see the route
  // that came back. Reading two small kernel tables never waits.
  return systemReachability();
}

void Connectivity::setReachabilityForTesting(std::function<bool()> answer) {
  TestAnswer& t = testAnswer();
  std::lock_guard lk(t.mutex);
  t.answer = std::move(answer);
}

void setRouteTablesForTesting(std::optional<std::pair<QString, QString>> paths) {
  TestAnswer& t = testAnswer();
  std::lock_guard lk(t.mutex);
  t.routeTables = std::move(paths);
}

}  // namespace ov
