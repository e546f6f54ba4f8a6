#include "app/ViewController.h"

#include "app/AppDelegate.h"
#include "app/DownloadWindow.h"
#include "engine/OVDownloadMgr.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"
#include "ui_DownloadWindow.h"

namespace ov {

std::shared_ptr<ViewController> ViewController::create(OVDownloadMgr& manager) {
  // The last reference may be dropped by a task on a background queue; a
  // QObject with widgets must still be destroyed on the main thread.
  return std::shared_ptr<ViewController>(new ViewController(manager), [](ViewController* controller) {
    if (isMainThread())
      delete controller;
    else
      mainQueue().async([controller] { delete controller; });
  });
}

std::shared_ptr<ViewController> ViewController::create() {
  return create(OVDownloadMgr::shared());
}

ViewController::ViewController(OVDownloadMgr& manager) : manager_(manager) {}

ViewController::~ViewController() {
  // The program's controller lives until the process ends; one that goes
  // earlier (in tests) must not be called by a later notification.
  auto& center = NotificationCenter::defaultCenter();
  if (readyObserver_ != 0) center.removeObserver(readyObserver_);
  if (quitObserver_ != 0) center.removeObserver(quitObserver_);
  stopCountDown();
}

void ViewController::loadView() {
  window_ = std::make_unique<DownloadWindow>();
  Ui::DownloadWindow& ui = *window_->ui;
  progressLabel = ui.progressLabel;
  cancelButton = ui.cancelButton;
  startButton = ui.startButton;
  progressIndicator = ui.progressIndicator;
  pauseButton = ui.pauseButton;
  titleLabel = ui.titleLabel;
  stateLabel = ui.stateLabel;
  productLabel = ui.productLabel;
  locationLabel = ui.locationLabel;

  connect(ui.startButton, &QPushButton::clicked, this, [this] { onStartBtnClicked(startButton); });
  connect(ui.cancelButton, &QPushButton::clicked, this, [this] { onCancelBtnClicked(cancelButton); });
  connect(ui.pauseButton, &QPushButton::clicked, this, [this] { onPauseBtnClicked(pauseButton); });

  window_->shouldClose = [this] { return windowShouldClose(); };
  window_->willClose = [this] { windowWillClose(); };
  window_->didAppear = [this] { viewDidAppear(); };

  viewDidLoad();
}

DownloadWindow* ViewController::window() const {
  return window_.get();
}

void ViewController::showWindow() {
  if (!window_) return;
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void ViewController::viewDidAppear() {
  if (appeared_) return;
  appeared_ = true;
  if (AppDelegate* delegate = AppDelegate::current()) delegate->mainVC = weak_from_this();
}

bool ViewController::windowShouldClose() {
  cancelDownload();
  return false;
}

void ViewController::windowWillClose() {
  toolkit().stopModal();
}

void ViewController::handleQuitOVDownloader() {
  outputLine(QStringLiteral("Receive QuitOVDownloader notification"));
  cancelDownload();
}

void ViewController::onStartBtnClicked(QObject*) {
  startDownload();
}

void ViewController::onCancelBtnClicked(QObject*) {
  cancelDownload();
}

void ViewController::terminate() {
  terminateOVDownloader(std::any(static_cast<QObject*>(this)));
}

}  // namespace ov
