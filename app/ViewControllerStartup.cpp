// Start-up and countdown: from the loaded window to a download that is ready
// and counting down to its start.

#include <QStringList>
#include <exception>

#include "app/DownloadWindow.h"
#include "app/StringFormat.h"
#include "app/Strings.h"
#include "app/ViewController.h"
#include "engine/OVDownloadMgr.h"
#include "frontend/SystemVersion.h"
#include "ini/IniReader.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"

namespace ov {

namespace {

const QString kSection = QStringLiteral("Ureg_Info");
// Products that refuse to run on a system older than 10.14 (case-sensitive).
const QString kModernOnlyProduct = QStringLiteral("BrindleCutter");

}  // namespace

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

  if (loadMakeInfoINI()) {
    sr = configMakeInfo->get(kSection, QStringLiteral("SR_No"));
    product = configMakeInfo->get(kSection, QStringLiteral("Prod_Name"));
    displayProductName = configMakeInfo->get(kSection, QStringLiteral("DisplayProd_Name"));
    version = configMakeInfo->get(kSection, QStringLiteral("Prod_Ver"));
    versionType = configMakeInfo->get(kSection, QStringLiteral("RegVType"));
    systemLog(QStringLiteral("[OVDownloader]MakeInfo.ini content : SR = ") + *sr +
              QStringLiteral(", Product = ") + *product + QStringLiteral(", DisplayProductName = ") +
              *displayProductName + QStringLiteral(", Version = ") + *version +
              QStringLiteral(", VersionType = ") + *versionType);
  } else {
    // No product name is known here; the bundle's own name stands in for it.
    const QString name = Bundle::main().infoString(QStringLiteral("CFBundleName")).value_or(QString());
    runAlert(formatString(IDS_SERVER_ERROR, {name}), {IDS_BTNCAPTION_OK});
    terminate();
    return;
  }

  if (isModernSystem(runningMacOSVersion())) {
    outputLine(QStringLiteral("MacOS is 10.14 or above"));
  } else {
    outputLine(QStringLiteral("MacOS is 10.13"));
    if (product->contains(kModernOnlyProduct, Qt::CaseSensitive)) {
      runAlert(formatString(IDS_OS_ERROR, {*displayProductName}), {IDS_BTNCAPTION_OK});
      terminate();
      return;
    }
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
  const QString path = Bundle::main().bundlePath() + QStringLiteral("/Contents/Resources/MakeInfo.ini");
  try {
    Config parsed = parseINI(hanldeSourceSession(readTextFile(path)));
    configMakeInfo = std::move(parsed);
  } catch (const std::exception&) {
    systemLog(QStringLiteral("[OVDownloader]failed to load MakeInfo.ini"));
    return false;
  }
  systemLog(QStringLiteral("[OVDownloader]load MakeInfo.ini done."));
  return true;
}

QString ViewController::hanldeSourceSession(const QString& source) {
  QString result;
  for (const QString& piece : source.split(u'/', Qt::SkipEmptyParts)) {
    result += piece;
    result += u'\n';
  }
  return result;
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
