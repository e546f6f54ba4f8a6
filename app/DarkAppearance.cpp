#include "app/DarkAppearance.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace ov {
namespace {

constexpr const char* kDarkProperty = "ovDarkAppearance";

}  // namespace

QPalette darkPalette() {
  const QColor window(0x2b, 0x2b, 0x2d);
  const QColor base(0x1e, 0x1e, 0x20);
  const QColor button(0x3a, 0x3a, 0x3d);
  const QColor text(0xe8, 0xe8, 0xea);
  const QColor dimText(0x96, 0x96, 0x9c);
  const QColor accent(0x3b, 0x82, 0xf6);

  QPalette p;
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window.lighter(115));
  p.setColor(QPalette::ToolTipBase, button);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, dimText);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, button);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(0xff, 0x6b, 0x6b));
  p.setColor(QPalette::Light, button.lighter(140));
  p.setColor(QPalette::Midlight, button.lighter(120));
  p.setColor(QPalette::Mid, button.darker(120));
  p.setColor(QPalette::Dark, base.darker(130));
  p.setColor(QPalette::Shadow, QColor(0, 0, 0));
  p.setColor(QPalette::Highlight, accent);
  p.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
  p.setColor(QPalette::Link, accent.lighter(130));
  p.setColor(QPalette::LinkVisited, accent.lighter(110));

  // Disabled controls stay legible on the dark ground (about 4.5:1 for text).
  p.setColor(QPalette::Disabled, QPalette::WindowText, dimText);
  p.setColor(QPalette::Disabled, QPalette::Text, dimText);
  p.setColor(QPalette::Disabled, QPalette::ButtonText, dimText);
  p.setColor(QPalette::Disabled, QPalette::Button, window.lighter(110));
  p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x55, 0x55, 0x5a));
  p.setColor(QPalette::Disabled, QPalette::HighlightedText, dimText);
  return p;
}

void applyDarkAppearance(QApplication& application) {
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
  QApplication::setPalette(darkPalette());
  application.setProperty(kDarkProperty, true);
}

bool isDarkAppearanceApplied() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && app->property(kDarkProperty).toBool();
}

}  // namespace ov
