#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

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
    busFolder = new QTemporaryDir;
    const QString addressFile = busFolder->filePath(QStringLiteral("address"));
    busProcess = new test::ChildProcess(QStringLiteral("dbus-daemon"),
                                        {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                         QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")},
                                        addressFile);
    if (!busProcess->started()) return;
    QFile file(addressFile);
    for (int i = 0; i < 500 && address.isEmpty(); ++i) {
      std::this_thread::sleep_for(10ms);
      if (file.open(QIODevice::ReadOnly)) {
        const QByteArray text = file.readAll();
        file.close();
        if (text.endsWith('\n')) address = QString::fromUtf8(text.trimmed());
      }
    }
    if (address.isEmpty()) return;

    // The service's thread is a plain std::thread running its own event loop:
    // its start, its end and the ready signal are then all visible to
    // ThreadSanitizer, which QThread's would not be.
    Semaphore ready;
    bool registered = false;
    serviceThread = new std::thread([&ready, &registered] {
      // Never destroyed: QtDBus finishes closing its connection on its own
      // thread and may still look at the object then.
      auto& fake = *new FakeScreenSaver;
      QEventLoop loop;
      QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("fake-screensaver"));
      registered = bus.isConnected() &&
                   bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &fake,
                                      QDBusConnection::ExportAllSlots) &&
                   bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
      service = &fake;
      const bool serve = registered;  // `registered` lives only until the signal
      ready.signal();
      // A tick wakes the loop now and then, so that the stop flag is seen.
      QTimer tick;
      tick.start(10);
      while (serve && !stopService) loop.processEvents(QEventLoop::WaitForMoreEvents);
      bus.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
      bus.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
      QDBusConnection::disconnectFromBus(QStringLiteral("fake-screensaver"));
    });
    ready.wait();
    if (!registered) {
      serviceThread->join();
      delete serviceThread;
      serviceThread = nullptr;
      address.clear();
    }
  }

  static void TearDownTestSuite() {
    if (serviceThread != nullptr) {
      stopService = true;
      serviceThread->join();
    }
    delete serviceThread;
    delete busProcess;
    delete busFolder;
    serviceThread = nullptr;
    busProcess = nullptr;
    busFolder = nullptr;
  }

  void SetUp() override {
    if (address.isEmpty()) GTEST_SKIP() << "no private dbus-daemon could be started";
    service->clear();
    service->silent = false;
  }

  static QDBusConnection serviceBus() { return QDBusConnection(QStringLiteral("fake-screensaver")); }

  static inline QTemporaryDir* busFolder = nullptr;
  static inline test::ChildProcess* busProcess = nullptr;
  static inline std::thread* serviceThread = nullptr;
  static inline std::atomic<bool> stopService{false};
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
