#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/DBusKeepAwake.h"
#include "platform/Dispatch.h"
#include "platform/Utility.h"
#include "tests/support/ChildProcess.h"

namespace ov {
namespace {

using namespace std::chrono_literals;

// The desktop's screen-saver service as far as the inhibitor uses it. It
// answers on its own thread, so a test may block the main thread in a call.
class FakeScreenSaver : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

 public:
  std::atomic<bool> silent{false};

  QStringList calls() const {
    std::lock_guard lk(mutex_);
    return calls_;
  }
  void clear() {
    std::lock_guard lk(mutex_);
    calls_.clear();
  }

 public slots:
  uint Inhibit(const QString& application, const QString& reason) {
    std::lock_guard lk(mutex_);
    calls_ << QStringLiteral("Inhibit %1: %2").arg(application, reason);
    if (silent) setDelayedReply(true);
    return silent ? 0 : ++next_;
  }
  void UnInhibit(uint cookie) {
    std::lock_guard lk(mutex_);
    calls_ << QStringLiteral("UnInhibit %1").arg(cookie);
  }

 private:
  mutable std::mutex mutex_;
  QStringList calls_;
  uint next_ = 7000;
};

class ScopedVariable {
 public:
  ScopedVariable(const char* name, const QString& value) : name_(name) {
    if (qEnvironmentVariableIsSet(name)) saved_ = qgetenv(name);
    value.isNull() ? qunsetenv(name) : qputenv(name, value.toUtf8());
  }
  ~ScopedVariable() { saved_ ? qputenv(name_, *saved_) : qunsetenv(name_); }

 private:
  const char* name_;
  std::optional<QByteArray> saved_;
};

// A private message bus at <folder>/bus with the fake service on it, for one
// suite. dbus-daemon comes with `./dev setup`: without it every test fails.
struct PrivateBus {
  PrivateBus() {
    const QString printed = folder.filePath(QStringLiteral("address"));
    daemon.emplace(
        QStringLiteral("dbus-daemon"),
        QStringList{QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                    u"--address="_qs + address, QStringLiteral("--print-address=1")},
        printed);
    // The address is printed once the bus listens.
    for (int i = 0; i < 1000 && daemon->started() && QFileInfo(printed).size() == 0; ++i)
      std::this_thread::sleep_for(10ms);
    // The service's thread is a plain std::thread running its own event loop,
    // so that ThreadSanitizer sees its start, its end and the ready signal.
    Semaphore ready;
    thread = std::thread([this, &ready] {
      // Never destroyed: QtDBus finishes closing its connection on its own
      // thread and may still look at the object then.
      service = new FakeScreenSaver;
      QDBusConnection connection = QDBusConnection::connectToBus(address, QStringLiteral("fake-screensaver"));
      registered = connection.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), service,
                                             QDBusConnection::ExportAllSlots) &&
                   connection.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
      ready.signal();
      QEventLoop loop;
      QTimer tick;  // wakes the loop now and then, so that the stop flag is seen
      tick.start(10);
      while (registered && !stop) loop.processEvents(QEventLoop::WaitForMoreEvents);
      QDBusConnection::disconnectFromBus(QStringLiteral("fake-screensaver"));
    });
    ready.wait();
  }
  ~PrivateBus() {
    stop = true;
    thread.join();
  }

  QTemporaryDir folder;
  QString address = QStringLiteral("unix:path=") + folder.filePath(QStringLiteral("bus"));
  std::optional<test::ChildProcess> daemon;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<bool> registered{false};
  FakeScreenSaver* service = nullptr;
};

class DBusKeepAwakeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { bus = std::make_unique<PrivateBus>(); }
  static void TearDownTestSuite() { bus.reset(); }

  void SetUp() override {
    ASSERT_TRUE(bus->registered) << "no private dbus-daemon at " << address.toStdString()
                                 << ": run ./dev setup";
    service->clear();
    service->silent = false;
  }

  static QDBusConnection serviceBus() { return QDBusConnection(QStringLiteral("fake-screensaver")); }

  static inline std::unique_ptr<PrivateBus> bus;
  const QString address = bus->address;
  FakeScreenSaver* const service = bus->service;
};

