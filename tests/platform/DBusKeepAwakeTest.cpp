#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/DBusKeepAwake.h"
#include "platform/Utility.h"

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

  std::vector<std::pair<QString, QString>> inhibits() const {
    std::lock_guard lk(mutex_);
    return inhibits_;
  }
  std::vector<uint> uninhibits() const {
    std::lock_guard lk(mutex_);
    return uninhibits_;
  }
  void clear() {
    std::lock_guard lk(mutex_);
    inhibits_.clear();
    uninhibits_.clear();
  }

 public slots:
  uint Inhibit(const QString& application, const QString& reason) {
    std::lock_guard lk(mutex_);
    inhibits_.emplace_back(application, reason);
    if (silent) {
      setDelayedReply(true);
      return 0;
    }
    return ++next_;
  }
  void UnInhibit(uint cookie) {
    std::lock_guard lk(mutex_);
    uninhibits_.push_back(cookie);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<QString, QString>> inhibits_;
  std::vector<uint> uninhibits_;
  uint next_ = 7000;
};

class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<QByteArray> value) : name_(name) {
    if (qEnvironmentVariableIsSet(name)) saved_ = qgetenv(name);
    if (value)
      qputenv(name, *value);
    else
      qunsetenv(name);
  }
  ~ScopedVariable() {
    if (saved_)
      qputenv(name_, *saved_);
    else
      qunsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<QByteArray> saved_;
};

// A private message bus with the fake service on it, for the whole suite.
class DBusKeepAwakeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) return;
    busProcess = new QProcess;
    busProcess->start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                               QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    if (!busProcess->waitForStarted(5000)) return;
    while (!busProcess->canReadLine() && busProcess->waitForReadyRead(5000)) {
    }
    address = QString::fromUtf8(busProcess->readLine().trimmed());
    if (address.isEmpty()) return;

    serviceThread = new QThread;
    serviceThread->start();
    service = new FakeScreenSaver;
    service->moveToThread(serviceThread);
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("fake-screensaver"));
    if (!bus.isConnected() ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), service,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")))
      address.clear();
  }

  static void TearDownTestSuite() {
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-screensaver"));
    if (serviceThread != nullptr) {
      serviceThread->quit();
      serviceThread->wait();
    }
    delete service;
    delete serviceThread;
    if (busProcess != nullptr) {
      busProcess->kill();
      busProcess->waitForFinished(5000);
    }
    delete busProcess;
    service = nullptr;
    serviceThread = nullptr;
    busProcess = nullptr;
  }

  void SetUp() override {
    if (address.isEmpty()) GTEST_SKIP() << "no private dbus-daemon could be started";
    service->clear();
    service->silent = false;
  }

  static QDBusConnection serviceBus() { return QDBusConnection(QStringLiteral("fake-screensaver")); }

  static inline QProcess* busProcess = nullptr;
  static inline QThread* serviceThread = nullptr;
  static inline FakeScreenSaver* service = nullptr;
  static inline QString address;
};

TEST_F(DBusKeepAwakeTest, InhibitsAndReleasesThroughTheScreenSaverService) {
  DBusKeepAwake keepAwake(address);
  std::uint32_t cookie = 0;
  EXPECT_EQ(keepAwake.inhibit(QStringLiteral("Unknown reason"), cookie), DBusKeepAwake::kSuccess);
  EXPECT_EQ(cookie, 7001u);
  using Call = std::pair<QString, QString>;
  EXPECT_EQ(service->inhibits(),
            (std::vector<Call>{{QStringLiteral("OVDownloader"), QStringLiteral("Unknown reason")}}));
  keepAwake.uninhibit(cookie);
  EXPECT_EQ(service->uninhibits(), std::vector<uint>{7001});
  // Released once; a second release of the same cookie says nothing to the bus.
  keepAwake.uninhibit(cookie);
  EXPECT_EQ(service->uninhibits(), std::vector<uint>{7001});
}

