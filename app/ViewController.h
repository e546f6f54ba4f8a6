#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "engine/DownloadModel.h"
#include "ini/Config.h"
#include "platform/NotificationCenter.h"
#include "platform/RepeatingTimer.h"

namespace ov {

class DownloadWindow;
class OVDownloadMgr;

// The controller of the one download window. It reads the product from the
// bundle's MakeInfo.ini, hands it to the download manager to prepare, counts
// down to the start, drives start, pause, resume and cancel, shows progress
// and completion, and answers every failure with its dialog. It is the
// manager's delegate (DownloadProxy), held by the manager weakly.
//
// Create it with create(); it lives in a shared_ptr (the manager's weak hold
// needs one) and is always destroyed on the main thread. Every member runs on
// the main thread: the toolkit calls the window events, the manager calls the
// DownloadProxy operations there, and notifications arrive from the main queue.
class ViewController : public QObject,
                       public DownloadProxy,
                       public std::enable_shared_from_this<ViewController> {
  Q_OBJECT

 public:
  // `manager` is the download this window drives (the shared one in the program).
  static std::shared_ptr<ViewController> create(OVDownloadMgr& manager);
  static std::shared_ptr<ViewController> create();
  ~ViewController() override;

  // --- Fields, in declared order ---------------------------------------------
  // Outlets: the window's controls, owned by the window.
  QPointer<QLabel> progressLabel;
  QPointer<QPushButton> cancelButton;
  QPointer<QPushButton> startButton;
  QPointer<QProgressBar> progressIndicator;  // 0 to 100
  QPointer<QPushButton> pauseButton;
  QPointer<QLabel> titleLabel;
  QPointer<QLabel> stateLabel;
  QPointer<QLabel> productLabel;
  QPointer<QLabel> locationLabel;
  // From MakeInfo.ini, section "Ureg_Info".
  std::optional<Config> configMakeInfo;
  std::optional<QString> product;             // Prod_Name
  std::optional<QString> displayProductName;  // DisplayProd_Name
  std::optional<QString> version;             // Prod_Ver
  std::optional<QString> versionType;         // RegVType
  std::optional<QString> sr;                  // SR_No
  // From the manager once the download is ready.
  std::int64_t i64FileSize = 0;
  QString fileLocation;
  // The countdown to the automatic start.
  std::shared_ptr<RepeatingTimer> autoCountDownTimer;
  double autoCountDownTimerInterval = 1.0;  // seconds
  int currentCount = 15;                    // seconds left
  bool bReadyToDownload = false;

  // --- Window ----------------------------------------------------------------
  // Builds the window from its form, connects the outlets and actions, then
  // runs viewDidLoad(). Call once.
  void loadView();
  // The window (a QWidget); null before loadView().
  DownloadWindow* window() const;
  // Shows the window; the first time, viewDidAppear() follows.
  void showWindow();

  // Start-up: observers, initial state, MakeInfo.ini, the system check, and
  // the preparation submitted to the utility queue. Returns without waiting.
  void viewDidLoad();
  // Registers the controller with the application delegate (mainVC).
  void viewDidAppear();
  // The counterpart of viewDidAppear(). It does nothing, so no event is wired
  // to it: the program orders its window out only on the way to a quit that
  // is already under way, when nothing is left to do for the window.
  void viewDidDisappear() {}
  // The close button: runs the cancel flow and keeps the window open (false).
  bool windowShouldClose();
  // Ends a running modal loop, if any.
  void windowWillClose();

  // --- Start-up and countdown ------------------------------------------------
  // Reads <bundle>/Contents/Resources/MakeInfo.ini into configMakeInfo; true
  // on success (frontend/ProductInfo.h, which the unattended mode shares).
  bool loadMakeInfoINI();
  // The file's text as the INI reader gets it: every "/" acts as a line
  // break; the non-empty pieces, each followed by "\n".
  static QString hanldeSourceSession(const QString& source);
  void handleReadyToDownload();
  void onAutoCountDownTimer();

  // --- Buttons, progress, completion -----------------------------------------
  void startDownload();
  // The leave confirmation; Yes cancels with the report and quits after it.
  void cancelDownload();
  void handleQuitOVDownloader();

  // --- DownloadProxy ---------------------------------------------------------
  void onDownloadProgress(double dProgress) override;
  void onFileCompleteDownload() override;
  void onDownloadFailed(ERROR_Code code) override;
  bool checkRetryDownload() override;

  // --- Failure dialogs -------------------------------------------------------
  void handleNoConnection();
  void handleServerError();
  void handleNeedUpdate();
  void handleDownloadFailed();
  void handleLowDiskSpace();
  void handleSignCheckFailed();
  void handleSizeCheckFailed();

 public slots:
  void onStartBtnClicked(QObject* sender = nullptr);
  void onCancelBtnClicked(QObject* sender = nullptr);
  void onPauseBtnClicked(QObject* sender = nullptr);

 private:
  explicit ViewController(OVDownloadMgr& manager);

  // Hands the product to the manager on the utility queue (start-up and retry).
  void submitPreparation();
  void stopCountDown();
  void showSizeProgress(double doneMegabytes, double totalMegabytes);
  void setPauseButtonTitle(const QString& title);
  void setStateText(const QString& text);
  // A warning alert with these buttons; the index chosen, or -1 for none.
  int runAlert(const QString& message, std::initializer_list<QString> buttons);
  // Orders the window out (it is not closed).
  void hideOwnWindow();
  // CancelDownload without a report, then a fresh transfer.
  void restartDownload();
  void terminate();
  double totalMegabytes() const;

  OVDownloadMgr& manager_;
  std::unique_ptr<DownloadWindow> window_;
  bool appeared_ = false;
  NotificationCenter::Token readyObserver_ = 0;
  NotificationCenter::Token quitObserver_ = 0;
};

}  // namespace ov
