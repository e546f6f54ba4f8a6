#!/usr/bin/python3
"""The program on a desktop, as a screen reader, a dock and a notification
area meet it.

The test starts everything itself, on this machine only: an X server (Xvfb),
a session bus (dbus-daemon --session), the accessibility bus (at-spi2-core),
a notification server and a dock of its own on that session bus, and the
reference download service. It then runs the real bundle three times and
drives it from the keyboard alone (xdotool):

  walk           preparing, countdown, downloading, paused, the leave
                 confirmation, a failed transfer and its Retry, and the end
                 with the window behind another one;
  server-error   the failure dialog while the window is behind, and a click
                 on its notification;
  need-update    the update dialog.

At each state an AT-SPI client (pyatspi) reads the window's tree: role,
name, description and value of everything showing. It also hears the
screen reader's announcements, the launcher-entry updates (progress in the
dock) and the notifications.

  desktop_test.py <bundle> <ov-refservice>      (--tree prints every tree read)
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BUNDLE, SERVICE = sys.argv[1], sys.argv[2]
PRINT_TREES = "--tree" in sys.argv
DESKTOP_ID = "com.orvalen.OVDownloader"
TITLE = "Orvalen Sample Studio Downloader"
MIB = 1024 * 1024
WORK = tempfile.mkdtemp(prefix="ovdownloader-desktop.")
CHILDREN = []
FAILURES = []


def start(args, env=None, **kwargs):
    """A helper process in a process group of its own, ended with the test;
    what it says goes to a log beside the others (shown when the test fails)."""
    kwargs.setdefault("stderr", open(os.path.join(WORK, "helpers.log"), "a"))
    process = subprocess.Popen(args, env=env, start_new_session=True, **kwargs)
    CHILDREN.append(process)
    return process


def read_line_from(args, env=None):
    """Starts a program that prints one line (an address, a display) once it is ready."""
    reader, writer = os.pipe()
    process = start([a.replace("{fd}", str(writer)) for a in args], env=env, pass_fds=(writer,))
    os.close(writer)
    with os.fdopen(reader) as stream:
        return process, stream.readline().strip()


def wait_for(condition, seconds, what):
    """Runs the event loop until `condition` holds (re-checked at each event and
    every 50 ms, for answers that come by query rather than by event)."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    tick = GLib.timeout_add(50, lambda: True)
    try:
        while not condition():
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for " + what)
            context.iteration(True)
    finally:
        GLib.source_remove(tick)


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print("FAILED: " + message)


# --- The desktop --------------------------------------------------------------
xvfb, display = read_line_from(["Xvfb", "-displayfd", "{fd}", "-screen", "0", "1280x900x24", "-nolisten", "tcp"])
os.environ["DISPLAY"] = ":" + display
_, bus_address = read_line_from(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                 "--address=unix:path=" + WORK + "/bus", "--print-address={fd}"])
os.environ["DBUS_SESSION_BUS_ADDRESS"] = bus_address
DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(bus_address)
start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
wait_for(lambda: bus.name_has_owner("org.a11y.Bus"), 20, "the accessibility bus")
a11y = bus.get_object("org.a11y.Bus", "/org/a11y/bus")
# What a screen reader does when it starts: applications then expose their tree.
a11y.Set("org.a11y.Status", "ScreenReaderEnabled", True, dbus_interface=dbus.PROPERTIES_IFACE)
os.environ["AT_SPI_BUS_ADDRESS"] = str(a11y.GetAddress(dbus_interface="org.a11y.Bus"))
import pyatspi  # noqa: E402  (after the accessibility bus is known)


