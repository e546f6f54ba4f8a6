#include "app/AppDelegate.h"

#include <QApplication>
#include <any>
#include <atomic>

#include "app/DarkAppearance.h"
#include "app/DownloadWindow.h"
#include "app/Strings.h"
#include "app/ViewController.h"
#include "engine/OVDownloadMgr.h"
#include "frontend/SystemVersion.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"

namespace ov {

namespace {

std::atomic<AppDelegate*> currentDelegate{nullptr};

}  // namespace

AppDelegate::AppDelegate(OVDownloadMgr& manager, QObject* parent) : QObject(parent), manager_(manager) {
  currentDelegate.store(this);
  signalDeadline_.setSingleShot(true);
  connect(&signalDeadline_, &QTimer::timeout, this, [this] { terminateOVDownloader(std::any(this)); });
}

AppDelegate::AppDelegate() : AppDelegate(OVDownloadMgr::shared()) {}

AppDelegate::~AppDelegate() {
  AppDelegate* self = this;
  currentDelegate.compare_exchange_strong(self, nullptr);
}

AppDelegate* AppDelegate::current() {
  return currentDelegate.load();
}

void AppDelegate::applicationWillFinishLaunching() {
  if (!isModernSystem(runningMacOSVersion())) return;
  if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
    applyDarkAppearance(*application);
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate() {
  OV_ON_MAIN_THREAD();
  if (bIsTerminating) return TerminateReply::TerminateNow;

  Alert alert;
  alert.message = IDS_LEAVEAPP;
  alert.style = AlertStyle::Warning;
  alert.buttons = {IDS_BTNCAPTION_NO, IDS_BTNCAPTION_YES};
  const int answer = toolkit().runModalAlert(alert);
  // Only the Yes button gives up the download. An alert that ended without
  // an answer (the application already on its way out) changes nothing.
  if (answer != 1) return TerminateReply::TerminateCancel;

  // The alert's own window is gone once runModalAlert() has returned.
  hideMainWindow();
  cancelAndTerminateAfterReport();
  return TerminateReply::TerminateCancel;
}

void AppDelegate::terminateOnSignal() {
  OV_ON_MAIN_THREAD();
  if (bIsTerminating) return;
  if (signalReceived_) {
    terminateOVDownloader(std::any(this));
    return;
  }
  signalReceived_ = true;
  outputLine(QStringLiteral("Termination signal: cancelling the download"));
  toolkit().stopModal();
  hideMainWindow();
  cancelAndTerminateAfterReport();
  // A silent service must not keep a process that was told to end alive.
  signalDeadline_.start(signalReportWait);
}

void AppDelegate::onQuitOVDownloader(QObject* sender) {
  static_cast<void>(sender);
  outputLine(QStringLiteral("onQuitOVDownloader"));
  NotificationCenter::defaultCenter().post(QuitOVDownloader);
}

void AppDelegate::hideMainWindow() {
  if (const auto controller = mainVC.lock()) {
    if (QObject* window = controller->window()) toolkit().hideWindow(window);
  }
}

void AppDelegate::cancelAndTerminateAfterReport() {
  // The handler runs on a background queue once the report has returned; the
  // exit itself belongs on the main thread.
  QPointer<AppDelegate> self(this);
  manager_.CancelDownload(true, [self]() mutable {
    mainQueue().async([self = std::move(self)] {
      if (self && !self->bIsTerminating) terminateOVDownloader(std::any(self.data()));
    });
  });
}

}  // namespace ov
