// The window while a download runs: start, pause and resume, the cancel flow,
// progress and completion.

#include <algorithm>
#include <cmath>

#include "app/DownloadWindow.h"
#include "app/LeaveConfirmation.h"
#include "app/StringFormat.h"
#include "app/Strings.h"
#include "app/ViewController.h"
#include "engine/OVDownloadMgr.h"
#include "frontend/QuitPolicy.h"
#include "platform/Dispatch.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"

namespace ov {

namespace {

constexpr double kBytesPerMegabyte = 1048576.0;

}  // namespace

void ViewController::startDownload() {
  OV_ON_MAIN_THREAD();
  stopCountDown();
  OVDownloadMgr* manager = &manager_;
  globalUtilityQueue().async([manager] { manager->DownloadFile(); });

  const bool startHadFocus = startButton->hasFocus();
  startButton->setEnabled(false);
  startButton->setHidden(true);
  cancelButton->setHidden(false);
  cancelButton->setEnabled(true);
  pauseButton->setEnabled(true);
  if (startHadFocus) pauseButton->setFocus(Qt::OtherFocusReason);
  setStateText(IDS_DOWNLOAD_STATE);
  if (window_) window_->setTask(DownloadWindow::Task::Running);
}

void ViewController::onPauseBtnClicked(QObject*) {
  if (manager_.bPause.load()) {
    setPauseButtonTitle(IDS_BTNCAPTION_PAUSE);
    manager_.ResumeDownload();
  } else {
    setPauseButtonTitle(IDS_BTNCAPTION_RESUME);
    manager_.PauseDownload();
  }
  if (window_)
    window_->setTask(manager_.bPause.load() ? DownloadWindow::Task::Paused : DownloadWindow::Task::Running);
}

void ViewController::cancelDownload() {
  // No, or an alert that ended without an answer: everything goes on.
  if (!confirmLeaving()) return;

  hideOwnWindow();
  stopCountDown();
  cancelWithReportThenTerminate(manager_, this);
  setPauseButtonTitle(IDS_BTNCAPTION_PAUSE);
  startButton->setEnabled(true);
  cancelButton->setEnabled(false);
  pauseButton->setEnabled(false);
}

void ViewController::hideOwnWindow() {
  // The alert's own window is already gone when runModalAlert() returns.
  if (window_) toolkit().hideWindow(window_.get());
}

void ViewController::onDownloadProgress(double dProgress) {
  OV_ON_MAIN_THREAD();
  // The engine's fraction is trusted for neither range nor finiteness.
  const double fraction = std::isfinite(dProgress) ? std::clamp(dProgress, 0.0, 1.0) : 0.0;
  const double total = totalMegabytes();
  showSizeProgress(total * fraction, total);
  progressIndicator->setValue(static_cast<int>(std::lround(fraction * 100.0)));
  if (window_) window_->setTaskProgress(fraction);
}

void ViewController::onFileCompleteDownload() {
  OV_ON_MAIN_THREAD();
  const double total = totalMegabytes();
  showSizeProgress(total, total);
  progressIndicator->setValue(100);
  setStateText(IDS_COMPLETE_STATE);
  if (window_) window_->endTask(IDS_COMPLETE_STATE);
}

double ViewController::totalMegabytes() const {
  return static_cast<double>(i64FileSize) / kBytesPerMegabyte;
}

void ViewController::showSizeProgress(double doneMegabytes, double totalMegabytes) {
  progressLabel->setText(formatString(IDS_SIZE_PROGRESS, {doneMegabytes, totalMegabytes}));
}

void ViewController::setPauseButtonTitle(const QString& title) {
  pauseButton->setText(title);
  // The button's accessible name follows its title: it names what it will do.
  pauseButton->setAccessibleName(title);
}

void ViewController::setStateText(const QString& text) {
  stateLabel->setText(text);
  if (window_) window_->announceState(text);
}

}  // namespace ov
