#!/usr/bin/python3
"""The real bundle on a desktop of the test's own, as a screen reader, a dock
and a notification area meet it: Xvfb, a session bus (dbus-daemon), the AT-SPI
bus (at-spi2-core), a notification server and a dock listener on that bus, and
the reference download service. Two program runs, driven by keys (xdotool):
walk (preparing, countdown, downloading, paused, the leave confirmation, a
failed transfer and its Retry, the end while the window is behind) and
server-error (the dialog while the window is behind, a click on its
notification). In each state pyatspi reads the window's tree.

  desktop_test.py <bundle> <ov-refservice> [--tree: print every tree read]
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
DESKTOP_ID, TITLE, MIB = "com.orvalen.OVDownloader", "Orvalen Sample Studio Downloader", 1024 * 1024
PREPARING = "Please wait for preparing your downloading..."
COUNTDOWN = "Your download will start in %d second(s)."
DOWNLOADING = "Your program is downloading now..."
COMPLETE = "Download process is complete..."
LEAVE = "Are you sure you want to cancel the download process?"
CONNECTION = ("Orvalen Downloader could not complete the download process. Check your Internet "
              "connection and firewall settings, and then try again.")
WORK = tempfile.mkdtemp(prefix="ovdownloader-desktop.")
CHILDREN, FAILURES = [], []


def start(args, **kwargs):
    """A helper in a process group of its own, ended with the test; its errors go to helpers.log."""
    kwargs.setdefault("stderr", open(os.path.join(WORK, "helpers.log"), "a"))
    CHILDREN.append(subprocess.Popen(args, start_new_session=True, **kwargs))
    return CHILDREN[-1]


def first_line(args):
    """Starts a helper that prints one line (a display, an address) on {fd} once it is ready."""
    reader, writer = os.pipe()
    start([a.replace("{fd}", str(writer)) for a in args], pass_fds=(writer,))
    os.close(writer)
    with os.fdopen(reader) as stream:
        return stream.readline().strip()


def wait_for(condition, seconds, what):
    """Runs the event loop until `condition` holds, re-checked at each event and every
    50 ms (for what a query answers rather than an event)."""
    deadline, tick = time.monotonic() + seconds, GLib.timeout_add(50, lambda: True)
    try:
        while not condition():
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for " + what)
            GLib.MainContext.default().iteration(True)
    finally:
        GLib.source_remove(tick)


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print("FAILED: " + message)


# --- The desktop ------------------------------------------------------------------
os.environ["DISPLAY"] = ":" + first_line(["Xvfb", "-displayfd", "{fd}", "-screen", "0", "1280x900x24",
                                          "-nolisten", "tcp"])
BUS = first_line(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address={fd}",
                  "--address=unix:path=" + WORK + "/bus"])
os.environ["DBUS_SESSION_BUS_ADDRESS"] = BUS
DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(BUS)
start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
wait_for(lambda: bus.name_has_owner("org.a11y.Bus"), 20, "the accessibility bus")
a11y = bus.get_object("org.a11y.Bus", "/org/a11y/bus")
# What a screen reader does when it starts: applications then expose their tree.
a11y.Set("org.a11y.Status", "ScreenReaderEnabled", True, dbus_interface=dbus.PROPERTIES_IFACE)
os.environ["AT_SPI_BUS_ADDRESS"] = str(a11y.GetAddress(dbus_interface="org.a11y.Bus"))
import pyatspi  # noqa: E402  (once the accessibility bus is known)


class NotificationServer(dbus.service.Object):
    def __init__(self):
        super().__init__(dbus.service.BusName("org.freedesktop.Notifications", bus), "/org/freedesktop/Notifications")
        self.received = []

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.received.append({"app": str(app), "icon": str(icon), "summary": str(summary), "body": str(body),
                              "actions": [str(a) for a in actions], "desktop-entry": str(hints.get("desktop-entry"))})
        return dbus.UInt32(len(self.received))

    @dbus.service.signal("org.freedesktop.Notifications", signature="us")
    def ActionInvoked(self, notification, action):
        pass


notifications, dock, announced = NotificationServer(), [], []
bus.add_signal_receiver(lambda uri, p: dock.append((str(uri), float(p["progress"]), bool(p["progress-visible"]))),
                        signal_name="Update", dbus_interface="com.canonical.Unity.LauncherEntry")


def on_showing(event):
    """What a screen reader speaks wherever the focus is: a notification that shows."""
    try:
        if event.detail1 and event.source.getRole() == pyatspi.ROLE_NOTIFICATION:
            announced.append(event.source.name)
    except GLib.Error:
        pass  # the program has just ended


pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")

# --- The program --------------------------------------------------------------------
INSTALLER = os.path.join(WORK, "SampleStudioSetup.pkg")
with open(INSTALLER, "wb") as out:
    out.write(os.urandom(52 * MIB))
os.makedirs(WORK + "/bin")
with open(WORK + "/bin/xdg-open", "w") as out:
    out.write('#!/bin/sh\nprintf "%s\\n" "$1" >>"' + WORK + '/opened"\n')
os.chmod(WORK + "/bin/xdg-open", 0o755)


class Service:
    """The reference service; change() rewrites its scenario and has it read again."""

    def __init__(self, *lines):
        self.folder = tempfile.mkdtemp(dir=WORK)
        self.change(*lines, reload=False)
        self.process = start([SERVICE, "--installer", INSTALLER, "--state-dir", self.folder, "--scenario",
                              self.folder + "/scenario"], stdout=subprocess.PIPE)
        self.process.stdout.readline()  # "listening ...", once it listens
        with open(self.folder + "/port") as port:
            self.host = "127.0.0.1:" + port.read().strip()

    def change(self, *lines, reload=True):
        with open(self.folder + "/scenario", "w") as out:
            out.write("\n".join(lines) + "\n")
        if reload:
            self.process.send_signal(signal.SIGHUP)


def run_program(service, name):
    home = os.path.join(WORK, "home-" + name)
    for folder in (".config", "Downloads", "run"):
        os.makedirs(os.path.join(home, folder), mode=0o700)
    with open(home + "/.config/user-dirs.dirs", "w") as out:
        out.write('XDG_DOWNLOAD_DIR="$HOME/Downloads"\n')
    env = {"PATH": WORK + "/bin:/usr/bin:/bin", "HOME": home, "LANG": "C.UTF-8", "XDG_DATA_HOME": home + "/.local/share",
           "XDG_CONFIG_HOME": home + "/.config", "XDG_CACHE_HOME": home + "/.cache", "XDG_RUNTIME_DIR": home + "/run",
           "DISPLAY": os.environ["DISPLAY"], "DBUS_SESSION_BUS_ADDRESS": BUS, "QT_QPA_PLATFORM": "xcb",
           "OVDOWNLOADER_SERVICE_HOST": service.host, "OVDOWNLOADER_CA_FILE": service.folder + "/ca.pem"}
    del dock[:], announced[:], notifications.received[:]
    log = open(os.path.join(WORK, "program.log"), "a")
    return start([BUNDLE + "/Contents/MacOS/OVDownloader"], env=env, stdout=log, stderr=log), home


# --- Reading the tree, pressing keys ---------------------------------------------------
def read_tree():
    """(depth, role, name, description, value, flags) of everything showing, window by window."""
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
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "OVDownloader":
                for window in app:
                    walk(window, 0)
    except GLib.Error:
        return []  # the program has ended
    return rows


def show_tree(state, rows):
    print("AT-SPI tree, " + state + ":")
    for depth, role, name, description, value, flags in rows:
        print("  " * (depth + 1) + "[%s] %r%s%s %s" % (role, name, " desc=%r" % description if description else "",
                                                         " value=%g" % value if value is not None else "", " ".join(flags)))


def find(rows, role, name):
    return next((row for row in rows if row[1] == role and row[2] == name), None)


def shows(role, name, *flags):
    def test():
        row = find(read_tree(), role, name)
        return row is not None and all(flag in row[5] for flag in flags)
    return test


def expect_tree(state, expected):
    """Each (role, name, description or None, flags) shows, with at least those flags."""
    rows = read_tree()
    if "--tree" in sys.argv:
        show_tree(state, rows)
    for role, name, description, flags in expected:
        row = find(rows, role, name)
        check(row is not None and description in (None, row[3]) and all(f in row[5] for f in flags),
              "%s: no %s %r described %r and %s, but %s" % (state, role, name, description, flags, row))
    return rows


def xdotool(*args):
    return subprocess.run(["xdotool"] + list(args), check=True, capture_output=True, text=True).stdout.split()


def focus(title):
    """What a window manager does when a dialog closes, or a user clicks a window."""
    xdotool("windowfocus", "--sync", xdotool("search", "--onlyvisible", "--name", title)[-1])


def to_background():
    """Another window takes the keyboard: the program is no longer in front."""
    xdotool("windowfocus", xdotool("search", "--maxdepth", "0", "--name", "")[0])


def keys(*names):
    xdotool("key", "--delay", "50", *names)


def label(text, description=None):
    return ("label", text, description, [])


def dialog(state, message, *buttons):
    return expect_tree(state, [("alert", "OVDownloader", message, []), label(message)] +
                       [("push button", b, None, ["focused"] if i == 0 else []) for i, b in enumerate(buttons)])


# --- The runs ---------------------------------------------------------------------------
def walk():
    # Answers wait while the test reads the preparing state; bodies stop after a while until released.
    service = Service("answer-delay-ms = 2500", "hold = on", "hold-after-bytes = 262144")
    # The dock's updates timed by a listener that does nothing else.
    monitor = start(["dbus-monitor", "--address", BUS, "type='signal',interface='com.canonical.Unity.LauncherEntry'"],
                    stdout=open(WORK + "/monitor.log", "w"))
    program, home = run_program(service, "walk")
    wait_for(shows("label", PREPARING), 30, "the preparing state")
    expect_tree("preparing", [("frame", TITLE, None, ["active"]), label("Sample Studio 1.0"),
                              label("0.00 MB of 0.00 MB", "Downloaded size"),
                              ("progress bar", "Download progress", None, []), ("push button", "Start Now", None, [])])
    # The last part (from 50 MiB) will fail once, after the test has released the others.
    service.change("hold = on", "hold-after-bytes = 262144", "fail-at-byte = %d" % (50 * MIB), "fail-status = 404")

    wait_for(shows("push button", "Start Now", "focused"), 30, "the countdown")
    rows = expect_tree("countdown", [label(COUNTDOWN % 15), label("0.00 MB of 52.00 MB", "Downloaded size"),
                                     label(home + "/Downloads/SampleStudioSetup.pkg", "Saved to"),
                                     ("push button", "Start Now", "Start the download now", ["focused", "enabled"])])
    check("enabled" not in (find(rows, "push button", "Pause") or [[]])[-1], "countdown: Pause is enabled")
    wait_for(shows("label", COUNTDOWN % 10), 10, "the countdown's next shown second")
    check(not dock, "the dock showed progress before the transfer: %s" % dock)
    keys("space")  # Start Now

    wait_for(lambda: dock and dock[-1][2] and dock[-1][1] > 0, 30, "progress in the dock")
    wait_for(lambda: any(r[1] == "progress bar" and r[4] for r in read_tree()), 30, "progress in the window")
    rows = expect_tree("downloading", [label(DOWNLOADING), ("push button", "Pause", None, ["focused", "enabled"]),
                                       ("push button", "Cancel", "Cancel the download", ["enabled"])])
    check(find(rows, "push button", "Start Now") is None, "downloading: Start Now still shows")
    keys("space")  # Pause
    wait_for(shows("push button", "Resume", "focused"), 10, "the paused state")
    expect_tree("paused", [("push button", "Resume", None, ["focused", "enabled"])])
    wait_for(lambda: not dock[-1][2], 10, "the progress hidden while paused")
    keys("space")  # Resume
    wait_for(lambda: dock[-1][2], 10, "the progress shown again")

    keys("ctrl+q")
    wait_for(shows("alert", "OVDownloader", "active"), 10, "the leave confirmation")
    dialog("leave confirmation", LEAVE, "No", "Yes")
    keys("Return")  # No, the default
    wait_for(lambda: not find(read_tree(), "alert", "OVDownloader"), 10, "the confirmation to close")
    focus(TITLE)
    wait_for(shows("frame", TITLE, "active"), 10, "the window in front again")

    service.change("fail-at-byte = %d" % (50 * MIB), "fail-status = 404")
    wait_for(shows("label", CONNECTION), 60, "the download-failed dialog")
    dialog("download failed", CONNECTION, "Retry", "Cancel")
    wait_for(lambda: not dock[-1][2], 10, "the progress hidden while the dialog asks")
    check(not notifications.received, "notified while the window was in front: %s" % notifications.received)
    service.change("hold = on", "hold-after-bytes = 262144")  # the last part comes, but waits
    keys("Return")  # Retry
    wait_for(lambda: not find(read_tree(), "alert", "OVDownloader"), 10, "the dialog to close")
    to_background()
    wait_for(lambda: not shows("frame", TITLE, "active")(), 10, "the window behind")
    service.change()
    program.wait(60)

    check(program.returncode == 0, "walk: the program ended with %s" % program.returncode)
    with open(INSTALLER, "rb") as source, open(home + "/Downloads/SampleStudioSetup.pkg", "rb") as landed:
        check(source.read() == landed.read(), "walk: the installer did not arrive whole")
    wait_for(lambda: notifications.received, 5, "the notification of the end")
    check(notifications.received == [{"app": "OVDownloader", "icon": DESKTOP_ID, "summary": TITLE, "body": COMPLETE,
                                      "actions": ["default", "Show"], "desktop-entry": DESKTOP_ID}],
          "walk: notifications %s" % notifications.received)
    check(not dock[-1][2] and {u[0] for u in dock} == {"application://%s.desktop" % DESKTOP_ID},
          "walk: the dock at the end: %s" % dock[-1:])
    monitor.terminate()
    monitor.wait()
    with open(WORK + "/monitor.log") as text:
        times = [float(line.split("time=")[1].split()[0]) for line in text if "member=Update" in line]
    gaps = [later - earlier for earlier, later in zip(times, times[1:])]
    check(len(times) == len(dock) and all(gap >= 0.25 for gap in gaps), "walk: dock updates %s apart" % gaps)
    # The preparing state comes before the window shows, the complete state just before the
    # program ends: whether those are heard depends on how soon the screen reader's bus is there.
    check([a for a in announced if a not in (PREPARING, COMPLETE)] == [COUNTDOWN % 15, DOWNLOADING],
          "walk: announced %s" % announced)


def server_error():
    program, _ = run_program(Service("answer-delay-ms = 3000", "link = error-000"), "server-error")
    wait_for(shows("frame", TITLE, "active"), 30, "the window")
    to_background()
    wait_for(lambda: not shows("frame", TITLE, "active")(), 10, "the window behind")
    message = ("The Sample Studio download is currently unavailable. Please try again later. If this issue "
               "persists, go to https://www.orvalen.example/support and try downloading it again.")
    wait_for(lambda: notifications.received, 30, "the notification of the failure")
    check([n["body"] for n in notifications.received] == [message], "server error: notified %s" % notifications.received)
    wait_for(shows("push button", "OK", "focused"), 10, "the server-error dialog")
    dialog("server error", message, "OK")
    to_background()  # still elsewhere when the notification is clicked
    wait_for(lambda: not shows("alert", "OVDownloader", "active")(), 10, "the dialog behind")
    # On a desktop, the shell showing the notification lets the program take the focus. With no
    # window manager, the X server grants a focus request only when it is newer than the last
    # focus change: the pointer passing over the program's window gives it that time.
    xdotool("mousemove", "--window", xdotool("search", "--onlyvisible", "--name", "^OVDownloader$")[-1], "5", "5")
    read_tree()
    notifications.ActionInvoked(dbus.UInt32(1), "default")  # the click
    wait_for(shows("alert", "OVDownloader", "active"), 10, "the dialog in front")
    keys("Return")
    check(program.wait(30) == 0, "server error: the program ended with %s" % program.returncode)


PARTS, passed = (walk, server_error), 0
try:
    for part in PARTS:
        print("desktop test: " + part.__name__.replace("_", "-"), flush=True)
        failed_before = len(FAILURES)
        part()
        passed += len(FAILURES) == failed_before
except AssertionError as error:
    check(False, str(error))
    show_tree("at the failure", read_tree())
finally:
    if passed < len(PARTS):
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
print("%d passed, %d failed" % (passed, len(PARTS) - passed))
sys.exit(0 if passed == len(PARTS) else 1)
