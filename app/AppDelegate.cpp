#include "app/AppDelegate.h"

#include <QApplication>
#include <atomic>

#include "app/DarkAppearance.h"
#include "app/DownloadWindow.h"
#include "app/LeaveConfirmation.h"
#include "app/ViewController.h"
#include "engine/OVDownloadMgr.h"
#include "frontend/SystemVersion.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"

namespace ov {

namespace {

std::atomic<AppDelegate*> currentDelegate{nullptr};

}  // namespace

AppDelegate::AppDelegate(OVDownloadMgr& manager, QObject* parent)
    : QObject(parent), manager_(manager), signalPolicy_(manager, this) {
  currentDelegate.store(this);
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
  if (!confirmLeaving()) return TerminateReply::TerminateCancel;
  // The alert's own window is gone once it has been answered.
  hideMainWindow();
  cancelWithReportThenTerminate(manager_, this);
  return TerminateReply::TerminateCancel;
}

void AppDelegate::terminateOnSignal() {
  OV_ON_MAIN_THREAD();
  if (bIsTerminating) return;
  signalPolicy_.onSignal([this] {
    toolkit().stopModal();
    hideMainWindow();
  });
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

}  // namespace ov
