#pragma once

#include <QDialog>
#include <QPushButton>
#include <vector>

#include "platform/Toolkit.h"

namespace ov {

// The modal alert: an icon for its style, the message (plain text, wrapped),
// an optional informative text, and the buttons. As on macOS, the first button
// is the default and sits rightmost, the others follow to its left; the
// default button has the keyboard focus, so Enter and Space choose it. A
// one-button alert also answers Escape and the window's close button with that
// button; an alert with more buttons must be answered by one of them.
// Over the download window, an alert that opens while that window is not in
// front is also posted as a desktop notification.
class AlertDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AlertDialog(const Alert& alert, QWidget* parent = nullptr);

  // Runs modally; the index of the chosen button, or -1 when the alert ended
  // without one (stopModal(), or the application quitting).
  int runModal();

  // The buttons in the alert's order (the first is the default).
  const std::vector<QPushButton*>& buttons() const { return buttons_; }

  // Ends a running alert without an answer.
  void abandon();

 protected:
  void reject() override;

 private:
  QString message_;
  std::vector<QPushButton*> buttons_;
  int answer_ = -1;
};

}  // namespace ov
