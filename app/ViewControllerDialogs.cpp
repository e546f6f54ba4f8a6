// Failure dialogs: one dialog per failure kind, and what each answer does
// (prepare again, restart the transfer, fetch the new downloader, or quit).

#include "app/DownloadWindow.h"
#include "app/StringFormat.h"
#include "app/Strings.h"
#include "app/ViewController.h"
#include "engine/OVDownloadMgr.h"
#include "frontend/NewDownloaderAddress.h"
#include "frontend/QuitPolicy.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"

namespace ov {

int ViewController::runAlert(const QString& message, std::initializer_list<QString> buttons) {
  Alert alert;
  alert.message = message;
  alert.style = AlertStyle::Warning;
  alert.buttons.assign(buttons.begin(), buttons.end());
  return toolkit().runModalAlert(alert);
}

void ViewController::onDownloadFailed(ERROR_Code code) {
  OV_ON_MAIN_THREAD();
  // Every kind with a dialog ends the transfer the dock shows, at least until a retry.
  const bool ignored =
      code == ERROR_Code::E_UNCLEAR || code == ERROR_Code::E_NO_MD5 || code == ERROR_Code::E_NO_PROMOTE;
  if (window_ && !ignored) window_->setTask(DownloadWindow::Task::Ended);
  switch (code) {
    case ERROR_Code::E_NO_CONNECTION:
      return handleNoConnection();
    case ERROR_Code::E_SERVER_ERROR:
      return handleServerError();
    case ERROR_Code::E_NEED_UPDATE:
      return handleNeedUpdate();
    case ERROR_Code::E_DOWNLOAD_FAILED:
      return handleDownloadFailed();
    case ERROR_Code::E_LOW_DISK_SPACE:
      return handleLowDiskSpace();
    case ERROR_Code::E_SIGN_CHECK_FAILED:
      return handleSignCheckFailed();
    case ERROR_Code::E_SIZE_CHECK_FAILED:
      return handleSizeCheckFailed();
    case ERROR_Code::E_UNCLEAR:
    case ERROR_Code::E_NO_MD5:
    case ERROR_Code::E_NO_PROMOTE:
      return;
  }
}

bool ViewController::checkRetryDownload() {
  // Not from the string table: this question is never translated.
  return runAlert(QStringLiteral("Retry download?"), {IDS_BTNCAPTION_OK, IDS_BTNCAPTION_CANCEL}) == 0;
}

// In every handler an answer of -1 (the alert ended without one, because the
// application is already on its way out) starts nothing.

void ViewController::handleNoConnection() {
  switch (runAlert(IDS_INTERNET_CONNECTION, {IDS_BTNCAPTION_RETRY, IDS_BTNCAPTION_CANCEL})) {
    case 0:
      // The window stays in its preparing state until the next readiness.
      return submitPreparation();
    case 1:
      return terminate();
  }
}

void ViewController::handleServerError() {
  const QString message = formatString(IDS_SERVER_ERROR, {displayProductName.value_or(QString())});
  if (runAlert(message, {IDS_BTNCAPTION_OK}) == 0) terminate();
}

void ViewController::handleNeedUpdate() {
  const int answer = runAlert(IDS_NEED_UPDATE, {IDS_BTNCAPTION_UPDATE, IDS_BTNCAPTION_CLOSE});
  if (answer == 0) {
    // Whether the opener accepted it does not change what follows.
    if (const auto address = newDownloaderAddress(manager_)) toolkit().openWithDefaultHandler(*address);
  }
  if (answer == 0 || answer == 1) terminate();
}

void ViewController::handleDownloadFailed() {
  switch (runAlert(IDS_INTERNET_CONNECTION, {IDS_BTNCAPTION_RETRY, IDS_BTNCAPTION_CANCEL})) {
    case 0:
      // What arrived before the failure stays: the transfer goes on from there.
      setPauseButtonTitle(IDS_BTNCAPTION_PAUSE);
      return startDownload();
    case 1:
      hideOwnWindow();
      return cancelWithReportThenTerminate(manager_, this);
  }
}

void ViewController::handleLowDiskSpace() {
  if (runAlert(IDS_LOW_DISCSPACE, {IDS_BTNCAPTION_OK}) == 0) terminate();
}

void ViewController::handleSignCheckFailed() {
  switch (runAlert(IDS_DOWNLOAD_ERROR, {IDS_BTNCAPTION_YES, IDS_BTNCAPTION_NO})) {
    case 0:
      return restartDownload();
    case 1:
      // A failed installer check gives up at once, without a report.
      hideOwnWindow();
      manager_.CancelDownload(false, nullptr);
      return terminate();
  }
}

void ViewController::handleSizeCheckFailed() {
  handleSignCheckFailed();
}

// A failed installer check trusts nothing on disk: everything goes, and the
// transfer starts over.
void ViewController::restartDownload() {
  manager_.CancelDownload(false, nullptr);
  setPauseButtonTitle(IDS_BTNCAPTION_PAUSE);
  startDownload();
}

}  // namespace ov
