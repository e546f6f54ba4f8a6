#include "app/DownloadWindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QKeySequence>
#include <QRegularExpression>

#include "BuildConfig.h"
#include "platform/DesktopShell.h"
#include "ui_DownloadWindow.h"

namespace ov {

namespace {

const QString kAnnouncerName = QStringLiteral("announcer");

// The announcer is a notification to assistive technology: screen readers
// (Orca among them) speak a notification when it is shown, wherever the
// keyboard focus is, while they speak a label's new text only when the label
// has the focus, which a label never has.
QAccessibleInterface* announcerAccessible(const QString& key, QObject* object) {
  static_cast<void>(key);
  if (!object->isWidgetType() || object->objectName() != kAnnouncerName) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Notification);
}

// A text with its numbers masked, so that two ticks of a countdown compare equal.
QString withoutNumbers(const QString& text) {
  static const QRegularExpression digits(QStringLiteral("\\d+"));
  return QString(text).replace(digits, QStringLiteral("#"));
}

}  // namespace

DownloadWindow::DownloadWindow(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::DownloadWindow>()) {
  ui->setupUi(this);

  QFont heading = ui->titleLabel->font();
  heading.setPointSizeF(heading.pointSizeF() * 1.4);
  heading.setBold(true);
  ui->titleLabel->setFont(heading);
  // Secondary lines in the palette's subdued text colour, light or dark.
  ui->productLabel->setForegroundRole(QPalette::PlaceholderText);
  ui->locationLabel->setForegroundRole(QPalette::PlaceholderText);

  // The platform's own keys for these commands (Ctrl+Q, Ctrl+W; Cmd on macOS).
  ui->actionQuit->setShortcuts(QKeySequence::Quit);
  ui->actionCloseWindow->setShortcuts(QKeySequence::Close);

  // Buttons of one width whatever their titles, so that the row does not
  // shift when Pause turns into Resume.
  const int width = fontMetrics().averageCharWidth() * 14;
  for (QPushButton* button : {ui->startButton, ui->pauseButton, ui->cancelButton}) {
    button->setMinimumWidth(width);
    button->setAutoDefault(true);
  }
  setMinimumWidth(fontMetrics().averageCharWidth() * 64);
  // A new text (a product name, a translation) asks for a new layout.
  centralWidget()->installEventFilter(this);

  static const bool factoryInstalled = (QAccessible::installFactory(announcerAccessible), true);
  static_cast<void>(factoryInstalled);
  announcer_ = new QWidget(centralWidget());
  announcer_->setObjectName(kAnnouncerName);
  announcer_->hide();

  // Docks and the notification area know the program by its desktop entry.
  if (QGuiApplication::desktopFileName().isEmpty())
    QGuiApplication::setDesktopFileName(QStringLiteral(OV_BUNDLE_IDENTIFIER));
  shell_ = new DesktopShell(QGuiApplication::applicationDisplayName(), QStringLiteral(OV_BUNDLE_IDENTIFIER),
                            QString(), this);
  connect(shell_, &DesktopShell::notificationActivated, this, &DownloadWindow::bringToFront);
}

DownloadWindow::~DownloadWindow() = default;

void DownloadWindow::closeEvent(QCloseEvent* event) {
  if (shouldClose && !shouldClose()) {
    event->ignore();
    return;
  }
  if (willClose) willClose();
  event->accept();
}

void DownloadWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (appeared_ || event->spontaneous()) return;
  appeared_ = true;
  if (didAppear) didAppear();
}

bool DownloadWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() &&
      (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize))
    fitHeightToContents();
  return QMainWindow::eventFilter(watched, event);
}

void DownloadWindow::fitHeightToContents() {
  const int content = centralWidget()->layout()->totalHeightForWidth(centralWidget()->width());
  if (content <= 0) return;
  const int needed = content + height() - centralWidget()->height();
  if (minimumHeight() != needed) setMinimumHeight(needed);
  if (height() < needed) resize(width(), needed);
}

void DownloadWindow::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  // Hidden by the program (a confirmed cancel, a quit), not minimised: the
  // download is over as far as the dock is concerned.
  if (!event->spontaneous()) setTask(Task::Ended);
}

void DownloadWindow::setTask(Task task) {
  task_ = task;
  showTaskInDock();
}

void DownloadWindow::setTaskProgress(double fraction) {
  taskProgress_ = fraction;
  showTaskInDock();
}

void DownloadWindow::showTaskInDock() {
  if (!shell_) return;
  if (task_ == Task::Running)
    shell_->showProgress(taskProgress_);
  else
    shell_->hideProgress();
}

void DownloadWindow::endTask(const QString& outcome) {
  setTask(Task::Ended);
  tellIfInBackground(outcome);
}

bool DownloadWindow::isInFront() const {
  return QApplication::activeWindow() != nullptr && !isMinimized();
}

void DownloadWindow::tellIfInBackground(const QString& text) {
  if (!shell_ || !isVisible() || isInFront()) return;
  shell_->notify(windowTitle(), text, tr("Show"));
}

void DownloadWindow::bringToFront() {
  // A window hidden by a quit under way stays hidden.
  if (!isVisible()) return;
  setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
  if (QWidget* dialog = QApplication::activeModalWidget(); dialog != nullptr && dialog != this) {
    dialog->raise();
    dialog->activateWindow();
  }
}

void DownloadWindow::announceState(const QString& text) {
  if (withoutNumbers(text) == withoutNumbers(lastAnnounced_)) return;
  lastAnnounced_ = text;
  announcer_->setAccessibleName(text);
  if (!QAccessible::isActive()) return;
  QAccessibleEvent shown(announcer_, QAccessible::ObjectShow);
  QAccessible::updateAccessibility(&shown);
}

}  // namespace ov
