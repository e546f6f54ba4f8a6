// Start-up and countdown: from the loaded window to a download that is ready
// and counting down to its start.

#include "app/DownloadWindow.h"
#include "app/StringFormat.h"
#include "app/Strings.h"
#include "app/ViewController.h"
#include "engine/OVDownloadMgr.h"
#include "frontend/ProductInfo.h"
#include "frontend/SystemVersion.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"

namespace ov {

void ViewController::viewDidLoad() {
  auto& center = NotificationCenter::defaultCenter();
  const std::weak_ptr<ViewController> weak = weak_from_this();
  readyObserver_ = center.addObserver(ReadyToDownload, [weak] {
    if (const auto self = weak.lock()) self->handleReadyToDownload();
  });
  quitObserver_ = center.addObserver(QuitOVDownloader, [weak] {
    if (const auto self = weak.lock()) self->handleQuitOVDownloader();
  });

  showSizeProgress(0.0, 0.0);
  progressIndicator->setValue(0);
  startButton->setEnabled(false);
  cancelButton->setEnabled(false);
  cancelButton->setHidden(true);
  pauseButton->setEnabled(false);
  locationLabel->setHidden(true);

  if (!loadMakeInfoINI()) {
    // No product name is known here; the bundle's own name stands in for it.
    const QString name = Bundle::main().infoString(QStringLiteral("CFBundleName")).value_or(QString());
    runAlert(formatString(IDS_SERVER_ERROR, {name}), {IDS_BTNCAPTION_OK});
    terminate();
    return;
  }
  const ProductInfo info = productOf(*configMakeInfo);
  sr = info.sr;
  product = info.product;
  displayProductName = info.displayProductName;
  version = info.version;
  versionType = info.versionType;

  if (productRefusesThisSystem(*product)) {
    runAlert(formatString(IDS_OS_ERROR, {*displayProductName}), {IDS_BTNCAPTION_OK});
    terminate();
    return;
  }

  const QString title = formatString(IDS_CAPTION_BAR_TITLE, {*displayProductName});
  titleLabel->setText(title);
  if (window() != nullptr) window()->setWindowTitle(title);
  setStateText(IIDS_PREPARE_STATE);
  productLabel->setText(*displayProductName + u' ' + *version);

  submitPreparation();
}

void ViewController::submitPreparation() {
  // The preparation blocks on the service; it runs on a utility queue and
  // reports back on the main queue. The controller is passed as a shared
  // pointer for the call only: the manager keeps it weakly.
  std::weak_ptr<ViewController> weak = weak_from_this();
  OVDownloadMgr* manager = &manager_;
  globalUtilityQueue().async([weak = std::move(weak), manager, product = product.value_or(QString()),
                              sr = sr.value_or(QString()), version = version.value_or(QString()),
                              versionType = versionType.value_or(QString())] {
    const auto self = weak.lock();
    if (!self) return;
    manager->initDownloadMgr(self, product, sr, version, versionType);
  });
}

bool ViewController::loadMakeInfoINI() {
  auto loaded = loadMakeInfo();
  if (!loaded) return false;
  configMakeInfo = std::move(loaded);
  return true;
}

QString ViewController::hanldeSourceSession(const QString& source) {
  return makeInfoLines(source);
}

void ViewController::handleReadyToDownload() {
  OV_ON_MAIN_THREAD();
  outputLine(QStringLiteral("Receive ReadyToDownload notification"));
  i64FileSize = manager_.i64FileSize.load();
  fileLocation = manager_.getDownloadedFileLocation();
  bReadyToDownload = true;

  startButton->setEnabled(true);
  setStateText(formatString(IDS_COUNT_AUTO_DOWNLOAD, {currentCount}));
  locationLabel->setText(fileLocation);
  locationLabel->setHidden(false);
  showSizeProgress(0.0, totalMegabytes());
  // Keyboard users land on the one thing there is to do.
  if (startButton->isVisible()) startButton->setFocus(Qt::OtherFocusReason);

  stopCountDown();
  const std::weak_ptr<ViewController> weak = weak_from_this();
  autoCountDownTimer = toolkit().scheduleRepeatingTimer(autoCountDownTimerInterval, [weak] {
    if (const auto self = weak.lock()) self->onAutoCountDownTimer();
  });
}

void ViewController::onAutoCountDownTimer() {
  --currentCount;
  if (currentCount == 10 || currentCount <= 5)
    setStateText(formatString(IDS_COUNT_AUTO_DOWNLOAD, {currentCount}));
  if (currentCount == 0) startDownload();
}

void ViewController::stopCountDown() {
  if (!autoCountDownTimer) return;
  autoCountDownTimer->invalidate();
  autoCountDownTimer.reset();
}

}  // namespace ov