class NotificationServer(dbus.service.Object):
    """org.freedesktop.Notifications as far as the program uses it."""

    def __init__(self):
        super().__init__(dbus.service.BusName("org.freedesktop.Notifications", bus), "/org/freedesktop/Notifications")
        self.received = []

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        self.received.append({"app": str(app_name), "icon": str(app_icon), "summary": str(summary),
                              "body": str(body), "actions": [str(a) for a in actions],
                              "desktop-entry": str(hints.get("desktop-entry", ""))})
        return dbus.UInt32(len(self.received))

    @dbus.service.method("org.freedesktop.Notifications", out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.signal("org.freedesktop.Notifications", signature="us")
    def ActionInvoked(self, notification, action):
        pass


notifications = NotificationServer()
dock = []  # (time, progress, visible) of each launcher-entry update
bus.add_signal_receiver(
    lambda uri, properties: dock.append((time.monotonic(), float(properties.get("progress", -1)),
                                         bool(properties.get("progress-visible", False)), str(uri))),
    signal_name="Update", dbus_interface="com.canonical.Unity.LauncherEntry")
announced = []  # what a screen reader speaks without the focus: notifications shown


def on_event(event):
    try:
        if event.detail1 and event.source.getRole() == pyatspi.ROLE_NOTIFICATION:
            announced.append(event.source.name)
    except GLib.Error:
        pass  # the program has just ended


pyatspi.Registry.registerEventListener(on_event, "object:state-changed:showing")

# --- The program ---------------------------------------------------------------
installer = os.path.join(WORK, "SampleStudioSetup.pkg")
with open(installer, "wb") as out:
    out.write(os.urandom(52 * MIB))
opener = os.path.join(WORK, "bin", "xdg-open")
os.makedirs(os.path.dirname(opener))
with open(opener, "w") as out:
    out.write('#!/bin/sh\nprintf "%s\\n" "$1" >>"' + WORK + '/opened"\n')
os.chmod(opener, 0o755)


class Service:
    """The reference service with a scenario the test rewrites as it goes."""

    def __init__(self, *lines):
        self.folder = tempfile.mkdtemp(dir=WORK)
        self.scenario = os.path.join(self.folder, "scenario")
        self.write(*lines)
        self.process = start([SERVICE, "--installer", installer, "--state-dir", self.folder,
                              "--scenario", self.scenario], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.process.stdout.readline()  # "listening ...", once it listens
        with open(os.path.join(self.folder, "port")) as port:
            self.host = "127.0.0.1:" + port.read().strip()

    def write(self, *lines):
        with open(self.scenario, "w") as out:
            out.write("\n".join(lines) + "\n")

    def change(self, *lines):
        self.write(*lines)
        self.process.send_signal(signal.SIGHUP)

    def stop(self):
        self.process.terminate()
        self.process.wait()


def run_program(service, name):
    home = os.path.join(WORK, "home-" + name)
    for folder in (".config", "Downloads", "run"):
        os.makedirs(os.path.join(home, folder), mode=0o700)
    with open(os.path.join(home, ".config", "user-dirs.dirs"), "w") as out:
        out.write('XDG_DOWNLOAD_DIR="$HOME/Downloads"\n')
    env = {"PATH": os.path.dirname(opener) + ":/usr/bin:/bin", "HOME": home, "LANG": "C.UTF-8",
           "XDG_DATA_HOME": home + "/.local/share", "XDG_CONFIG_HOME": home + "/.config",
           "XDG_CACHE_HOME": home + "/.cache", "XDG_RUNTIME_DIR": home + "/run",
           "DISPLAY": os.environ["DISPLAY"], "DBUS_SESSION_BUS_ADDRESS": bus_address, "QT_QPA_PLATFORM": "xcb",
           "OVDOWNLOADER_SERVICE_HOST": service.host, "OVDOWNLOADER_CA_FILE": service.folder + "/ca.pem"}
    del dock[:], announced[:], notifications.received[:]
    log = open(os.path.join(WORK, "program.log"), "a")
    return start([BUNDLE + "/Contents/MacOS/OVDownloader"], env=env, stdout=log, stderr=subprocess.STDOUT), home


# --- Reading the tree and the keyboard ------------------------------------------
def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "OVDownloader":
            return app
    return None


def read_tree():
    """(depth, role, name, description, value, states) of everything showing, window by window."""
    rows = []

    def walk(node, depth):
        states = node.getState()
        if not states.contains(pyatspi.STATE_SHOWING):
            return
        try:
            value = node.queryValue().currentValue
        except NotImplementedError:
            value = None
        flags = [flag for state, flag in ((pyatspi.STATE_FOCUSED, "focused"), (pyatspi.STATE_ACTIVE, "active"),
                                          (pyatspi.STATE_SENSITIVE, "enabled")) if states.contains(state)]
        rows.append((depth, node.getRoleName(), node.name, node.description, value, flags))
        for child in node:
            walk(child, depth + 1)

    try:
        for window in application() or []:
            walk(window, 0)
    except GLib.Error:
        return []  # the program has ended
    return rows


def show_tree(state, rows, always=False):
    if PRINT_TREES or always:
        print("AT-SPI tree, " + state + ":")
        for depth, role, name, description, value, flags in rows:
            extra = (" desc=%r" % description if description else "") + (" value=%g" % value if value is not None else "")
            print("  " + "  " * depth + "[%s] %r%s %s" % (role, name, extra, " ".join(flags)))


def find(rows, role, name):
    return next((row for row in rows if row[1] == role and row[2] == name), None)


def tree_shows(role, name, *flags):
    def test():
        row = find(read_tree(), role, name)
        return row is not None and all(flag in row[5] for flag in flags)
    return test


def expect_tree(state, expected):
    """Each (role, name, description or None, flags) must show, with those flags."""
    rows = read_tree()
    show_tree(state, rows)
    for role, name, description, flags in expected:
        row = find(rows, role, name)
        check(row is not None, "%s: no %s named %r" % (state, role, name))
        if row is not None:
            check(description is None or row[3] == description,
                  "%s: %r is described %r, not %r" % (state, name, row[3], description))
            check(all(flag in row[5] for flag in flags), "%s: %r is %s, not %s" % (state, name, row[5], flags))
    return rows


def window_id(title):
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                         capture_output=True, text=True).stdout.split()
    return ids[-1] if ids else None


def focus(title):
    subprocess.run(["xdotool", "windowfocus", "--sync", window_id(title)], check=True)


def to_background():
    """Another window takes the keyboard: the program is no longer in front."""
    root = subprocess.run(["xdotool", "search", "--maxdepth", "0", "--name", ""], capture_output=True,
                          text=True).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", root], check=True)


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "50"] + list(names), check=True)


