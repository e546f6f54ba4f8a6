#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

namespace Ui {
class DownloadWindow;
}

namespace ov {

// The download window, built from DownloadWindow.ui: title, product, state,
// progress bar, size, destination, and the start, pause and cancel buttons;
// its menu has Close Window and Quit. It decides nothing itself: closing asks
// `shouldClose`, and the controller (ViewController) fills in the rest.
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

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  bool appeared_ = false;
};

}  // namespace ov
