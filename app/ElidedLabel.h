#pragma once

#include <QLabel>

namespace ov {

// A one-line label that shortens its text in the middle ("/home/…/Setup.pkg")
// when it does not fit, instead of widening its window. text() and the
// accessible text stay whole; the tooltip shows the whole text while it is
// shortened.
class ElidedLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ElidedLabel(QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  // The text as painted at the current width.
  QString displayedText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void updateToolTip();
};

}  // namespace ov
