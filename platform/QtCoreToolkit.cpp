#include "platform/QtCoreToolkit.h"

#include <QCoreApplication>
#include <QStringList>

#include "platform/Log.h"

namespace ov {

int QtCoreToolkit::runModalAlert(const Alert& alert) {
  outputLine(QStringLiteral("Alert: ") + alert.message);
  if (!alert.informativeText.isEmpty()) outputLine(QStringLiteral("Alert: ") + alert.informativeText);
  const QStringList buttons(alert.buttons.begin(), alert.buttons.end());
  outputLine(QStringLiteral("Alert buttons: ") + buttons.join(QStringLiteral(", ")));
  if (!buttons.isEmpty()) outputLine(QStringLiteral("Alert answer: ") + buttons.front());
  return 0;
}

void QtCoreToolkit::terminate() {
  QCoreApplication::quit();
}

QtCoreToolkit& defaultToolkit() {
  static QtCoreToolkit toolkit;
  return toolkit;
}

}  // namespace ov
