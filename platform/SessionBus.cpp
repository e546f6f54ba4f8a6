#include "platform/SessionBus.h"

#include <QFileInfo>

namespace ov {

QString sessionBusAddress() {
  QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (!address.isEmpty()) return address;
  const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtimeDir.isEmpty()) return {};
  const QString socket = runtimeDir + QStringLiteral("/bus");
  return QFileInfo::exists(socket) ? QStringLiteral("unix:path=") + socket : QString();
}

}  // namespace ov
