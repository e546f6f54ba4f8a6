#include "app/AlertDialog.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QVBoxLayout>

#include "app/DownloadWindow.h"

namespace ov {

namespace {

QStyle::StandardPixmap iconFor(AlertStyle style) {
  return style == AlertStyle::Critical ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxInformation;
}

// The warning sign, drawn rather than scaled from a bitmap so that it stays
// sharp at any scale factor.
QPixmap warningPixmap(int size, qreal devicePixelRatio) {
  QPixmap pixmap(QSize(size, size) * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QPainterPath triangle;
  triangle.moveTo(s * 0.5, s * 0.06);
  triangle.lineTo(s * 0.97, s * 0.9);
  triangle.lineTo(s * 0.03, s * 0.9);
  triangle.closeSubpath();
  painter.setPen(QPen(QColor(0xe0, 0x8e, 0x0b), s * 0.06, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(QColor(0xf5, 0xa6, 0x23));
  painter.drawPath(triangle);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x2b, 0x1d, 0x05));
  painter.drawRoundedRect(QRectF(s * 0.45, s * 0.32, s * 0.1, s * 0.32), s * 0.05, s * 0.05);
  painter.drawEllipse(QRectF(s * 0.44, s * 0.70, s * 0.12, s * 0.12));
  return pixmap;
}

// An alert is an alert to assistive technology too, not a plain dialog:
// screen readers read its whole message when it opens.
QAccessibleInterface* alertAccessible(const QString& key, QObject* object) {
  static_cast<void>(key);
  if (auto* dialog = qobject_cast<AlertDialog*>(object))
    return new QAccessibleWidget(dialog, QAccessible::AlertMessage);
  return nullptr;
}

QLabel* textLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  // Messages may carry names from MakeInfo.ini or the service: never markup.
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setAccessibleName(text);
  return label;
}

}  // namespace

AlertDialog::AlertDialog(const Alert& alert, QWidget* parent) : QDialog(parent), message_(alert.message) {
  static const bool factoryInstalled = (QAccessible::installFactory(alertAccessible), true);
  static_cast<void>(factoryInstalled);
  setModal(true);
  setWindowModality(Qt::ApplicationModal);
  setWindowTitle(QGuiApplication::applicationDisplayName());
  setAccessibleName(QGuiApplication::applicationDisplayName());
  setAccessibleDescription(alert.message);
  // A shade lighter than the windows it sits over, as alerts are on macOS.
  QPalette shade = palette();
  shade.setColor(QPalette::Window, shade.color(QPalette::Window).lighter(125));
  setPalette(shade);
  setAutoFillBackground(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(20, 20, 20, 16);
  outer->setSpacing(16);

  auto* body = new QHBoxLayout;
  body->setSpacing(16);
  auto* icon = new QLabel(this);
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  if (alert.style == AlertStyle::Warning) {
    icon->setPixmap(warningPixmap(iconSize, devicePixelRatioF()));
    icon->setAccessibleName(tr("Warning"));
  } else {
    icon->setPixmap(style()
                        ->standardIcon(iconFor(alert.style), nullptr, this)
                        .pixmap(QSize(iconSize, iconSize), devicePixelRatioF()));
  }
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  body->addWidget(icon, 0, Qt::AlignTop);

  auto* texts = new QVBoxLayout;
  texts->setSpacing(8);
  QLabel* message = textLabel(alert.message, this);
  // Wide enough for the long messages to wrap into a readable block.
  message->setMinimumWidth(message->fontMetrics().averageCharWidth() * 60);
  texts->addWidget(message);
  if (!alert.informativeText.isEmpty()) texts->addWidget(textLabel(alert.informativeText, this));
  body->addLayout(texts, 1);
  outer->addLayout(body);

  auto* row = new QHBoxLayout;
  row->setSpacing(8);
  row->addStretch(1);
  const int minimumWidth = fontMetrics().averageCharWidth() * 12;
  for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
    auto* button = new QPushButton(alert.buttons[i], this);
    button->setMinimumWidth(minimumWidth);
    button->setAutoDefault(true);
    const int index = static_cast<int>(i);
    connect(button, &QPushButton::clicked, this, [this, index] {
      answer_ = index;
      accept();
    });
    buttons_.push_back(button);
  }
  // Rightmost first: the row is filled from the last button to the first.
  for (auto it = buttons_.rbegin(); it != buttons_.rend(); ++it) row->addWidget(*it);
  outer->addLayout(row);

  // Tab walks the buttons in the alert's order, starting at the default one.
  for (std::size_t i = 1; i < buttons_.size(); ++i) setTabOrder(buttons_[i - 1], buttons_[i]);
  if (!buttons_.empty()) {
    buttons_.front()->setDefault(true);
    buttons_.front()->setFocus(Qt::OtherFocusReason);
  }
  setSizeGripEnabled(false);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

int AlertDialog::runModal() {
  answer_ = -1;
  // Someone looking elsewhere learns that the download waits for them.
  if (auto* window = qobject_cast<DownloadWindow*>(parentWidget())) window->tellIfInBackground(message_);
  exec();
  return answer_;
}

void AlertDialog::abandon() {
  answer_ = -1;
  done(QDialog::Rejected);
}

void AlertDialog::reject() {
  // Escape or the close button: only a one-button alert has an obvious answer.
  if (buttons_.size() == 1) {
    answer_ = 0;
    accept();
  } else if (buttons_.empty()) {
    QDialog::reject();
  }
}

}  // namespace ov
