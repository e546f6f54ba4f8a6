#include "platform/Reachability.h"

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QNetworkInformation>
#include <QNetworkInterface>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

#include "platform/Dispatch.h"
#include "platform/Log.h"
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

std::optional<QByteArray> readProcFile(const char* path) {
  QFile file(QString::fromLatin1(path));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  // Files under /proc report a size of 0, so read until the end.
  return file.readAll();
}

// Qt's network-information backend, loaded once on the main thread (its object
// lives there and is updated there). Other threads read only the atomic copy.
enum class BackendState { NotTried, Loading, Loaded, Unavailable };
std::atomic<BackendState> backendState{BackendState::NotTried};
std::atomic<int> backendReachability{static_cast<int>(QNetworkInformation::Reachability::Unknown)};

void loadBackendOnMainThread() {
  if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
    backendState = BackendState::Unavailable;
    return;
  }
  QNetworkInformation* info = QNetworkInformation::instance();
  backendReachability = static_cast<int>(info->reachability());
  QObject::connect(info, &QNetworkInformation::reachabilityChanged, info,
                   [](QNetworkInformation::Reachability r) { backendReachability = static_cast<int>(r); });
  backendState = BackendState::Loaded;
}

void ensureBackend() {
  BackendState expected = BackendState::NotTried;
  if (QCoreApplication::instance() == nullptr ||
      !backendState.compare_exchange_strong(expected, BackendState::Loading))
    return;
  if (isMainThread()) {
    loadBackendOnMainThread();
    return;
  }
  // A background caller (preparation) waits briefly for the main thread; if
  // the main thread is busy, this query does without and a later one benefits.
  auto loaded = std::make_shared<Semaphore>();
  mainQueue().async([loaded] {
    loadBackendOnMainThread();
    loaded->signal();
  });
  loaded->waitFor(std::chrono::seconds(2));
}

// Reachable means a route beyond the local network: Site (limited, a portal)
// or Online. Local means connected to a network without a route out.
std::optional<bool> backendAnswer() {
  ensureBackend();
  if (backendState != BackendState::Loaded) return std::nullopt;
  const auto r = static_cast<QNetworkInformation::Reachability>(backendReachability.load());
  if (r == QNetworkInformation::Reachability::Unknown) return std::nullopt;
  return r == QNetworkInformation::Reachability::Site || r == QNetworkInformation::Reachability::Online;
}

struct TestAnswer {
  std::mutex mutex;
  std::function<bool()> answer;
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
  const std::optional<QByteArray> ipv4 = readProcFile("/proc/net/route");
  const std::optional<QByteArray> ipv6 = readProcFile("/proc/net/ipv6_route");
  if (ipv4 || ipv6) return hasDefaultRoute(ipv4.value_or(QByteArray()), ipv6.value_or(QByteArray()));
  return hasUsableInterface();
}

}  // namespace ov

bool Connectivity::isConnectedToInternet() {
  {
    ov::TestAnswer& t = ov::testAnswer();
    std::lock_guard lk(t.mutex);
    if (t.answer) return t.answer();
  }
  if (const std::optional<bool> answer = ov::backendAnswer()) return *answer;
  static std::once_flag logged;
  std::call_once(logged, [] {
    ov::systemLog(
        QStringLiteral("[OVDownloader]No network information backend; reachability is taken from the "
                       "system's default route"));
  });
  return ov::systemReachability();
}

void Connectivity::setReachabilityForTesting(std::function<bool()> answer) {
  ov::TestAnswer& t = ov::testAnswer();
  std::lock_guard lk(t.mutex);
  t.answer = std::move(answer);
}
