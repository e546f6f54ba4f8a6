#include "platform/DBusKeepAwake.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <atomic>
#include <mutex>
#include <set>
#include <utility>

#include "platform/Dispatch.h"
#include "platform/SessionBus.h"

namespace ov {
namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kApplicationName = QStringLiteral("OVDownloader");

// Runs `work` on a background thread and waits at most `limit` for it. When
// the wait runs out, the result is handed to `late` once it comes instead.
template <typename Result>
std::optional<Result> runWithin(std::chrono::milliseconds limit, std::function<Result()> work,
                                std::function<void(Result)> late) {
  struct Shared {
    std::mutex mutex;
    std::optional<Result> result;
    bool abandoned = false;
    Semaphore done;
  };
  auto shared = std::make_shared<Shared>();
  globalUtilityQueue().async([shared, work = std::move(work), late = std::move(late)] {
    Result result = work();
    {
      std::lock_guard lk(shared->mutex);
      if (!shared->abandoned) {
        shared->result = std::move(result);
        shared->done.signal();
        return;
      }
    }
    if (late) late(std::move(result));
  });
  shared->done.waitFor(limit);
  std::lock_guard lk(shared->mutex);
  if (!shared->result) shared->abandoned = true;
  return std::move(shared->result);
}

}  // namespace

// The bus connection and the cookies obtained through it. Only background
// threads touch it, one at a time.
struct DBusKeepAwake::Connection {
  std::mutex mutex;
  QString address;  // empty: the session bus
  QString name;     // of the QDBusConnection
  std::chrono::milliseconds timeout;
  bool open = false;
  std::set<std::uint32_t> held;

  ~Connection() {
    if (open) QDBusConnection::disconnectFromBus(name);
  }

  std::optional<QDBusConnection> bus() {
    if (open) {
      QDBusConnection existing(name);
      if (existing.isConnected()) return existing;
      QDBusConnection::disconnectFromBus(name);
      open = false;
      // Inhibitions die with the connection that made them.
      held.clear();
    }
    const QString target = address.isEmpty() ? sessionBusAddress() : address;
    if (target.isEmpty()) return std::nullopt;
    QDBusConnection connection = QDBusConnection::connectToBus(target, name);
    if (!connection.isConnected()) {
      QDBusConnection::disconnectFromBus(name);
      return std::nullopt;
    }
    open = true;
    return connection;
  }

  std::pair<std::int32_t, std::uint32_t> inhibit(const QString& reason) {
    std::lock_guard lk(mutex);
    std::optional<QDBusConnection> connection = bus();
    if (!connection) return {kNoBus, 0};
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << kApplicationName << reason;
    const QDBusMessage reply = connection->call(call, QDBus::Block, static_cast<int>(timeout.count()));
    if (reply.type() == QDBusMessage::ReplyMessage) {
      const QVariantList arguments = reply.arguments();
      if (arguments.size() == 1 && arguments.front().metaType() == QMetaType::fromType<uint>()) {
        const std::uint32_t cookie = arguments.front().toUInt();
        held.insert(cookie);
        return {kSuccess, cookie};
      }
      return {kRefused, 0};
    }
    const QDBusError::ErrorType error = QDBusError(reply).type();
    if (error == QDBusError::NoReply || error == QDBusError::Timeout || error == QDBusError::TimedOut)
      return {kTimedOut, 0};
    if (error == QDBusError::Disconnected) return {kNoBus, 0};
    return {kRefused, 0};
  }

  void uninhibit(std::uint32_t cookie) {
    std::lock_guard lk(mutex);
    if (held.erase(cookie) == 0) return;
    std::optional<QDBusConnection> connection = bus();
    if (!connection) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("UnInhibit"));
    call << static_cast<uint>(cookie);
    connection->call(call, QDBus::Block, static_cast<int>(timeout.count()));
  }
};

DBusKeepAwake::DBusKeepAwake(QString busAddress, std::chrono::milliseconds timeout)
    : connection_(std::make_shared<Connection>()), timeout_(timeout) {
  static std::atomic<int> instances{0};
  connection_->address = std::move(busAddress);
  connection_->name = QStringLiteral("ovdownloader-keepawake-%1").arg(++instances);
  connection_->timeout = timeout;
}

DBusKeepAwake::~DBusKeepAwake() = default;

std::int32_t DBusKeepAwake::inhibit(const QString& reason, std::uint32_t& cookie) {
  cookie = 0;
  // Connecting can stall too (a bus that accepts and never says hello), so
  // the whole exchange gets a little more than one call's time-out.
  const auto limit = timeout_ + std::chrono::milliseconds(500);
  std::shared_ptr<Connection> connection = connection_;
  const auto outcome = runWithin<std::pair<std::int32_t, std::uint32_t>>(
      limit, [connection, reason] { return connection->inhibit(reason); },
      [connection](std::pair<std::int32_t, std::uint32_t> late) {
        if (late.first == kSuccess) connection->uninhibit(late.second);
      });
  if (!outcome) return kTimedOut;
  cookie = outcome->second;
  return outcome->first;
}

void DBusKeepAwake::uninhibit(std::uint32_t cookie) {
  std::shared_ptr<Connection> connection = connection_;
  runWithin<bool>(
      timeout_ + std::chrono::milliseconds(500),
      [connection, cookie] {
        connection->uninhibit(cookie);
        return true;
      },
      nullptr);
}

NoSleepBackend platformKeepAwakeBackend() {
  // Never destroyed: its connection must outlive every release, and the
  // inhibition ends with the process anyway.
  static auto* keepAwake = new DBusKeepAwake();
  return NoSleepBackend{
      [](std::uint32_t& id) { return keepAwake->inhibit(QStringLiteral("Unknown reason"), id); },
      [](std::uint32_t id) { keepAwake->uninhibit(id); },
  };
}

}  // namespace ov
