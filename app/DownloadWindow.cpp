#include "app/DownloadWindow.h"

#include <QCloseEvent>
#include <QKeySequence>

#include "ui_DownloadWindow.h"

namespace ov {

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

}  // namespace ov
