#include "app/ProxyLoginDialog.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QVBoxLayout>

#include "app/Strings.h"
#include "platform/Dispatch.h"
#include "platform/Toolkit.h"

namespace ov {

namespace {

// Over the window the question is about: the active one, else the visible
// main window (a desktop without a window manager activates nothing).
QWidget* dialogParent() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->isVisible() && qobject_cast<QMainWindow*>(widget) != nullptr) return widget;
  return nullptr;
}

}  // namespace

ProxyLoginDialog::ProxyLoginDialog(const ProxyLoginQuestion& question, QWidget* parent) : QDialog(parent) {
  setModal(true);
  setWindowModality(Qt::ApplicationModal);
  setWindowTitle(tr("Proxy Login"));
  const QString message =
      question.refused ? tr("The proxy %1 did not accept the user name and password. Enter them again.")
                       : tr("The proxy %1 asks for a user name and password.");
  setAccessibleName(tr("Proxy Login"));
  setAccessibleDescription(message.arg(question.proxy));

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(20, 20, 20, 16);
  outer->setSpacing(16);
  auto* text = new QLabel(message.arg(question.proxy), this);
  // The proxy's name comes from the desktop's settings or a PAC file: never markup.
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setMinimumWidth(text->fontMetrics().averageCharWidth() * 50);
  outer->addWidget(text);

  auto* form = new QFormLayout;
  user_ = new QLineEdit(this);
  user_->setAccessibleName(tr("User name"));
  password_ = new QLineEdit(this);
  password_->setEchoMode(QLineEdit::Password);
  password_->setAccessibleName(tr("Password"));
  form->addRow(tr("&User name:"), user_);
  form->addRow(tr("&Password:"), password_);
  outer->addLayout(form);

  auto* row = new QHBoxLayout;
  row->setSpacing(8);
  row->addStretch(1);
  const int minimumWidth = fontMetrics().averageCharWidth() * 12;
  // As in the alerts: the default button rightmost.
  cancel_ = new QPushButton(IDS_BTNCAPTION_CANCEL, this);
  ok_ = new QPushButton(IDS_BTNCAPTION_OK, this);
  for (QPushButton* button : {cancel_, ok_}) {
    button->setMinimumWidth(minimumWidth);
    row->addWidget(button);
  }
  ok_->setDefault(true);
  ok_->setEnabled(false);
  outer->addLayout(row);
  connect(user_, &QLineEdit::textChanged, this,
          [this](const QString& user) { ok_->setEnabled(!user.isEmpty()); });
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  user_->setFocus(Qt::OtherFocusReason);
}

std::optional<ProxyLogin> ProxyLoginDialog::ask() {
  if (exec() != QDialog::Accepted || user_->text().isEmpty()) return std::nullopt;
  return ProxyLogin{user_->text(), password_->text()};
}

void askProxyLoginsInTheWindow() {
  setProxyLoginSource([](const ProxyLoginQuestion& question, ProxyLoginAnswer answer) {
    mainQueue().async([question, answer = std::move(answer)] {
      if (toolkit().isTerminating()) return answer(std::nullopt);
      ProxyLoginDialog dialog(question, dialogParent());
      answer(dialog.ask());
    });
  });
}

}  // namespace ov