def dock_shows(visible):
    return lambda: dock and dock[-1][2] == visible


def labels(*texts):
    return [("label", text, None, []) for text in texts]


PREPARING = "Please wait for preparing your downloading..."
COUNTDOWN = "Your download will start in %d second(s)."
DOWNLOADING = "Your program is downloading now..."
COMPLETE = "Download process is complete..."
LEAVE = "Are you sure you want to cancel the download process?"
CONNECTION = ("Orvalen Downloader could not complete the download process. Check your Internet "
              "connection and firewall settings, and then try again.")


def walk():
    # Answers wait while the window is photographed preparing; bodies stop
    # after a while until the test lets them go on.
    service = Service("answer-delay-ms = 2500", "hold = on", "hold-after-bytes = 262144")
    # The dock's updates as the bus delivers them, timed by a listener that does nothing else.
    monitor_log = os.path.join(WORK, "monitor.log")
    monitor = start(["dbus-monitor", "--address", bus_address,
                     "type='signal',interface='com.canonical.Unity.LauncherEntry',member='Update'"],
                    stdout=open(monitor_log, "w"))
    program, home = run_program(service, "walk")
    wait_for(tree_shows("label", PREPARING), 30, "the preparing state")
    expect_tree("preparing", [("frame", TITLE, None, ["active"])] + labels("Sample Studio 1.0") +
                [("label", "0.00 MB of 0.00 MB", "Downloaded size", []),
                 ("progress bar", "Download progress", None, []), ("push button", "Start Now", None, []),
                 ("push button", "Pause", None, [])])
    service.change("hold = on", "hold-after-bytes = 262144", "fail-at-byte = %d" % (50 * MIB), "fail-status = 404")

    wait_for(tree_shows("push button", "Start Now", "focused"), 30, "the countdown")
    rows = expect_tree("countdown", labels(COUNTDOWN % 15) + [
        ("label", home + "/Downloads/SampleStudioSetup.pkg", "Saved to", []),
        ("label", "0.00 MB of 52.00 MB", "Downloaded size", []),
        ("push button", "Start Now", "Start the download now", ["focused", "enabled"])])
    check(find(rows, "push button", "Pause") and "enabled" not in find(rows, "push button", "Pause")[5],
          "countdown: Pause is enabled")
    wait_for(tree_shows("label", COUNTDOWN % 10), 10, "the countdown's next shown second")
    check(not dock, "the dock showed progress before the transfer: %s" % dock)
    keys("space")  # Start Now

    wait_for(lambda: dock and dock[-1][2] and dock[-1][1] > 0, 30, "progress in the dock")
    wait_for(lambda: any(r[1] == "progress bar" and r[4] for r in read_tree()), 30, "progress in the window")
    rows = expect_tree("downloading", labels(DOWNLOADING) + [
        ("push button", "Pause", None, ["focused", "enabled"]),
        ("push button", "Cancel", "Cancel the download", ["enabled"])])
    check(find(rows, "push button", "Start Now") is None, "downloading: Start Now still shows")
    keys("space")  # Pause
    wait_for(tree_shows("push button", "Resume", "focused"), 10, "the paused state")
    expect_tree("paused", [("push button", "Resume", None, ["focused", "enabled"])])
    wait_for(dock_shows(False), 10, "the progress hidden while paused")
    keys("space")  # Resume
    wait_for(dock_shows(True), 10, "the progress shown again")

    keys("ctrl+q")
    wait_for(tree_shows("alert", "OVDownloader", "active"), 10, "the leave confirmation")
    expect_tree("leave confirmation", [("alert", "OVDownloader", LEAVE, ["active"]), ("label", LEAVE, None, []),
                                       ("push button", "No", None, ["focused"]), ("push button", "Yes", None, [])])
    keys("Return")  # No, the default
    wait_for(lambda: find(read_tree(), "alert", "OVDownloader") is None, 10, "the confirmation to close")
    focus(TITLE)  # what a window manager does when a dialog closes
    wait_for(tree_shows("frame", TITLE, "active"), 10, "the window in front again")

    service.change("fail-at-byte = %d" % (50 * MIB), "fail-status = 404")  # the rest comes, but one part fails
    wait_for(tree_shows("label", CONNECTION), 60, "the download-failed dialog")
    expect_tree("download failed", [("alert", "OVDownloader", CONNECTION, ["active"]),
                                    ("push button", "Retry", None, ["focused"]), ("push button", "Cancel", None, [])])
    wait_for(dock_shows(False), 10, "the progress hidden while the dialog asks")
    check(not notifications.received, "notified while the window was in front: %s" % notifications.received)
    service.change("hold = on", "hold-after-bytes = 262144")  # the last part comes, but waits
    keys("Return")  # Retry
    wait_for(lambda: find(read_tree(), "alert", "OVDownloader") is None, 10, "the dialog to close")
    to_background()
    wait_for(lambda: not tree_shows("frame", TITLE, "active")(), 10, "the window behind")
    service.change()
    program.wait(60)

    check(program.returncode == 0, "walk: the program ended with %s" % program.returncode)
    with open(installer, "rb") as source, open(home + "/Downloads/SampleStudioSetup.pkg", "rb") as landed:
        check(source.read() == landed.read(), "walk: the installer did not arrive whole")
    wait_for(lambda: notifications.received, 5, "the notification of the end")
    check(notifications.received == [{"app": "OVDownloader", "icon": DESKTOP_ID, "summary": TITLE, "body": COMPLETE,
                                      "actions": ["default", "Show"], "desktop-entry": DESKTOP_ID}],
          "walk: notifications %s" % notifications.received)
    check(dock and not dock[-1][2], "walk: the dock still shows progress at the end: %s" % dock[-1:])
    check(all(u[3] == "application://%s.desktop" % DESKTOP_ID for u in dock), "walk: updates for another entry")
    monitor.terminate()
    monitor.wait()
    with open(monitor_log) as text:
        times = [float(line.split("time=")[1].split()[0]) for line in text if "member=Update" in line]
    check(len(times) == len(dock), "walk: the monitor saw %d updates, the dock %d" % (len(times), len(dock)))
    gaps = [later - earlier for earlier, later in zip(times, times[1:])]
    check(all(gap >= 0.25 for gap in gaps), "walk: more than 4 dock updates a second: %s" % gaps)
    # The preparing state is set before the window shows, and the complete
    # state just before the program ends: whether a screen reader hears those
    # depends on how soon its bus is there, and how long the program stays.
    check([a for a in announced if a not in (PREPARING, COMPLETE)] == [COUNTDOWN % 15, DOWNLOADING],
          "walk: announced %s" % announced)
    service.stop()


