#pragma once

#include <QObject>
#include <QPointer>

#include "platform/Toolkit.h"

namespace ov {

class AlertDialog;
class AppDelegate;

// The desktop toolkit of the application (Qt Widgets): modal alerts, hiding
// windows, the default opener, and termination through the application
// delegate. Timers, the main queue and translations come from Toolkit.
// Main thread only.
//
// It also routes the platform's own quit requests (the macOS application
// menu's Quit, a session asking the application to end) through the delegate:
// they arrive as QEvent::Quit on the application object, which this filters.
class WidgetsToolkit : public QObject, public Toolkit {
  Q_OBJECT

 public:
  explicit WidgetsToolkit(AppDelegate& delegate);
  ~WidgetsToolkit() override;

  // Installs this toolkit as toolkit() and filters the application's quit
  // events; the destructor undoes both.
  void install();

  int runModalAlert(const Alert& alert) override;
  void stopModal() override;
  void hideWindow(QObject* window) override;
  bool openWithDefaultHandler(const QUrl& url) override;
  void setTerminating() override;
  bool isTerminating() const override;
  // Asks the delegate; when it answers "terminate now", leaves the event loop
  // (also when called before the loop has started, or from inside a modal one).
  void terminate() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

  // What "terminate now" does: hide every window, then leave every event loop
  // once control is back in one. Tests replace it.
  virtual void quitApplication();

 private:
  AppDelegate& delegate_;
  QPointer<AlertDialog> runningAlert_;
  bool installed_ = false;
  Toolkit* previous_ = nullptr;
};

}  // namespace ov