TEST_F(DBusKeepAwakeTest, InhibitsAndReleasesOnceThroughTheScreenSaverService) {
  DBusKeepAwake keepAwake(address);
  std::uint32_t cookie = 0;
  EXPECT_EQ(keepAwake.inhibit(QStringLiteral("Unknown reason"), cookie), DBusKeepAwake::kSuccess);
  EXPECT_NE(cookie, 0u);
  keepAwake.uninhibit(cookie);
  keepAwake.uninhibit(cookie);
  keepAwake.uninhibit(0);
  keepAwake.uninhibit(cookie + 1);  // never obtained
  EXPECT_EQ(service->calls(), (QStringList{u"Inhibit OVDownloader: Unknown reason"_qs,
                                           QStringLiteral("UnInhibit %1").arg(cookie)}));
}

enum class Failure { NoBus, NoService, Silent };

class DBusKeepAwakeFailureTest : public DBusKeepAwakeTest,
                                 public ::testing::WithParamInterface<std::pair<Failure, std::int32_t>> {};

TEST_P(DBusKeepAwakeFailureTest, GivesItsStatusNoCookieAndReleasesNothing) {
  const Failure failure = GetParam().first;
  const QString where =
      failure == Failure::NoBus ? u"unix:path="_qs + bus->folder.filePath(u"no-bus"_qs) : address;
  service->silent = failure == Failure::Silent;
  if (failure == Failure::NoService) {
    ASSERT_TRUE(serviceBus().unregisterService(QStringLiteral("org.freedesktop.ScreenSaver")));
  }
  DBusKeepAwake keepAwake(where, 200ms);
  std::uint32_t cookie = 99;
  const auto started = std::chrono::steady_clock::now();
  const std::int32_t status = keepAwake.inhibit(QStringLiteral("r"), cookie);
  const auto took = std::chrono::steady_clock::now() - started;
  if (failure == Failure::NoService) {
    ASSERT_TRUE(serviceBus().registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
  }
  EXPECT_EQ(status, GetParam().second);
  EXPECT_EQ(cookie, 0u);
  EXPECT_LT(took, 2s);
  keepAwake.uninhibit(cookie);
  EXPECT_FALSE(service->calls().join(u' ').contains(u"UnInhibit"_qs));
}

INSTANTIATE_TEST_SUITE_P(Table, DBusKeepAwakeFailureTest,
                         ::testing::Values(std::pair(Failure::NoBus, DBusKeepAwake::kNoBus),
                                           std::pair(Failure::NoService, DBusKeepAwake::kRefused),
                                           std::pair(Failure::Silent, DBusKeepAwake::kTimedOut)));

// Without DBUS_SESSION_BUS_ADDRESS the session bus is $XDG_RUNTIME_DIR/bus,
// and without that socket there is no bus (nothing is launched).
TEST_F(DBusKeepAwakeTest, TheSessionBusIsFoundThroughTheRuntimeFolderOnly) {
  ScopedVariable noAddress("DBUS_SESSION_BUS_ADDRESS", QString());
  QTemporaryDir empty;
  std::uint32_t cookie = 0;
  {
    ScopedVariable runtime("XDG_RUNTIME_DIR", empty.path());
    EXPECT_EQ(DBusKeepAwake().inhibit(QStringLiteral("r"), cookie), DBusKeepAwake::kNoBus);
  }
  ScopedVariable runtime("XDG_RUNTIME_DIR", bus->folder.path());
  EXPECT_EQ(DBusKeepAwake().inhibit(QStringLiteral("r"), cookie), DBusKeepAwake::kSuccess);
}

TEST_F(DBusKeepAwakeTest, TheAssertionFunctionsHoldOneInhibitionOnTheSessionBus) {
  ScopedVariable sessionBus("DBUS_SESSION_BUS_ADDRESS", address);
  setNoSleepBackendForTesting(std::nullopt);
  acquireNoSleepAssertion();
  acquireNoSleepAssertion();
  EXPECT_EQ(noSleepReturn, DBusKeepAwake::kSuccess);
  releaseNoSleepAssertion();
  releaseNoSleepAssertion();
  EXPECT_EQ(service->calls(), (QStringList{u"Inhibit OVDownloader: Unknown reason"_qs,
                                           QStringLiteral("UnInhibit %1").arg(noSleepAssertionID)}));
  EXPECT_FALSE(noSleepReturn.has_value());
}

}  // namespace
}  // namespace ov

#include "DBusKeepAwakeTest.moc"
