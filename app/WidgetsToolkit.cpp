#include "app/WidgetsToolkit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QMainWindow>
#include <QWidget>
#include <QWindow>

#include "app/AlertDialog.h"
#include "app/AppDelegate.h"

namespace ov {

WidgetsToolkit::WidgetsToolkit(AppDelegate& delegate) : delegate_(delegate) {}

WidgetsToolkit::~WidgetsToolkit() {
  if (!installed_) return;
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
  if (&toolkit() == this) setToolkit(previous_);
}

void WidgetsToolkit::install() {
  if (installed_) return;
  installed_ = true;
  previous_ = &toolkit();
  setToolkit(this);
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

namespace {

// The window an alert belongs over: the active one, else the visible main
// window (a desktop without a window manager activates nothing).
QWidget* alertParent() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->isVisible() && qobject_cast<QMainWindow*>(widget) != nullptr) return widget;
  return nullptr;
}

}  // namespace

int WidgetsToolkit::runModalAlert(const Alert& alert) {
  AlertDialog dialog(alert, alertParent());
  runningAlert_ = &dialog;
  const int answer = dialog.runModal();
  runningAlert_ = nullptr;
  return answer;
}

void WidgetsToolkit::stopModal() {
  if (runningAlert_) runningAlert_->abandon();
}

void WidgetsToolkit::hideWindow(QObject* window) {
  if (auto* widget = qobject_cast<QWidget*>(window))
    widget->hide();
  else if (auto* handle = qobject_cast<QWindow*>(window))
    handle->hide();
}

bool WidgetsToolkit::openWithDefaultHandler(const QUrl& url) {
#if defined(Q_OS_MACOS)
  return QDesktopServices::openUrl(url);
#else
  return openWithXdgOpen(url);
#endif
}

void WidgetsToolkit::setTerminating() {
  delegate_.bIsTerminating = true;
}

bool WidgetsToolkit::isTerminating() const {
  return delegate_.bIsTerminating;
}

void WidgetsToolkit::terminate() {
  if (delegate_.applicationShouldTerminate() != AppDelegate::TerminateReply::TerminateNow) return;
  delegate_.applicationWillTerminate();
  quitApplication();
}

void WidgetsToolkit::quitApplication() {
  for (QWidget* widget : QApplication::topLevelWidgets()) widget->hide();
  // exit() rather than quit(): quit() would come back here as a QEvent::Quit.
  // Queued, because exit() before the main loop has started is forgotten when
  // it starts; a queued call also reaches the loop from inside a modal one.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

bool WidgetsToolkit::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
    // The platform asks to quit: the delegate decides, after the event has
    // been answered "not now".
    event->ignore();
    QMetaObject::invokeMethod(
        this, [this] { terminate(); }, Qt::QueuedConnection);
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace ov
