#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

namespace Ui {
class DownloadWindow;
}

namespace ov {

class DesktopShell;

// The download window, built from DownloadWindow.ui: title, product, state,
// progress bar, size, destination, and the start, pause and cancel buttons;
// its menu has Close Window and Quit. It decides nothing itself: closing asks
// `shouldClose`, and the controller (ViewController) fills in the rest.
//
// It also stands for the download on the desktop: its progress in the dock or
// task bar (shown while the transfer runs, hidden otherwise, and once the
// window is hidden), a desktop notification for what needs the user while
// the window is minimised or behind another one (a click brings the window
// back), and the announcements of a screen reader.
class DownloadWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit DownloadWindow(QWidget* parent = nullptr);
  ~DownloadWindow() override;

  const std::unique_ptr<Ui::DownloadWindow> ui;

  // Asked when the window is about to close (close button, Alt+F4, the window
  // manager); false keeps it open. Without an answer the window closes.
  std::function<bool()> shouldClose;
  // Told when the window does close.
  std::function<void()> willClose;
  // Told once, the first time the window is shown.
  std::function<void()> didAppear;

  // The transfer as the dock shows it: its progress only while it runs.
  enum class Task { Idle, Running, Paused, Ended };
  void setTask(Task task);
  // The fraction done (0 to 1), shown in the dock while the task runs.
  void setTaskProgress(double fraction);
  // The transfer has ended with `outcome` (a text the window shows): the dock
  // stops showing it, and a user who looks elsewhere is told.
  void endTask(const QString& outcome);
  // When the window is minimised or not active, posts `text` as a desktop
  // notification whose click brings the window (and its dialog) to the front.
  // Nothing while the window is in front.
  void tellIfInBackground(const QString& text);
  // Whether the user has the window in front of them.
  bool isInFront() const;
  // Raises and activates the window, and the dialog it runs, if any.
  void bringToFront();

  // Has a screen reader say the state text `text`, once: a text that differs
  // from the one announced before only in its numbers (a countdown's next
  // second) is shown, not announced again.
  void announceState(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void showTaskInDock();
  // Grows the window to the height its wrapped texts need at its width: a
  // main window's minimum size ignores the height a word-wrapped label needs
  // for its width, so a long product name would be cut or overlap the line
  // below it.
  void fitHeightToContents();

  bool appeared_ = false;
  Task task_ = Task::Idle;
  double taskProgress_ = 0.0;
  QPointer<DesktopShell> shell_;
  QWidget* announcer_ = nullptr;
  QString lastAnnounced_;
};

}  // namespace ov
