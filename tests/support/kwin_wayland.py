#!/usr/bin/python3
"""The agent in KWin on Wayland, headless, for tests.

kwin_wayland.py ROOT runs `kwin_wayland --virtual` in a private session
(its own session bus, home and settings), from a copy of the binary without
its file capability, which a container may refuse to run. It starts
ROOT/bin/quillo-bar with its window open, gives the focus to another
program's window, relaunches the agent without any token, as a terminal
does, and prints what KWin shows, read through KWin's own scripting:

  relaunch S   "focused", "attention" (the window asks for it) or "none"

or a line "skip: WHY" where KWin is missing or does not start. Everything it
starts it stops; it runs in a process group of its own, which the caller may
kill as a whole.
"""
import json
import os
import re
import shutil
import subprocess
import sys

root_dir = sys.argv[1]
if not os.path.exists("/usr/bin/kwin_wayland"):
    print("skip: kwin_wayland is not installed (scripts/install-deps.sh installs kwin-wayland)",
          flush=True)
    sys.exit(0)

from gi.repository import Gio, GLib  # noqa: E402

from desktop_session import bus_daemon, environment, finish, folder, start, wait_for  # noqa: E402

scripts = 0


def run_script(body):
    """Runs a KWin script; what it prints, as JSON, comes back through KWin's
    log (None when KWin does not answer)."""
    global scripts
    scripts += 1
    mark = f"quillo-{scripts}"
    with open(f"{folder}/{mark}.js", "w") as script:
        script.write(f"print('{mark} ' + JSON.stringify((() => {{ {body} }})()));")
    try:
        number = bus.call_sync("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                               "loadScript", GLib.Variant("(ss)", (script.name, mark)), None,
                               Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
        bus.call_sync("org.kde.KWin", f"/{number}", "org.kde.kwin.Script", "run", None, None,
                      Gio.DBusCallFlags.NONE, 5000, None)
    except GLib.Error:
        return None

    def printed():
        with open(f"{folder}/kwin.log", errors="replace") as log:
            found = re.search(rf"^js: {mark} (.*)$", log.read(), re.M)
        return found and found.group(1)
    result = wait_for(printed, 5)
    return json.loads(result) if result and result != "undefined" else None


def window_of(pid):
    """[active, demands attention] of that program's window, or None."""
    return run_script(f"""const w = workspace.clientList().find(c => c.pid === {pid} &&
        c.normalWindow && !c.minimized);
        return w ? [w.active, w.demandsAttention] : null;""")


def activate(pid):
    """The window of that program takes the focus, as a click would give it."""
    return run_script(f"""const w = workspace.clientList().find(c => c.pid === {pid});
        if (w) workspace.activeClient = w;
        return w ? w.active : false;""")


def outcome(pid):
    state = wait_for(lambda: (window_of(pid) or [False])[0] and [True], 5)
    state = state or window_of(pid) or [False, False]
    return "focused" if state[0] else "attention" if state[1] else "none"


def main():
    global bus
    config = environment["XDG_CONFIG_HOME"]
    os.makedirs(f"{config}/quillo", exist_ok=True)
    environment["DBUS_SESSION_BUS_ADDRESS"] = bus_daemon("session")
    environment["QT_LOGGING_RULES"] = "kwin_scripting=true"
    bus = Gio.DBusConnection.new_for_address_sync(
        environment["DBUS_SESSION_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    # KWin loads its platform plugin only under its own name.
    os.makedirs(f"{folder}/kwin")
    shutil.copy("/usr/bin/kwin_wayland", f"{folder}/kwin/kwin_wayland")
    display = f"quillo-kwin-{os.getpid()}"
    with open(f"{folder}/kwin.log", "w") as log:
        kwin = start([f"{folder}/kwin/kwin_wayland", "--virtual", "--no-lockscreen",
                      "--width", "1280", "--height", "800", "--socket", display],
                     stdout=log, stderr=log)

    def scripting():
        try:
            return bus.call_sync("org.kde.KWin", "/Scripting",
                                 "org.freedesktop.DBus.Introspectable", "Introspect", None, None,
                                 Gio.DBusCallFlags.NONE, 2000, None)
        except GLib.Error:
            return kwin.poll() is not None and "gone"
    if wait_for(scripting, 30) in (None, "gone"):
        print("skip: kwin_wayland --virtual did not start", flush=True)
        return
    environment.update({"WAYLAND_DISPLAY": display, "QT_QPA_PLATFORM": "wayland",
                        "XDG_SESSION_TYPE": "wayland", "XDG_CURRENT_DESKTOP": "KDE"})
    del environment["QT_LOGGING_RULES"]

    # The agent's first run opens its window; another program's window, as
    # large as the screen, takes the focus from it.
    agent = start([f"{root_dir}/bin/quillo-bar"])
    other = start(["/usr/bin/python3", "-c", "import gi; gi.require_version('Gtk', '3.0'); "
                   "from gi.repository import Gtk; w = Gtk.Window(title='other'); w.maximize(); "
                   "w.show_all(); Gtk.main()"], env=dict(environment, GDK_BACKEND="wayland"))
    if not wait_for(lambda: window_of(agent.pid), 20):
        print("relaunch no-window", flush=True)
        return
    if not wait_for(lambda: activate(other.pid) and window_of(agent.pid) == [False, False], 10):
        print("relaunch other-window-not-focused", flush=True)
        return
    subprocess.run([f"{root_dir}/bin/quillo-bar"], env=environment, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print(f"relaunch {outcome(agent.pid)}", flush=True)


try:
    main()
finally:
    finish()
