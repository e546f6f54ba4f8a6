#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

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
#include "tests/support/Rows.h"

namespace ov::test {
namespace {

using test::PrintTo;

using namespace std::chrono_literals;

// The desktop's screen-saver service as far as the inhibitor uses it. It
// answers on its own thread, so a test may block the main thread in a call.
class FakeScreenSaver : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

 public:
  std::atomic<bool> silent{false};

  // The calls since the last time they were taken.
  QStringList takeCalls() {
    std::lock_guard lk(mutex_);
    return std::exchange(calls_, {});
  }

 public slots:
  uint Inhibit(const QString& application, const QString& reason) {
    note(u"Inhibit %1: %2"_qs.arg(application, reason));
    if (silent) setDelayedReply(true);
    return silent ? 0 : ++next_;
  }
  void UnInhibit(uint cookie) { note(u"UnInhibit %1"_qs.arg(cookie)); }

 private:
  void note(const QString& call) {
    std::lock_guard lk(mutex_);
    calls_ << call;
  }
  std::mutex mutex_;
  QStringList calls_;
  std::atomic<uint> next_ = 7000;
};

// Sets an environment variable, or unsets it for a null value, until the end of the scope.
struct ScopedVariable {
  ScopedVariable(const char* name, const QString& value)
      : name(name), saved(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
    value.isNull() ? qunsetenv(name) : qputenv(name, value.toUtf8());
  }
  ~ScopedVariable() { saved ? qputenv(name, *saved) : qunsetenv(name); }
  const char* name;
  std::optional<QByteArray> saved;
};

// A private message bus at <folder>/bus with the fake service on it, for one
// suite. dbus-daemon comes with `./dev setup`: without it every test fails.
struct PrivateBus {
  PrivateBus() {
    const QString printed = folder.filePath(u"address"_qs);
    daemon.emplace(u"dbus-daemon"_qs,
                   QStringList{u"--session"_qs, u"--nofork"_qs, u"--nopidfile"_qs, u"--address="_qs + address,
                               u"--print-address=1"_qs},
                   printed);
    // The address is printed once the bus listens.
    for (int i = 0; i < 1000 && daemon->started() && QFileInfo(printed).size() == 0; ++i)
      std::this_thread::sleep_for(10ms);
    // The service's thread is a plain std::thread running its own event loop,
    // so that ThreadSanitizer sees its start, its end and the ready signal.
    Semaphore ready;
    thread = std::thread([this, &ready] {
#if defined(__SANITIZE_ADDRESS__)
      __lsan_disable();  // what this thread leaves to QtDBus at its end is QtDBus's to free
#endif
      // Never destroyed: QtDBus finishes closing its connection on its own
      // thread and may still look at the object then.
      service = new FakeScreenSaver;
      QDBusConnection connection = QDBusConnection::connectToBus(address, u"fake-screensaver"_qs);
      registered = connection.registerObject(u"/org/freedesktop/ScreenSaver"_qs, service,
                                             QDBusConnection::ExportAllSlots) &&
                   connection.registerService(u"org.freedesktop.ScreenSaver"_qs);
      ready.signal();
      QEventLoop loop;
      QTimer tick;  // wakes the loop now and then, so that the stop flag is seen
      tick.start(10);
      while (registered && !stop) loop.processEvents(QEventLoop::WaitForMoreEvents);
      QDBusConnection::disconnectFromBus(u"fake-screensaver"_qs);
    });
    ready.wait();
  }
  ~PrivateBus() {
    stop = true;
    thread.join();
  }

  QTemporaryDir folder;
  QString address = u"unix:path="_qs + folder.filePath(u"bus"_qs);
  std::optional<ChildProcess> daemon;
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
    service->takeCalls();
    service->silent = false;
  }

  static inline std::unique_ptr<PrivateBus> bus;
  const QString address = bus->address;
  FakeScreenSaver* const service = bus->service;
};

enum class Bus { Given, GivenButMissing, AddressVariable, RuntimeFolder, Nowhere };
enum class Service { Answers, Absent, Silent };

