#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>

namespace ov {

class OVDownloadMgr;

// How every front end gives up a download and ends the program.

// Cancels the download with the "Cancel" report and, once that request has
// finished (answered or not), calls terminateOVDownloader() with `sender` on
// the main thread; not when `sender` has gone by then or the program is
// already terminating (a signal's deadline came first). Main thread.
void cancelWithReportThenTerminate(OVDownloadMgr& manager, QObject* sender);

// What SIGTERM and SIGINT do (see platform/TerminationSignals.h for how they
// arrive). Nobody can be asked: the first signal cancels with the report and
// terminates once it has returned or `reportWait` has passed, whichever comes
// first, since a silent service must not keep alive a program told to end. A
// second signal terminates at once. Main thread.
class SignalPolicy : public QObject {
  Q_OBJECT

 public:
  // `sender` is what terminateOVDownloader() is called with; it outlives the policy.
  SignalPolicy(OVDownloadMgr& manager, QObject* sender);

  // One signal. On the first, `beforeCancel` runs before anything else: the
  // front end's own part (the window orders itself out).
  void onSignal(const std::function<void()>& beforeCancel = nullptr);

  bool received() const { return received_; }
  std::chrono::milliseconds reportWait{std::chrono::seconds(4)};

 private:
  OVDownloadMgr& manager_;
  QPointer<QObject> sender_;
  QTimer deadline_;
  bool received_ = false;
};

}  // namespace ov
