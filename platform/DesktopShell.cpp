#include "platform/DesktopShell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "platform/Dispatch.h"
#include "platform/SessionBus.h"

namespace ov {
namespace {

const QString kEntryInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kNotifyTimeoutMs = 2000;

std::mutex liveMutex;
std::set<DesktopShell*> liveShells;

// Where libunity puts an application's launcher entry. Listeners match the
// interface and the URI, not the path; a path of its own per application
// keeps two programs' entries apart on the bus all the same.
QString entryPath(const QString& appUri) {
  std::uint32_t hash = 5381;
  for (const char c : appUri.toUtf8()) hash = hash * 33 + static_cast<unsigned char>(c);
  return QStringLiteral("/com/canonical/unity/launcherentry/%1").arg(hash);
}

// Hears the notification server on the main thread. A click counts only on a
// notification of ours and only as the "default" action: the server's
// signals go to every client on the bus.
class ClickListener : public QObject {
  Q_OBJECT

 public:
  void remember(uint id) {
    std::lock_guard lk(mutex_);
    ids_.insert(id);
  }

 public slots:
  void onActionInvoked(uint id, const QString& action) {
    bool ours = false;
    {
      std::lock_guard lk(mutex_);
      ours = ids_.count(id) > 0;
    }
    if (ours && action == u"default") emit clicked();
  }
  void onNotificationClosed(uint id, uint reason) {
    static_cast<void>(reason);
    std::lock_guard lk(mutex_);
    ids_.erase(id);
  }

 signals:
  void clicked();

 private:
  std::mutex mutex_;
  std::set<uint> ids_;
};

}  // namespace

// Shared by the shell (main thread) and the tasks of its queue, which may
// outlive it.
struct DesktopShell::State {
  struct Entry {
    double progress = 0.0;
    bool visible = false;
    bool operator==(const Entry&) const = default;
  };

  QString applicationName;
  QString desktopEntryId;
  QString appUri;
  QString path;
  QString address;  // empty: the session bus
  QString connectionName;
  std::shared_ptr<DispatchQueue> queue = makeSerialQueue("DesktopShell");
  std::shared_ptr<ClickListener> listener;

  std::mutex mutex;  // guards the launcher entry's fields below
  Entry wanted;
  std::optional<Entry> sent;
  bool updateQueued = false;
  std::chrono::steady_clock::time_point lastUpdate;

  bool open = false;  // touched by the queue's tasks only, one at a time

  ~State() {
    if (open) QDBusConnection::disconnectFromBus(connectionName);
  }

  std::optional<QDBusConnection> bus() {
    if (open) {
      QDBusConnection existing(connectionName);
      if (existing.isConnected()) return existing;
      QDBusConnection::disconnectFromBus(connectionName);
      open = false;
    }
    const QString target = address.isEmpty() ? sessionBusAddress() : address;
    if (target.isEmpty()) return std::nullopt;
    QDBusConnection connection = QDBusConnection::connectToBus(target, connectionName);
    if (!connection.isConnected()) {
      QDBusConnection::disconnectFromBus(connectionName);
      return std::nullopt;
    }
    open = true;
    connection.connect(kNotifications, kNotificationsPath, kNotifications, QStringLiteral("ActionInvoked"),
                       listener.get(), SLOT(onActionInvoked(uint, QString)));
    connection.connect(kNotifications, kNotificationsPath, kNotifications,
                       QStringLiteral("NotificationClosed"), listener.get(),
                       SLOT(onNotificationClosed(uint, uint)));
    return connection;
  }

  // Main thread: asks for `entry`; one task at a time carries the latest.
  static void request(const std::shared_ptr<State>& state, Entry entry) {
    std::lock_guard lk(state->mutex);
    state->wanted = entry;
    if (state->updateQueued || state->sent == entry) return;
    state->updateQueued = true;
    state->queue->async([state] { state->sendUpdate(); });
  }