struct InhibitCase {
  const char* name;
  Bus bus;
  Service service;
  std::int32_t status;
};

class Inhibit : public DBusKeepAwakeTest, public ::testing::WithParamInterface<InhibitCase> {};

// An empty address means the session bus: DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus, else none (nothing is launched). A failure gives no
// cookie and does not keep its caller long; only a cookie obtained is
// released, and only once.
TEST_P(Inhibit, GivesItsStatusAndReleasesOnlyWhatItObtained) {
  const InhibitCase& c = GetParam();
  QTemporaryDir empty;
  ScopedVariable sessionBus("DBUS_SESSION_BUS_ADDRESS", c.bus == Bus::AddressVariable ? address : QString());
  ScopedVariable runtime("XDG_RUNTIME_DIR", c.bus == Bus::RuntimeFolder ? bus->folder.path() : empty.path());
  const QString given = c.bus == Bus::Given             ? address
                        : c.bus == Bus::GivenButMissing ? u"unix:path="_qs + empty.filePath(u"bus"_qs)
                                                        : QString();
  service->silent = c.service == Service::Silent;
  QDBusConnection serviceBus(u"fake-screensaver"_qs);
  ASSERT_TRUE(c.service != Service::Absent ||
              serviceBus.unregisterService(u"org.freedesktop.ScreenSaver"_qs));
  DBusKeepAwake keepAwake(given, 200ms);
  std::uint32_t cookie = 99;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(keepAwake.inhibit(u"Unknown reason"_qs, cookie), c.status);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  ASSERT_TRUE(c.service != Service::Absent || serviceBus.registerService(u"org.freedesktop.ScreenSaver"_qs));
  EXPECT_EQ(cookie == 0, c.status != DBusKeepAwake::kSuccess);
  keepAwake.uninhibit(cookie);
  keepAwake.uninhibit(cookie);
  keepAwake.uninhibit(cookie + 1);  // never obtained
  QStringList calls;
  if (c.status == DBusKeepAwake::kSuccess || c.status == DBusKeepAwake::kTimedOut)
    calls << u"Inhibit OVDownloader: Unknown reason"_qs;
  if (c.status == DBusKeepAwake::kSuccess) calls << u"UnInhibit %1"_qs.arg(cookie);
  EXPECT_EQ(service->takeCalls(), calls);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Inhibit,
    ::testing::Values(
        InhibitCase{"Given", Bus::Given, Service::Answers, DBusKeepAwake::kSuccess},
        InhibitCase{"AddressVariable", Bus::AddressVariable, Service::Answers, DBusKeepAwake::kSuccess},
        InhibitCase{"RuntimeFolder", Bus::RuntimeFolder, Service::Answers, DBusKeepAwake::kSuccess},
        InhibitCase{"Nowhere", Bus::Nowhere, Service::Answers, DBusKeepAwake::kNoBus},
        InhibitCase{"GivenButMissing", Bus::GivenButMissing, Service::Answers, DBusKeepAwake::kNoBus},
        InhibitCase{"NoService", Bus::Given, Service::Absent, DBusKeepAwake::kRefused},
        InhibitCase{"SilentService", Bus::Given, Service::Silent, DBusKeepAwake::kTimedOut}),
    rowName);

TEST_F(DBusKeepAwakeTest, TheAssertionFunctionsHoldOneInhibitionOnTheSessionBus) {
  ScopedVariable sessionBus("DBUS_SESSION_BUS_ADDRESS", address);
  setNoSleepBackendForTesting(std::nullopt);
  acquireNoSleepAssertion();
  acquireNoSleepAssertion();
  EXPECT_EQ(noSleepReturn, DBusKeepAwake::kSuccess);
  releaseNoSleepAssertion();
  releaseNoSleepAssertion();
  EXPECT_EQ(service->takeCalls(), (QStringList{u"Inhibit OVDownloader: Unknown reason"_qs,
                                               u"UnInhibit %1"_qs.arg(noSleepAssertionID)}));
  EXPECT_FALSE(noSleepReturn.has_value());
}

}  // namespace
}  // namespace ov::test

#include "DBusKeepAwakeTest.moc"
