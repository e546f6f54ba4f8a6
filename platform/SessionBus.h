#pragma once

#include <QString>

namespace ov {

// The address of this login's D-Bus session bus: $DBUS_SESSION_BUS_ADDRESS,
// else $XDG_RUNTIME_DIR/bus when that socket exists, else empty. Never an
// auto-launched bus: libdbus would start dbus-launch when no address is known,
// which can take long or open an X11 connection. Any thread.
QString sessionBusAddress();

}  // namespace ov
