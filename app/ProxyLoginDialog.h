#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <optional>

#include "net/HttpClient.h"

namespace ov {

// The window's answer to a proxy that asks for a user name and password
// (407): a small modal dialog that names the proxy (and says so when it
// refused the last login), a field for the user name and one for the
// password, each with its accessible name, and OK (the default, enabled once
// there is a user name) and Cancel. The password is shown as dots and goes
// nowhere but into the answer.
class ProxyLoginDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ProxyLoginDialog(const ProxyLoginQuestion& question, QWidget* parent = nullptr);

  // Runs modally: the login on OK; none on Cancel, on Escape, on the close
  // button, or when the application quits meanwhile.
  std::optional<ProxyLogin> ask();

  QLineEdit* userField() const { return user_; }
  QLineEdit* passwordField() const { return password_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 private:
  QLineEdit* user_;
  QLineEdit* password_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

// Makes the dialog the HTTP client's ProxyLoginSource: each question opens it
// on the main thread, over the window, unless the program is on its way out
// (then the answer is none). Call once, on the main thread, with the toolkit
// installed.
void askProxyLoginsInTheWindow();

}  // namespace ov
