#include "frontend/QuitPolicy.h"

#include <any>

#include "engine/OVDownloadMgr.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"

namespace ov {

void cancelWithReportThenTerminate(OVDownloadMgr& manager, QObject* sender) {
  OV_ON_MAIN_THREAD();
  // The handler runs on a background queue once the report has returned; the
  // exit itself belongs on the main thread.
  manager.CancelDownload(true, [guard = QPointer<QObject>(sender)] {
    mainQueue().async([guard] {
      if (guard && !toolkit().isTerminating()) terminateOVDownloader(std::any(guard.data()));
    });
  });
}

SignalPolicy::SignalPolicy(OVDownloadMgr& manager, QObject* sender) : manager_(manager), sender_(sender) {
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, [this] {
    if (!toolkit().isTerminating()) terminateOVDownloader(std::any(sender_.data()));
  });
}

void SignalPolicy::onSignal(const std::function<void()>& beforeCancel) {
  OV_ON_MAIN_THREAD();
  if (received_) {
    terminateOVDownloader(std::any(sender_.data()));
    return;
  }
  received_ = true;
  outputLine(QStringLiteral("Termination signal: cancelling the download"));
  if (beforeCancel) beforeCancel();
  cancelWithReportThenTerminate(manager_, sender_);
  deadline_.start(reportWait);
}

}  // namespace ov
