#include "app/ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace ov {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidedLabel::sizeHint() const {
  const QSize whole = QLabel::sizeHint();
  return {std::min(whole.width(), fontMetrics().averageCharWidth() * 40), whole.height()};
}

QSize ElidedLabel::minimumSizeHint() const {
  return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 4, QLabel::minimumSizeHint().height()};
}

QString ElidedLabel::displayedText() const {
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOption option;
  option.initFrom(this);
  style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine, option.palette,
                        isEnabled(), displayedText(), foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  updateToolTip();
}

bool ElidedLabel::event(QEvent* event) {
  // A new text arrives as a repaint request; the tooltip follows it there.
  if (event->type() == QEvent::UpdateRequest || event->type() == QEvent::Paint ||
      event->type() == QEvent::FontChange)
    updateToolTip();
  return QLabel::event(event);
}

void ElidedLabel::updateToolTip() {
  const QString tip = displayedText() == text() ? QString() : text();
  if (toolTip() != tip) setToolTip(tip);
}

}  // namespace ov
