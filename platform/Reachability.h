#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>

namespace ov {

// The system's own view of whether the machine has a way out, for
// Connectivity::isConnectedToInternet(): a default route, as the kernel has it
// at the moment of asking.

// Whether the kernel's routing tables, in the text of /proc/net/route and
// /proc/net/ipv6_route, hold a default route that is up, not a reject route and
// not on the loopback interface.
bool hasDefaultRoute(const QByteArray& ipv4Table, const QByteArray& ipv6Table);

// Whether an interface other than loopback is up and running with an address
// that is not link-local.
bool hasUsableInterface();

// The routing tables where the kernel shows them, else the interfaces.
bool systemReachability();

// Tests point the routing tables at files of their own; nothing restores /proc.
void setRouteTablesForTesting(std::optional<std::pair<QString, QString>> paths);

}  // namespace ov