  void sendUpdate() {
    std::chrono::steady_clock::time_point notBefore;
    {
      std::lock_guard lk(mutex);
      notBefore = lastUpdate + kMinimumUpdateInterval;
    }
    // Whatever is asked for while this waits goes out with it.
    std::this_thread::sleep_until(notBefore);
    Entry entry;
    {
      std::lock_guard lk(mutex);
      updateQueued = false;
      entry = wanted;
      if (sent == entry) return;
      sent = entry;
      lastUpdate = std::chrono::steady_clock::now();
    }
    const auto connection = bus();
    if (!connection) return;
    QDBusMessage update = QDBusMessage::createSignal(path, kEntryInterface, QStringLiteral("Update"));
    update << appUri
           << QVariantMap{{QStringLiteral("progress"), entry.progress},
                          {QStringLiteral("progress-visible"), entry.visible}};
    connection->send(update);
  }

  void sendNotification(const QString& summary, const QString& body, const QString& actionLabel) {
    const auto connection = bus();
    if (!connection) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath, kNotifications,
                                                       QStringLiteral("Notify"));
    call << applicationName << uint(0) << desktopEntryId << summary << body
         << QStringList{QStringLiteral("default"), actionLabel}
         << QVariantMap{{QStringLiteral("desktop-entry"), desktopEntryId}} << int(-1);
    const QDBusMessage reply = connection->call(call, QDBus::Block, kNotifyTimeoutMs);
    const QVariantList arguments = reply.arguments();
    if (reply.type() == QDBusMessage::ReplyMessage && arguments.size() == 1 &&
        arguments.front().metaType() == QMetaType::fromType<uint>())
      listener->remember(arguments.front().toUInt());
  }
};

DesktopShell::DesktopShell(QString applicationName, QString desktopEntryId, QString busAddress,
                           QObject* parent)
    : QObject(parent), state_(std::make_shared<State>()) {
  static std::atomic<int> instances{0};
  state_->applicationName = std::move(applicationName);
  state_->desktopEntryId = std::move(desktopEntryId);
  state_->appUri = QStringLiteral("application://%1.desktop").arg(state_->desktopEntryId);
  state_->path = entryPath(state_->appUri);
  state_->address = std::move(busAddress);
  state_->connectionName = QStringLiteral("ovdownloader-shell-%1").arg(++instances);
  // The listener lives on the main thread, where its slots run; the last task
  // holding the state may end on another thread.
  state_->listener = std::shared_ptr<ClickListener>(new ClickListener, [](ClickListener* listener) {
    if (isMainThread())
      delete listener;
    else
      mainQueue().async([listener] { delete listener; });
  });
  connect(state_->listener.get(), &ClickListener::clicked, this, &DesktopShell::notificationActivated);
  std::lock_guard lk(liveMutex);
  liveShells.insert(this);
}

DesktopShell::~DesktopShell() {
  std::lock_guard lk(liveMutex);
  liveShells.erase(this);
}

void DesktopShell::showProgress(double fraction) {
  State::request(state_, {std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0, true});
}

void DesktopShell::hideProgress() {
  double progress = 0.0;
  {
    std::lock_guard lk(state_->mutex);
    progress = state_->wanted.progress;
  }
  State::request(state_, {progress, false});
}

void DesktopShell::notify(const QString& summary, const QString& body, const QString& actionLabel) {
  state_->queue->async(
      [state = state_, summary, body, actionLabel] { state->sendNotification(summary, body, actionLabel); });
}

bool DesktopShell::flush(std::chrono::milliseconds limit) {
  auto done = std::make_shared<Semaphore>();
  state_->queue->async([done] { done->signal(); });
  return done->waitFor(limit);
}

void DesktopShell::flushAll(std::chrono::milliseconds limit) {
  std::set<DesktopShell*> shells;
  {
    std::lock_guard lk(liveMutex);
    shells = liveShells;
  }
  for (DesktopShell* shell : shells) shell->flush(limit);
}

}  // namespace ov

#include "DesktopShell.moc"
