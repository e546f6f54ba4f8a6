#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>

namespace ov {

// What the program tells the desktop shell (dock, task bar, notification
// area) over a D-Bus bus:
//
// * Its progress, by the launcher-entry protocol that KDE Plasma, Ubuntu's
//   dock, Dash to Dock and others read: the signal
//   com.canonical.Unity.LauncherEntry.Update(s app_uri, a{sv} properties),
//   with "progress" (double, 0 to 1) and "progress-visible" (Boolean), for
//   "application://<desktop entry id>.desktop". Updates are coalesced: at most
//   one signal every kMinimumUpdateInterval (the latest value wins) and none
//   that repeats the one before.
// * Notifications (org.freedesktop.Notifications.Notify) with the
//   "desktop-entry" hint and a "default" action, so that the shell files them
//   under the program and a click on one reaches it (notificationActivated()).
//
// The caller never waits for the bus, except in flush(): the connection and
// every message go through a serial background queue, so a bus that is
// missing, refuses or never answers costs nothing but the message. Construct,
// use and destroy on the main thread.
class DesktopShell : public QObject {
  Q_OBJECT

 public:
  // A little above the 250 ms that "4 updates a second" allows, so that a
  // listener never sees two closer together, whatever the bus's jitter.
  static constexpr std::chrono::milliseconds kMinimumUpdateInterval{300};

  // `applicationName`: the name notifications carry. `desktopEntryId`: the
  // desktop entry's file name without ".desktop" (also the icon's name).
  // `busAddress`: a D-Bus address; empty means the session bus of this login
  // ($DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus; never a launched one).
  DesktopShell(QString applicationName, QString desktopEntryId, QString busAddress = {},
               QObject* parent = nullptr);
  ~DesktopShell() override;

  DesktopShell(const DesktopShell&) = delete;
  DesktopShell& operator=(const DesktopShell&) = delete;

  // Shows `fraction` of the work done (clamped to 0..1; not a number counts as 0).
  void showProgress(double fraction);
  // Hides the progress; the fraction last shown is kept for the next show.
  void hideProgress();

  // Posts a notification whose click (the "default" action, which some shells
  // label `actionLabel`) emits notificationActivated().
  void notify(const QString& summary, const QString& body, const QString& actionLabel);

  // Waits until everything asked for so far has been handed to the bus (or
  // given up), at most `limit`; true when nothing is left.
  bool flush(std::chrono::milliseconds limit);
  // flush() of every DesktopShell alive, for the process's way out: what the
  // shell was last told (the progress hidden, a notification) must not die
  // in a queue.
  static void flushAll(std::chrono::milliseconds limit);

 signals:
  // A notification this object posted was clicked. Main thread.
  void notificationActivated();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace ov
