#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "engine/DownloadModel.h"
#include "engine/OVDownloadMgr.h"
#include "frontend/ExitCode.h"
#include "frontend/ProductInfo.h"
#include "frontend/QuitPolicy.h"
#include "frontend/SingleInstance.h"
#include "platform/NotificationCenter.h"

namespace ov {

class ProgressReport;

// The unattended front end: the window's download without the window. It is
// the manager's delegate (DownloadProxy) and observes "ReadyToDownload" as the
// window does, starts the transfer at once instead of counting down, and gives
// the answers a person would give in the dialogs, fixed:
//   no network, a failed transfer, a wrong installer (the dialogs that offer a
//     retry): retried, waiting `retryWait` and twice as long each next time
//     (60 s at most), `retries` times in all; then given up as the window's
//     other button would (a failed transfer with the "Cancel" report);
//   every other failure: ended at once (a demanded update prints its link);
//   a proxy that wants a user name and password the run does not have (or
//     refused the one it had): ended at once with the network's exit code,
//     whatever failed because of it.
// A run ends through terminateOVDownloader(), like the window; exitCode()
// then says how. SIGTERM and SIGINT follow the signal policy
// (frontend/QuitPolicy.h).
//
// Create it with create(); the manager holds it weakly, and it is always
// destroyed on the main thread, where all of it runs.
class UnattendedRun : public QObject,
                      public DownloadProxy,
                      public std::enable_shared_from_this<UnattendedRun> {
  Q_OBJECT

 public:
  struct Settings {
    int retries = 3;
    std::chrono::milliseconds retryWait{2000};
    OVDownloadMgr::Delivery delivery;
    // Why a proxy could not be passed, once one could not (main thread).
    std::function<std::optional<QString>()> proxyFailure;
  };

  static std::shared_ptr<UnattendedRun> create(OVDownloadMgr& manager, Settings settings,
                                               ProgressReport& report);
  ~UnattendedRun() override;

  // Everything up to the first request: the delivery folder, the one-copy
  // guard, the product from MakeInfo.ini and the system check. Answers the
  // exit code when the run ends there (reported, nothing sent); otherwise the
  // preparation is under way and the run ends by terminateOVDownloader().
  std::optional<ExitCode> start();

  // How the run ended.
  ExitCode exitCode() const;
  // Gives the one-copy lock up, as the program ends.
  void releaseGuard() { guard_.release(); }

  // SIGTERM or SIGINT arrived (TerminationSignals::received).
  void onTerminationSignal(int signalNumber);

  // DownloadProxy.
  void onDownloadProgress(double dProgress) override;
  void onFileCompleteDownload() override;
  void onDownloadFailed(ERROR_Code code) override;
  // Nobody to ask: no.
  bool checkRetryDownload() override { return false; }

 private:
  UnattendedRun(OVDownloadMgr& manager, Settings settings, ProgressReport& report);

  void submitPreparation();
  void handleReadyToDownload();
  void startTransfer();
  // A failure the window offers to retry: `retry` after the back-off while
  // retries are left, else the outcome `failure` and `giveUp`.
  void retryOrGiveUp(ExitCode failure, const QString& why, std::function<void()> retry,
                     const std::function<void()>& giveUp);
  // Records and reports the outcome; the first one stands.
  void finish(ExitCode code, const QString& detail);
  void terminate();

  OVDownloadMgr& manager_;
  const Settings settings_;
  ProgressReport& report_;
  SingleInstance guard_;
  SignalPolicy signalPolicy_;
  ProductInfo product_;
  std::optional<ExitCode> outcome_;
  int retriesUsed_ = 0;
  QTimer retryTimer_;
  std::function<void()> retry_;
  NotificationCenter::Token readyObserver_ = 0;
};

}  // namespace ov
