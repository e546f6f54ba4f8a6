#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/Utility.h"

namespace ov {

// Keeps the display awake through the desktop's screen-saver service
// (org.freedesktop.ScreenSaver, Inhibit / UnInhibit) on a D-Bus bus: the Linux
// counterpart of a "NoDisplaySleepAssertion". GNOME, KDE, Xfce and most other
// desktops answer it; an inhibition also ends when the connection closes, so
// one that is never released ends with the process.
//
// No call blocks its caller for longer than about the time-out, even on a bus
// that accepts connections and then never answers; work that finishes late is
// undone (a late cookie is released at once). Safe to use from any thread.
class DBusKeepAwake {
 public:
  // Status codes of inhibit().
  static constexpr std::int32_t kSuccess = 0;
  static constexpr std::int32_t kNoBus = 1;     // no bus address, or the connection failed
  static constexpr std::int32_t kRefused = 2;   // no such service, or an error or malformed answer
  static constexpr std::int32_t kTimedOut = 3;  // no answer within the time-out

  static constexpr std::chrono::milliseconds kDefaultTimeout{1500};

  // `busAddress`: a D-Bus address; empty means the session bus of this login
  // ($DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus when that socket
  // exists; never an auto-launched bus).
  explicit DBusKeepAwake(QString busAddress = {}, std::chrono::milliseconds timeout = kDefaultTimeout);
  ~DBusKeepAwake();

  DBusKeepAwake(const DBusKeepAwake&) = delete;
  DBusKeepAwake& operator=(const DBusKeepAwake&) = delete;

  // Asks the service to keep the display awake for `reason`. On success
  // `cookie` names the inhibition; otherwise it is set to 0.
  std::int32_t inhibit(const QString& reason, std::uint32_t& cookie);

  // Ends the inhibition `cookie`. Cookies this object did not obtain (0 after a
  // failed inhibit, for one) are ignored, so a release after a failure is harmless.
  void uninhibit(std::uint32_t cookie);

 private:
  struct Connection;
  std::shared_ptr<Connection> connection_;
  std::chrono::milliseconds timeout_;
};

// The keep-awake backend of this platform: a process-wide DBusKeepAwake on the
// session bus, inhibiting for the reason "Unknown reason" (the name the
// assertion carries on macOS, where an IOKit power assertion stands here).
NoSleepBackend platformKeepAwakeBackend();

}  // namespace ov