TEST_F(DBusKeepAwakeTest, CookiesItDidNotObtainAreNotSentToTheService) {
  DBusKeepAwake keepAwake(address);
  keepAwake.uninhibit(0);
  keepAwake.uninhibit(4242);
  EXPECT_TRUE(service->uninhibits().empty());
}

TEST_F(DBusKeepAwakeTest, ABusWithoutTheServiceRefuses) {
  ASSERT_TRUE(serviceBus().unregisterService(QStringLiteral("org.freedesktop.ScreenSaver")));
  DBusKeepAwake keepAwake(address);
  std::uint32_t cookie = 99;
  const std::int32_t status = keepAwake.inhibit(QStringLiteral("r"), cookie);
  ASSERT_TRUE(serviceBus().registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
  EXPECT_EQ(status, DBusKeepAwake::kRefused);
  EXPECT_EQ(cookie, 0u);
}

TEST_F(DBusKeepAwakeTest, AServiceThatNeverAnswersTimesOut) {
  service->silent = true;
  DBusKeepAwake keepAwake(address, 200ms);
  std::uint32_t cookie = 99;
  EXPECT_EQ(keepAwake.inhibit(QStringLiteral("r"), cookie), DBusKeepAwake::kTimedOut);
  EXPECT_EQ(cookie, 0u);
  keepAwake.uninhibit(cookie);
  EXPECT_TRUE(service->uninhibits().empty());
}

TEST_F(DBusKeepAwakeTest, NoBusAtTheAddress) {
  QTemporaryDir empty;
  DBusKeepAwake keepAwake(QStringLiteral("unix:path=") + empty.path() + QStringLiteral("/no-bus"));
  std::uint32_t cookie = 99;
  EXPECT_EQ(keepAwake.inhibit(QStringLiteral("r"), cookie), DBusKeepAwake::kNoBus);
  EXPECT_EQ(cookie, 0u);
}

// Without DBUS_SESSION_BUS_ADDRESS the session bus is $XDG_RUNTIME_DIR/bus,
// and without that socket there is no bus (nothing is launched).
TEST_F(DBusKeepAwakeTest, SessionBusFoundThroughTheRuntimeFolderOnly) {
  const QString socket = address.section(QStringLiteral("unix:path="), 1).section(u',', 0, 0);
  if (socket.isEmpty()) GTEST_SKIP() << "the private bus is not on a path socket: " << address.toStdString();
  QTemporaryDir runtime;
  ScopedVariable noAddress("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
  ScopedVariable runtimeDir("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  {
    DBusKeepAwake keepAwake;
    std::uint32_t cookie = 0;
    EXPECT_EQ(keepAwake.inhibit(QStringLiteral("r"), cookie), DBusKeepAwake::kNoBus);
  }
  ASSERT_TRUE(QFile::link(socket, runtime.path() + QStringLiteral("/bus")));
  DBusKeepAwake keepAwake;
  std::uint32_t cookie = 0;
  EXPECT_EQ(keepAwake.inhibit(QStringLiteral("r"), cookie), DBusKeepAwake::kSuccess);
  keepAwake.uninhibit(cookie);
  EXPECT_EQ(service->uninhibits(), std::vector<uint>{cookie});
}

TEST_F(DBusKeepAwakeTest, TheAssertionFunctionsUseTheSessionBusInhibitor) {
  ScopedVariable sessionBus("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
  ASSERT_FALSE(noSleepReturn.has_value());
  setNoSleepBackendForTesting(std::nullopt);
  acquireNoSleepAssertion();
  acquireNoSleepAssertion();
  EXPECT_EQ(noSleepReturn, DBusKeepAwake::kSuccess);
  ASSERT_EQ(service->inhibits().size(), 1u);
  EXPECT_EQ(service->inhibits().front().second, QStringLiteral("Unknown reason"));
  const std::uint32_t id = noSleepAssertionID;
  releaseNoSleepAssertion();
  releaseNoSleepAssertion();
  EXPECT_EQ(service->uninhibits(), std::vector<uint>{id});
  EXPECT_FALSE(noSleepReturn.has_value());
}

}  // namespace
}  // namespace ov

#include "DBusKeepAwakeTest.moc"