def server_error():
    service = Service("answer-delay-ms = 3000", "link = error-000")
    program, _ = run_program(service, "server-error")
    wait_for(tree_shows("frame", TITLE, "active"), 30, "the window")
    to_background()
    wait_for(lambda: not tree_shows("frame", TITLE, "active")(), 10, "the window behind")
    message = ("The Sample Studio download is currently unavailable. Please try again later. If this issue "
               "persists, go to https://www.orvalen.example/support and try downloading it again.")
    wait_for(lambda: notifications.received, 30, "the notification of the failure")
    check([n["body"] for n in notifications.received] == [message], "server error: notified %s" % notifications.received)
    wait_for(tree_shows("push button", "OK", "focused"), 10, "the server-error dialog")
    to_background()  # still elsewhere when the notification is clicked
    wait_for(lambda: not tree_shows("alert", "OVDownloader", "active")(), 10, "the dialog behind")
    # The click: on a desktop, the shell that shows the notification lets the
    # program take the focus. Here, with no window manager, the X server
    # grants a focus request only when it is newer than the last focus change:
    # the pointer passing over the program's window gives it that time.
    subprocess.run(["xdotool", "mousemove", "--window", window_id("^OVDownloader$"), "5", "5"], check=True)
    expect_tree("server error", [("alert", "OVDownloader", message, []), ("label", message, None, []),
                                 ("push button", "OK", None, [])])
    notifications.ActionInvoked(dbus.UInt32(1), "default")
    wait_for(tree_shows("alert", "OVDownloader", "active"), 10, "the dialog in front")
    keys("Return")
    program.wait(30)
    check(program.returncode == 0, "server error: the program ended with %s" % program.returncode)
    service.stop()


