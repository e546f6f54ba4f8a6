#pragma once

#include <QString>
#include <compare>
#include <functional>
#include <optional>

namespace ov {

// A macOS version: major, minor, patch.
struct SystemVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
  auto operator<=>(const SystemVersion&) const = default;
};

// The first macOS with the dark appearance, and the least some products need.
inline constexpr SystemVersion kMinimumModernSystem{10, 14, 0};

// The running macOS version; nothing on a system that is not macOS.
std::optional<SystemVersion> runningMacOSVersion();

// Whether the running system counts as 10.14.0 or later. A system that is not
// macOS has no such version and is never held back by it: it counts as modern
// (dark appearance, no product refused).
bool isModernSystem(const std::optional<SystemVersion>& version);

// The start-up check of the system: writes to standard output which system
// the program runs on ("MacOS is 10.13", or "MacOS is 10.14 or above" also on
// a system that is not macOS), and answers whether `product` refuses to run
// there: a product whose name holds "BrindleCutter" (in that case) needs 10.14.
bool productRefusesThisSystem(const QString& product);

// Tests pretend to run on a given macOS version, or on none; an empty function
// restores the real query.
void setMacOSVersionForTesting(std::function<std::optional<SystemVersion>()> version);

}  // namespace ov
