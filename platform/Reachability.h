#pragma once

#include <QByteArray>

namespace ov {

// The system's own view of whether the machine has a way out, used by
// Connectivity::isConnectedToInternet() when Qt's network-information backend
// cannot load (no NetworkManager, as in containers and most CI machines) or
// reports an unknown state.

// Whether the kernel's routing tables, in the text of /proc/net/route and
// /proc/net/ipv6_route, hold a default route that is up, not a reject route and
// not on the loopback interface.
bool hasDefaultRoute(const QByteArray& ipv4Table, const QByteArray& ipv6Table);

// Whether an interface other than loopback is up and running with an address
// that is not link-local.
bool hasUsableInterface();

// The routing tables where the kernel shows them, else the interfaces.
bool systemReachability();

}  // namespace ov