def need_update():
    service = Service("link = error-001", "update-link = https://www.orvalen.example/OVDownloader.dmg")
    program, _ = run_program(service, "need-update")
    wait_for(tree_shows("push button", "Update", "focused"), 30, "the need-update dialog")
    focus("^OVDownloader$")
    text = ("There is a new version of the Downloader available. You must complete the update process to "
            "continue the download process. Select [Update] to get the new version now, or [Close] to exit the "
            "Downloader.")
    expect_tree("need update", [("alert", "OVDownloader", text, ["active"]), ("label", text, None, []),
                                ("push button", "Update", None, ["focused"]), ("push button", "Close", None, [])])
    keys("Tab", "space")  # Close
    program.wait(30)
    check(program.returncode == 0, "need update: the program ended with %s" % program.returncode)
    service.stop()


passed = 0
try:
    for part in (walk, server_error, need_update):
        print("desktop test: " + part.__name__.replace("_", "-"), flush=True)
        failed_before = len(FAILURES)
        part()
        passed += len(FAILURES) == failed_before
except AssertionError as error:
    check(False, str(error))
    show_tree("at the failure", read_tree(), always=True)
finally:
    if passed < 3:
        for log in ("program.log", "helpers.log"):
            with open(os.path.join(WORK, log), errors="replace") as text:
                print("--- " + log + " (last lines)\n" + "".join(text.readlines()[-40:]))
    for child in reversed(CHILDREN):
        try:
            os.killpg(child.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        child.wait()
    shutil.rmtree(WORK, ignore_errors=True)

print("%d passed, %d failed" % (passed, 3 - passed))
sys.exit(0 if passed == 3 else 1)
