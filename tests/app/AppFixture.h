#pragma once

// Shared set-up of the window tests: a sandboxed home with a product bundle,
// the scripted toolkit, both log channels captured, the reference service
// answering the protocol and serving an installer, a fresh manager, the
// application delegate, and the controller under test with its window.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <future>
#include <memory>

#include "app/AppDelegate.h"
#include "app/DownloadWindow.h"
#include "app/StringFormat.h"
#include "app/Strings.h"
#include "app/SystemVersion.h"
#include "app/ViewController.h"
#include "engine/OVDownloadMgr.h"
#include "platform/Bundle.h"
#include "platform/Utility.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LocalService.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"
#include "tests/support/ScriptedToolkit.h"

using namespace ov;

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace apptest {

using namespace std::chrono_literals;
using ov::formatString;

inline constexpr std::int64_t kInstallerSize = 3 * 1048576 + 17;
inline const QString kInstallerName = QStringLiteral("SampleSetup.pkg");

// What the window shows at one moment, for comparing with the state table.
struct WindowState {
  bool startEnabled, startHidden, cancelEnabled, cancelHidden, pauseEnabled;
  QString pauseTitle;
  bool locationHidden;
  QString state, progress;
  int bar;

  bool operator==(const WindowState&) const = default;
  friend void PrintTo(const WindowState& s, std::ostream* out) {
    *out << "{start " << s.startEnabled << s.startHidden << ", cancel " << s.cancelEnabled << s.cancelHidden
         << ", pause " << s.pauseEnabled << " '" << s.pauseTitle.toStdString() << "', location hidden "
         << s.locationHidden << ", '" << s.state.toStdString() << "', '" << s.progress.toStdString()
         << "', bar " << s.bar << "}";
  }
};

inline QString sizeText(double done, double total) {
  return QString::asprintf("%.2f MB of %.2f MB", done, total);
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_ = std::make_unique<ov::test::Sandbox>();
    toolkit_ = std::make_unique<ov::test::ScriptedToolkit>();
    log_ = std::make_unique<ov::test::LogCapture>();
    writeFile(installers_.path() + u'/' + kInstallerName, QByteArray(kInstallerSize, 'i'));
    refservice::ServiceOptions options;
    options.installersFolder = installers_.path().toStdString();
    options.log = [](std::string_view) {};
    service_ = std::make_unique<ov::test::LocalService>(options);

    Connectivity::setReachabilityForTesting([] { return true; });
    DiskSpaceUtility::setFreeSpaceForTesting([](const QString&) { return std::int64_t(50) << 30; });
    DiskSpaceUtility::setTotalSpaceForTesting([](const QString&) { return std::int64_t(500) << 30; });
    setNoSleepBackendForTesting(NoSleepBackend{[](std::uint32_t& id) {
                                                 id = 1;
                                                 return 0;
                                               },
                                               [](std::uint32_t) {}});
    ov::setMacOSVersionForTesting([] { return std::optional<ov::SystemVersion>(); });
    bundle_ = sandbox_->path(QStringLiteral("Sample.app"));
    ov::Bundle::setMainBundlePathForTesting(bundle_);
    writeMakeInfo(
        "[Ureg_Info]\nSR_No=SR-42\nProd_Name=SampleStudio\nDisplayProd_Name=Sample Studio\nProd_Ver=2.1\n"
        "RegVType=Retail\n");

    mgr_ = OVDownloadMgr::makeForTesting();
    mgr_->downloadSessionConfiguration.connectTimeout = 5s;
    mgr_->downloadSessionConfiguration.requestTimeout = 20s;
    mgr_->downloadSessionConfiguration.progressInterval = 20ms;
    delegate_ = std::make_unique<AppDelegate>(*mgr_);
  }

  void TearDown() override {
    service_->setHold(false);
    if (controller_) {
      // A preparation still under way holds the controller; it is deleted
      // (on this thread) once that call has returned.
      QPointer<ViewController> watch(controller_.get());
      controller_.reset();
      ov::test::runEventLoopUntil([&] { return watch.isNull(); }, 60s);
    }
    if (mgr_->fileUrl) mgr_->CancelDownload(false);
    // What the manager posted to the main queue runs while it still lives.
    ov::test::runEventLoopFor(100ms);
    auto ending = std::async(std::launch::async, [mgr = std::move(mgr_)]() mutable { mgr.reset(); });
    ov::test::runEventLoopUntil([&] { return ending.wait_for(0s) == std::future_status::ready; }, 100s);
    delegate_.reset();
    ov::test::runEventLoopFor(1ms);
    releaseNoSleepAssertion();
    setNoSleepBackendForTesting(std::nullopt);
    Connectivity::setReachabilityForTesting({});
    DiskSpaceUtility::setFreeSpaceForTesting({});
    DiskSpaceUtility::setTotalSpaceForTesting({});
    ov::setMacOSVersionForTesting({});
    ov::Bundle::setMainBundlePathForTesting(QString());
    service_.reset();
    log_.reset();
    toolkit_.reset();
    sandbox_.reset();
  }

  static void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
  }
  QString makeInfoPath() const { return bundle_ + QStringLiteral("/Contents/Resources/MakeInfo.ini"); }
  void writeMakeInfo(const QByteArray& text) { writeFile(makeInfoPath(), text); }

  // Builds the controller and its window; viewDidLoad() runs.
  ViewController& load() {
    controller_ = ViewController::create(*mgr_);
    controller_->loadView();
    return *controller_;
  }
  // Loads the window and waits until the download is ready; the countdown
  // ticks only when the test says so.
  void loadReady(double countdownInterval = 3600) {
    load();
    vc().autoCountDownTimerInterval = countdownInterval;
    ASSERT_TRUE(waitFor([&] { return vc().bReadyToDownload; }));
  }
  ViewController& vc() { return *controller_; }

  // Installer bodies stop after `bytes` until released.
  void holdAfter(std::int64_t bytes) {
    service_->updateScenario([bytes](refservice::Scenario& s) {
      s.installer.hold = true;
      s.installer.holdAfterBytes = bytes;
    });
  }
  void delayAnswers(std::chrono::milliseconds delay) {
    service_->updateScenario([delay](refservice::Scenario& s) { s.answerDelay = delay; });
  }

  bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
    return ov::test::runEventLoopUntil(condition, limit);
  }
  bool waitForTerminate() {
    return waitFor([&] { return toolkit_->terminateCount() > 0; });
  }
  // Runs the main loop for a while, so that whatever would still come has come.
  void settle(std::chrono::milliseconds duration = 300ms) { ov::test::runEventLoopFor(duration); }

  WindowState windowState() const {
    const ViewController& c = *controller_;
    return {c.startButton->isEnabled(),  c.startButton->isHidden(),  c.cancelButton->isEnabled(),
            c.cancelButton->isHidden(),  c.pauseButton->isEnabled(), c.pauseButton->text(),
            c.locationLabel->isHidden(), c.stateLabel->text(),       c.progressLabel->text(),
            c.progressIndicator->value()};
  }
  double installerMegabytes() const { return double(kInstallerSize) / 1048576.0; }

  std::vector<refservice::RequestRecord> requestsTo(const std::string& path) const {
    std::vector<refservice::RequestRecord> found;
    for (auto& record : service_->requests())
      if (record.path == path) found.push_back(std::move(record));
    return found;
  }
  int cancelReports() const {
    int count = 0;
    for (const auto& record : requestsTo("/prog/util/downloader/update-status.jsp"))
      count += record.field("status") == "Cancel";
    return count;
  }
  int downloadsBegun() const {
    return static_cast<int>(log_->systemLines().count(u"[OVDownloader]Download begin"_qs));
  }
  std::vector<QString> alertMessages() const {
    std::vector<QString> messages;
    for (const auto& alert : toolkit_->alerts()) messages.push_back(alert.message);
    return messages;
  }

  std::unique_ptr<ov::test::Sandbox> sandbox_;
  std::unique_ptr<ov::test::ScriptedToolkit> toolkit_;
  std::unique_ptr<ov::test::LogCapture> log_;
  QTemporaryDir installers_;
  std::unique_ptr<ov::test::LocalService> service_;
  QString bundle_;
  std::unique_ptr<OVDownloadMgr> mgr_;
  std::unique_ptr<AppDelegate> delegate_;
  std::shared_ptr<ViewController> controller_;
};

}  // namespace apptest
