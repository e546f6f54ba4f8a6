#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QFileInfo>
#include <QTemporaryDir>
#include <future>
#include <optional>

#include "platform/DBusKeepAwake.h"
#include "platform/Utility.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Rows.h"

namespace ov::test {
namespace {

using test::PrintTo;

using namespace std::chrono_literals;

// The desktop's screen-saver service as far as the inhibitor uses it. It
// answers on the main thread: the calls under test run on another one.
class FakeScreenSaver : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

 public:
  bool silent = false;
  QStringList calls;  // since the last test

 public slots:
  uint Inhibit(const QString& application, const QString& reason) {
    calls << u"Inhibit %1: %2"_qs.arg(application, reason);
    if (silent) setDelayedReply(true);
    return silent ? 0 : ++next_;
  }
  void UnInhibit(uint cookie) { calls << u"UnInhibit %1"_qs.arg(cookie); }

 private:
  uint next_ = 7000;
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

// A private message bus at <folder>/bus with the fake service on it, for the
// suite. dbus-daemon comes with `./dev setup`: without it every test fails.
class DBusKeepAwakeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = std::make_unique<QTemporaryDir>();
    address = u"unix:path="_qs + folder->filePath(u"bus"_qs);
    const QString printed = folder->filePath(u"address"_qs);
    daemon.emplace(u"dbus-daemon"_qs,
                   QStringList{u"--session"_qs, u"--nofork"_qs, u"--nopidfile"_qs, u"--address="_qs + address,
                               u"--print-address=1"_qs},
                   printed);
    // The address is printed once the bus listens.
    runEventLoopUntil([&] { return !daemon->started() || QFileInfo(printed).size() > 0; }, 10s);
    // Never destroyed: QtDBus finishes closing its connection on its own
    // thread and may still look at the object then.
    if (service == nullptr) service = new FakeScreenSaver;
    QDBusConnection connection = QDBusConnection::connectToBus(address, u"fake-screensaver"_qs);
    registered = connection.registerObject(u"/org/freedesktop/ScreenSaver"_qs, service,
                                           QDBusConnection::ExportAllSlots) &&
                 connection.registerService(u"org.freedesktop.ScreenSaver"_qs);
  }
  static void TearDownTestSuite() {
    QDBusConnection::disconnectFromBus(u"fake-screensaver"_qs);
    daemon.reset();
  }

  void SetUp() override {
    ASSERT_TRUE(registered) << "no private dbus-daemon at " << address.toStdString() << ": run ./dev setup";
    service->calls.clear();
    service->silent = false;
  }

  // Runs `call` on a thread of its own while the main loop serves the fake.
  template <class Call>
  static auto served(Call call) {
    auto result = std::async(std::launch::async, call);
    runEventLoopUntil([&] { return result.wait_for(0s) == std::future_status::ready; });
    return result.get();
  }

  static inline std::unique_ptr<QTemporaryDir> folder;
  static inline QString address;
  static inline std::optional<ChildProcess> daemon;
  static inline FakeScreenSaver* service = nullptr;
  static inline bool registered = false;
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
  ScopedVariable runtime("XDG_RUNTIME_DIR", c.bus == Bus::RuntimeFolder ? folder->path() : empty.path());
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
  EXPECT_EQ(served([&] { return keepAwake.inhibit(u"Unknown reason"_qs, cookie); }), c.status);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  ASSERT_TRUE(c.service != Service::Absent || serviceBus.registerService(u"org.freedesktop.ScreenSaver"_qs));
  EXPECT_EQ(cookie == 0, c.status != DBusKeepAwake::kSuccess);
  served([&] {
    keepAwake.uninhibit(cookie);
    keepAwake.uninhibit(cookie);
    keepAwake.uninhibit(cookie + 1);  // never obtained
  });
  QStringList calls;
  if (c.status == DBusKeepAwake::kSuccess || c.status == DBusKeepAwake::kTimedOut)
    calls << u"Inhibit OVDownloader: Unknown reason"_qs;
  if (c.status == DBusKeepAwake::kSuccess) calls << u"UnInhibit %1"_qs.arg(cookie);
  EXPECT_EQ(service->calls, calls);
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
  served([] {
    acquireNoSleepAssertion();
    acquireNoSleepAssertion();
  });
  EXPECT_EQ(noSleepReturn, DBusKeepAwake::kSuccess);
  served([] {
    releaseNoSleepAssertion();
    releaseNoSleepAssertion();
  });
  EXPECT_EQ(service->calls, (QStringList{u"Inhibit OVDownloader: Unknown reason"_qs,
                                         u"UnInhibit %1"_qs.arg(noSleepAssertionID)}));
  EXPECT_FALSE(noSleepReturn.has_value());
}

}  // namespace
}  // namespace ov::test

#include "DBusKeepAwakeTest.moc"
