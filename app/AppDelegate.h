#pragma once

#include <QObject>
#include <memory>

#include "frontend/QuitPolicy.h"

namespace ov {

class OVDownloadMgr;
class ViewController;

// The application's delegate: picks the dark appearance, and guards every
// request to quit behind the leave confirmation. A confirmed quit hides the
// windows, cancels the download with a cancellation report, and lets the
// process end only once that report has returned (terminateOVDownloader()
// then sets bIsTerminating and asks again, which is granted at once).
//
// One instance lives for the whole program; the toolkit reaches it through
// current(). Everything runs on the main thread.
class AppDelegate : public QObject {
  Q_OBJECT

 public:
  // The toolkit's replies to "may the application quit now?". The third
  // reply the platform knows, "later", is never given.
  enum class TerminateReply { TerminateNow, TerminateCancel };

  // `manager` is the download the delegate cancels on a confirmed quit.
  explicit AppDelegate(OVDownloadMgr& manager, QObject* parent = nullptr);
  AppDelegate();
  ~AppDelegate() override;

  // The application's delegate, or null before it exists and after it is gone.
  static AppDelegate* current();

  // The download window's controller; set by the controller when its window
  // is first shown. Weak: it never keeps the controller alive.
  std::weak_ptr<ViewController> mainVC;
  // Set just before the program asks to quit by itself; only ever goes true.
  bool bIsTerminating = false;

  // Dark appearance when the system is 10.14.0 or later (always on systems
  // without a macOS version); nothing else.
  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching() {}
  void applicationWillTerminate() {}

  // Answers whether the application may quit now. Asks the user unless the
  // program is already terminating; a Yes starts the cancellation and answers
  // TerminateCancel, the quit following once the report has returned.
  TerminateReply applicationShouldTerminate();

  // A termination signal from the system (SIGTERM, SIGINT): hides the
  // windows, then follows the signal policy (frontend/QuitPolicy.h): cancel
  // with the report, terminate once it has returned or after a deadline, and
  // at once on a second signal. Nothing once the program is terminating.
  void terminateOnSignal();

 public slots:
  // An action for a menu command or control: prints "onQuitOVDownloader" and
  // posts "QuitOVDownloader"; the window's controller asks and quits.
  void onQuitOVDownloader(QObject* sender = nullptr);

 private:
  // Hides the controller's window (not closed) when the controller still lives.
  void hideMainWindow();

  OVDownloadMgr& manager_;
  SignalPolicy signalPolicy_;
};

}  // namespace ov
