#pragma once

// Shared set-up of the window tests: a sandboxed home with a product bundle,
// the scripted toolkit, both log channels captured, the reference service
// answering the protocol and serving an installer, a fresh manager, the
// application delegate, and the controller under test with its window.

#include <gtest/gtest.h>

#include <future>

#include "app/AppDelegate.h"
#include "app/DownloadWindow.h"
#include "app/StringFormat.h"
#include "app/Strings.h"
#include "app/ViewController.h"
#include "engine/OVDownloadMgr.h"
#include "frontend/SystemVersion.h"
#include "platform/Bundle.h"
#include "platform/Utility.h"
#include "tests/support/ServiceTest.h"

namespace ov::test {

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

// The reference service, seams and manager of ServiceTest, plus a product
// bundle, the application delegate and the controller under test.
class AppTest : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    addInstaller(kInstallerName, kInstallerSize);
    setMacOSVersionForTesting([] { return std::optional<SystemVersion>(); });
    bundle_ = sandbox_->path(QStringLiteral("Sample.app"));
    Bundle::setMainBundlePathForTesting(bundle_);
    writeMakeInfo(
        "[Ureg_Info]\nSR_No=SR-42\nProd_Name=SampleStudio\nDisplayProd_Name=Sample Studio\nProd_Ver=2.1\n"
        "RegVType=Retail\n");
    delegate_ = std::make_unique<AppDelegate>(*mgr_);
  }

  void TearDown() override {
    service_->setHold(false);
    if (controller_) {
      // A preparation still under way holds the controller; it is deleted
      // (on this thread) once that call has returned.
      QPointer<ViewController> watch(controller_.get());
      controller_.reset();
      waitFor([&] { return watch.isNull(); }, 60s);
    }
    if (mgr_->fileUrl) mgr_->CancelDownload(false);
    // What the manager posted to the main queue runs while it still lives; it
    // ends off the main thread, which its work in flight may still need.
    settle(100ms);
    auto ending = std::async(std::launch::async, [mgr = std::move(mgr_)]() mutable { mgr.reset(); });
    waitFor([&] { return ending.wait_for(0s) == std::future_status::ready; }, 100s);
    delegate_.reset();
    settle(1ms);
    setMacOSVersionForTesting({});
    Bundle::setMainBundlePathForTesting(QString());
    ServiceTest::TearDown();
  }

  QString makeInfoPath() const { return bundle_ + QStringLiteral("/Contents/Resources/MakeInfo.ini"); }
  void writeMakeInfo(const QByteArray& text) { writeWholeFile(makeInfoPath(), text); }

  // Builds the controller and its window; viewDidLoad() runs.
  void load() {
    controller_ = ViewController::create(*mgr_);
    controller_->loadView();
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

  WindowState windowState() const {
    const ViewController& c = *controller_;
    return {c.startButton->isEnabled(),  c.startButton->isHidden(),  c.cancelButton->isEnabled(),
            c.cancelButton->isHidden(),  c.pauseButton->isEnabled(), c.pauseButton->text(),
            c.locationLabel->isHidden(), c.stateLabel->text(),       c.progressLabel->text(),
            c.progressIndicator->value()};
  }

  int cancelReports() const {
    return static_cast<int>(std::ranges::count(statusReports(), Report("Cancel", "")));
  }
  int downloadsBegun() const {
    return static_cast<int>(log_->systemLines().count(u"[OVDownloader]Download begin"_qs));
  }
  std::vector<QString> alertMessages() const {
    std::vector<QString> messages;
    for (const auto& alert : toolkit_->alerts()) messages.push_back(alert.message);
    return messages;
  }

  QString bundle_;
  std::unique_ptr<AppDelegate> delegate_;
  std::shared_ptr<ViewController> controller_;
};

}  // namespace ov::test
