#include "unattended/UnattendedRun.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <any>
#include <csignal>

#include "frontend/NewDownloaderAddress.h"
#include "frontend/SystemVersion.h"
#include "platform/Dispatch.h"
#include "platform/ThreadCheck.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"
#include "unattended/ProgressReport.h"

namespace ov {

namespace {

constexpr std::chrono::milliseconds kLongestRetryWait{60'000};

QString signalName(int signalNumber) {
  if (signalNumber == SIGINT) return QStringLiteral("SIGINT");
  if (signalNumber == SIGTERM) return QStringLiteral("SIGTERM");
  return QStringLiteral("signal %1").arg(signalNumber);
}

}  // namespace

std::shared_ptr<UnattendedRun> UnattendedRun::create(OVDownloadMgr& manager, Settings settings,
                                                     ProgressReport& report) {
  // The last reference may be dropped by the preparation on a background
  // queue; a QObject with a timer must still go on the main thread.
  return std::shared_ptr<UnattendedRun>(new UnattendedRun(manager, std::move(settings), report),
                                        [](UnattendedRun* run) {
                                          if (isMainThread())
                                            delete run;
                                          else
                                            mainQueue().async([run] { delete run; });
                                        });
}

UnattendedRun::UnattendedRun(OVDownloadMgr& manager, Settings settings, ProgressReport& report)
    : manager_(manager), settings_(std::move(settings)), report_(report), signalPolicy_(manager, this) {
  retryTimer_.setSingleShot(true);
  connect(&retryTimer_, &QTimer::timeout, this, [this] {
    if (auto retry = std::exchange(retry_, nullptr)) retry();
  });
}

UnattendedRun::~UnattendedRun() {
  if (readyObserver_ != 0) NotificationCenter::defaultCenter().removeObserver(readyObserver_);
}

std::optional<ExitCode> UnattendedRun::start() {
  OV_ON_MAIN_THREAD();
  const QString folder = settings_.delivery.folder;
  if (!folder.isEmpty() && !(QDir().mkpath(folder) && QFileInfo(folder).isWritable())) {
    finish(ExitCode::Usage, QStringLiteral("--download-dir '%1' cannot be made or written to").arg(folder));
    return outcome_;
  }
  switch (guard_.acquire(false)) {
    case SingleInstance::Claim::Acquired:
      break;
    case SingleInstance::Claim::HeldElsewhere:
      finish(ExitCode::AnotherInstance,
             QStringLiteral("another OVDownloader is already downloading (it holds %1)")
                 .arg(guard_.lockFilePath()));
      return outcome_;
    case SingleInstance::Claim::Failed:
      finish(ExitCode::DiskSpace,
             QStringLiteral("cannot make the folder %1").arg(QFileInfo(guard_.lockFilePath()).path()));
      return outcome_;
  }
  const auto makeInfo = loadMakeInfo();
  if (!makeInfo) {
    finish(ExitCode::BadMakeInfo, QStringLiteral("cannot read the product from %1").arg(makeInfoPath()));
    return outcome_;
  }
  product_ = productOf(*makeInfo);
  if (productRefusesThisSystem(product_.product)) {
    finish(ExitCode::SystemTooOld,
           product_.displayProductName + QStringLiteral(" needs macOS 10.14 or later"));
    return outcome_;
  }

  manager_.delivery = settings_.delivery;
  const std::weak_ptr<UnattendedRun> weak = weak_from_this();
  readyObserver_ = NotificationCenter::defaultCenter().addObserver(ReadyToDownload, [weak] {
    if (const auto self = weak.lock()) self->handleReadyToDownload();
  });
  submitPreparation();
  return std::nullopt;
}

ExitCode UnattendedRun::exitCode() const {
  // Nothing but the outcomes above ends a run; an application told to quit
  // by someone else has given the download up.
  return outcome_.value_or(ExitCode::Cancelled);
}

void UnattendedRun::onTerminationSignal(int signalNumber) {
  OV_ON_MAIN_THREAD();
  if (toolkit().isTerminating()) return;
  signalPolicy_.onSignal([this, signalNumber] {
    retryTimer_.stop();
    retry_ = nullptr;
    finish(ExitCode::Cancelled, QStringLiteral("cancelled by %1").arg(signalName(signalNumber)));
  });
}

void UnattendedRun::submitPreparation() {
  report_.preparing(product_.displayProductName + u' ' + product_.version);
  // The preparation blocks on the service, so it runs on a utility queue;
  // the manager keeps its delegate weakly and the call holds it.
  globalUtilityQueue().async([weak = weak_from_this(), manager = &manager_, product = product_] {
    const auto self = weak.lock();
    if (!self) return;
    manager->initDownloadMgr(self, product.product, product.sr, product.version, product.versionType);
  });
}

void UnattendedRun::handleReadyToDownload() {
  OV_ON_MAIN_THREAD();
  if (outcome_) return;
  report_.downloading(manager_.i64FileSize.load(), manager_.getDownloadedFileLocation());
  startTransfer();
}

void UnattendedRun::startTransfer() {
  OVDownloadMgr* manager = &manager_;
  globalUtilityQueue().async([manager] { manager->DownloadFile(); });
}

void UnattendedRun::onDownloadProgress(double dProgress) {
  OV_ON_MAIN_THREAD();
  report_.progress(dProgress);
}

void UnattendedRun::onFileCompleteDownload() {
  OV_ON_MAIN_THREAD();
  // The engine opens it (or not, as the delivery says) and terminates next.
  finish(ExitCode::Delivered, manager_.deliveredInstallerPath());
}

void UnattendedRun::onDownloadFailed(ERROR_Code code) {
  OV_ON_MAIN_THREAD();
  // A run that has ended (a signal) tries nothing more.
  if (outcome_) return;
  if (const auto proxy = settings_.proxyFailure ? settings_.proxyFailure() : std::nullopt) {
    // No retry gets past it: the next attempt would be asked the same.
    finish(ExitCode::NoNetwork, *proxy);
    if (code == ERROR_Code::E_DOWNLOAD_FAILED) return cancelWithReportThenTerminate(manager_, this);
    if (code == ERROR_Code::E_SIGN_CHECK_FAILED || code == ERROR_Code::E_SIZE_CHECK_FAILED)
      manager_.CancelDownload(false, nullptr);
    return terminate();
  }
  switch (code) {
    case ERROR_Code::E_NO_CONNECTION:
      return retryOrGiveUp(
          ExitCode::NoNetwork, QStringLiteral("no network connection"), [this] { submitPreparation(); },
          [this] { terminate(); });
    case ERROR_Code::E_DOWNLOAD_FAILED:
      // What arrived before the failure stays: the retry goes on from there.
      return retryOrGiveUp(
          ExitCode::DownloadFailed, QStringLiteral("the download failed"), [this] { startTransfer(); },
          [this] { cancelWithReportThenTerminate(manager_, this); });
    case ERROR_Code::E_SIGN_CHECK_FAILED:
    case ERROR_Code::E_SIZE_CHECK_FAILED:
      // A wrong installer trusts nothing on disk: the retry starts over.
      return retryOrGiveUp(
          ExitCode::Integrity,
          QStringLiteral("the installer's size or digest did not match what the service announced"),
          [this] {
            manager_.CancelDownload(false, nullptr);
            startTransfer();
          },
          [this] {
            manager_.CancelDownload(false, nullptr);
            terminate();
          });
    case ERROR_Code::E_SERVER_ERROR:
      finish(ExitCode::Service,
             QStringLiteral("the download service gave no installer for ") + product_.displayProductName);
      return terminate();
    case ERROR_Code::E_NEED_UPDATE: {
      const auto address = newDownloaderAddress(manager_);
      finish(ExitCode::Service,
             address ? QStringLiteral("the download service requires a newer downloader: ") +
                           address->toString(QUrl::FullyEncoded)
                     : QStringLiteral("the download service requires a newer downloader and named none"));
      return terminate();
    }
    case ERROR_Code::E_LOW_DISK_SPACE:
      finish(ExitCode::DiskSpace, QStringLiteral("not enough free disk space for the download in ") +
                                      QDir::cleanPath(getApplicationSupportDirectory(true).toLocalFile()));
      return terminate();
    case ERROR_Code::E_UNCLEAR:
    case ERROR_Code::E_NO_MD5:
    case ERROR_Code::E_NO_PROMOTE:
      // No part of the engine reports these; the window ignores them too.
      return;
  }
}

void UnattendedRun::retryOrGiveUp(ExitCode failure, const QString& why, std::function<void()> retry,
                                  const std::function<void()>& giveUp) {
  if (retriesUsed_ >= settings_.retries) {
    const QString retries = retriesUsed_ == 1 ? QStringLiteral("retry") : QStringLiteral("retries");
    finish(failure, retriesUsed_ == 0
                        ? why
                        : why + QStringLiteral(", also after %1 %2").arg(retriesUsed_).arg(retries));
    return giveUp();
  }
  ++retriesUsed_;
  const auto doubled = settings_.retryWait * (std::int64_t{1} << std::min(retriesUsed_ - 1, 16));
  const auto wait = std::min(doubled, kLongestRetryWait);
  report_.retrying(retriesUsed_, settings_.retries, wait, failure, why);
  retry_ = std::move(retry);
  retryTimer_.start(wait);
}

void UnattendedRun::finish(ExitCode code, const QString& detail) {
  if (outcome_) return;
  outcome_ = code;
  report_.finish(code, detail);
}

void UnattendedRun::terminate() {
  terminateOVDownloader(std::any(static_cast<QObject*>(this)));
}

}  // namespace ov
