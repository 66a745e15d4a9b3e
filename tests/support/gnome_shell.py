#!/usr/bin/python3
"""The agent in GNOME Shell on Wayland, headless, for tests.

gnome_shell.py ROOT STARTS runs gnome-shell with a virtual monitor in a
private session (private system and session buses, home and settings) with
the AppIndicator extension on, and a test extension that opens the shell's
Eval. It installs a desktop entry that starts ROOT/bin/quillo-bar, and prints
what the shell shows, one line each:

  tray LEVELS...   for each of STARTS starts of the agent, "light" when the
                   tray icon is drawn in the bar's own light colour, "grey"
                   when it is drawn as the file or pixels have it, "none"
                   when no icon came
  tray-held LEVEL  the same for a start held in gdb so that the extension
                   reads the item before the agent answers for it (where
                   gdb is installed; else a line "held-skip: WHY")
  entry APP        the shell's application for the agent's window
  shell-launch S   the shell launches the entry while another window has the
                   focus: S is "focused", "attention" (the window asks for
                   it) or "none"
  relaunch S       the same for a launch without any token, from a terminal

or a line "skip: WHY" where gnome-shell or the extension is missing or the
shell does not start. Everything it starts it stops; it runs in a process
group of its own, which the caller may kill as a whole.
"""
import json
import os
import shutil
import signal
import subprocess
import sys

root_dir, starts = sys.argv[1], int(sys.argv[2])
EXTENSION = "ubuntu-appindicators@ubuntu.com"
if shutil.which("gnome-shell") is None:
    print("skip: gnome-shell is not installed (scripts/install-deps.sh installs it)", flush=True)
    sys.exit(0)
if not os.path.isdir(f"/usr/share/gnome-shell/extensions/{EXTENSION}"):
    print("skip: gnome-shell-extension-appindicator is not installed", flush=True)
    sys.exit(0)

from gi.repository import Gio, GLib  # noqa: E402

from desktop_session import (bus_daemon, environment, finish, folder, start,  # noqa: E402
                             wait_for)



def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as file:
        file.write(text)


def evaluate(script):
    """The shell's Eval, or None when the shell does not answer."""
    try:
        ok, result = session.call_sync("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell",
                                       "Eval", GLib.Variant("(s)", (script,)), None,
                                       Gio.DBusCallFlags.NONE, 5000, None).unpack()
    except GLib.Error:
        return None
    return json.loads(result) if ok and result else None


def window_of(pid):
    """[focused, wants attention, application] of the agent's window."""
    return evaluate(f"""(() => {{
        const w = global.display.list_all_windows().find(w => w.get_pid() === {pid} &&
            w.get_window_type() === 0 && !w.minimized && w.showing_on_its_workspace());
        if (!w) return null;
        const app = imports.gi.Shell.WindowTracker.get_default().get_window_app(w);
        return ([w.has_focus(), w.demands_attention, app ? app.get_id() : '']);
    }})()""")


def outcome(pid):
    state = wait_for(lambda: (window_of(pid) or [False, False])[0] and window_of(pid), 5)
    state = state or window_of(pid) or [False, False, ""]
    return "focused" if state[0] else "attention" if state[1] else "none"


def focus_other():
    """A window of another program takes the focus, as a click would give it."""
    return wait_for(lambda: evaluate(f"""(() => {{
        const w = global.display.list_all_windows().find(w => w.get_pid() === {other.pid});
        if (!w) return null;
        w.activate(global.get_current_time());
        return (w.has_focus());
    }})()"""), 10)


def indicator_level():
    """How the tray icon is drawn: "light", "grey" or "none"."""
    box = evaluate("""(() => {
        const key = Object.keys(imports.ui.main.panel.statusArea)
            .find(k => k.includes('StatusNotifierItem'));
        if (!key) return null;
        const icon = imports.ui.main.panel.statusArea[key];
        const [x, y] = icon.get_transformed_position();
        const [w, h] = icon.get_transformed_size();
        return ([x, y, w, h].map(Math.round));
    })()""")
    if not box or None in box or box[2] == 0:
        return "none"
    shot = f"{folder}/tray.png"
    session.call_sync("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                      "org.gnome.Shell.Screenshot", "ScreenshotArea",
                      GLib.Variant("(iiiibs)", (*box, False, shot)), None,
                      Gio.DBusCallFlags.NONE, 10000, None)
    pixels = subprocess.run(["sh", "-c", f"pngtopnm {shot} | ppmtopgm | pnmnoraw"],
                            capture_output=True, text=True).stdout.split()
    levels = [int(value) for value in pixels[4:]]
    # The bar's text is near white; the file's own gray is 190.
    return "light" if sum(level >= 225 for level in levels) >= 30 else "grey"


def tray_start(held):
    """One start of the agent; held, its main thread waits two seconds in gdb
    between Qt's item registering with the watcher and the agent answering
    for it, so that the host reads the item first, as it does under load."""
    if held:
        commands = ["set non-stop on", "set startup-with-shell off", "set breakpoint pending on",
                    "break quillo::serveIconThemePath", "run", "shell sleep 2", "delete",
                    "continue"]
        debugger = start(["gdb", "-batch", "-nx"] + [f"-ex={command}" for command in commands] +
                         ["--args", f"{root_dir}/bin/quillo-bar"])
    else:
        agent = start([f"{root_dir}/bin/quillo-bar"])
    level = wait_for(lambda: (lambda seen: seen if seen == "light" else None)(indicator_level()),
                     12 if held else 8) or indicator_level()
    if held:
        for child in open(f"/proc/{debugger.pid}/task/{debugger.pid}/children").read().split():
            os.kill(int(child), signal.SIGTERM)
        debugger.wait(10)
    else:
        agent.terminate()
        agent.wait(10)
    wait_for(lambda: indicator_level() == "none", 10)
    return level


def main():
    global session, other
    data, config = environment["XDG_DATA_HOME"], environment["XDG_CONFIG_HOME"]
    environment.update({"XDG_DATA_DIRS": "/usr/local/share:/usr/share",
                        "GSETTINGS_BACKEND": "keyfile", "XDG_CURRENT_DESKTOP": "GNOME",
                        "XDG_SESSION_TYPE": "wayland"})
    write(f"{config}/glib-2.0/settings/keyfile", f"""[org/gnome/shell]
enabled-extensions=['{EXTENSION}', 'quillo-test@news.quillo']
welcome-dialog-last-shown-version='999'
""")
    extension = f"{data}/gnome-shell/extensions/quillo-test@news.quillo"
    write(f"{extension}/metadata.json", '{"uuid": "quillo-test@news.quillo", "name": "Quillo '
          'test", "description": "Opens Eval and screenshots to tests", "shell-version": ["43"]}')
    write(f"{extension}/extension.js", "function init() {}\n"
          "function enable() { global.context.unsafe_mode = true; }\nfunction disable() {}\n")
    entry = open(os.path.join(os.path.dirname(__file__),
                              "../../packaging/news.quillo.QuilloBar.desktop")).read()
    write(f"{data}/applications/news.quillo.QuilloBar.desktop",
          entry.replace("Exec=quillo-bar", f"Exec={root_dir}/bin/quillo-bar"))
    # The agent opens no window at its start: only its tray item.
    write(f"{config}/quillo/quillo-bar.conf", "[General]\ndidShowWelcome=true\n")
    environment["DBUS_SYSTEM_BUS_ADDRESS"] = bus_daemon("system")
    environment["DBUS_SESSION_BUS_ADDRESS"] = bus_daemon("session")
    session = Gio.DBusConnection.new_for_address_sync(
        environment["DBUS_SESSION_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    display = f"quillo-gnome-{os.getpid()}"
    start(["gnome-shell", "--headless", "--wayland", "--no-x11", "--virtual-monitor",
           "1280x800", f"--wayland-display={display}"])
    environment["WAYLAND_DISPLAY"] = display
    ready = wait_for(lambda: evaluate(f"""(imports.ui.main.extensionManager
        .lookup('{EXTENSION}')?.state === 1 && global.context.unsafe_mode)"""), 60)
    if not ready:
        print("skip: gnome-shell did not start with the AppIndicator extension", flush=True)
        return
    environment["QT_QPA_PLATFORM"] = "wayland"

    print("tray " + " ".join(tray_start(False) for _ in range(starts)), flush=True)
    if shutil.which("gdb"):
        print(f"tray-held {tray_start(True)}", flush=True)
    else:
        print("held-skip: gdb is not installed (scripts/install-deps.sh installs it)", flush=True)

    # The agent's first run opens its window; another program's window, as
    # large as the screen, takes the focus from it.
    agent = start([f"{root_dir}/bin/quillo-bar"])
    other = start(["/usr/bin/python3", "-c", "import gi; gi.require_version('Gtk', '3.0'); "
                   "from gi.repository import Gtk; w = Gtk.Window(title='other'); w.maximize(); "
                   "w.show_all(); Gtk.main()"], env=dict(environment, GDK_BACKEND="wayland"))
    state = wait_for(lambda: window_of(agent.pid), 20)
    print(f"entry {state[2] if state else 'none'}", flush=True)
    # Closed, the window leaves the agent in the tray: the shell launches it anew.
    evaluate(f"""global.display.list_all_windows().find(w => w.get_pid() === {agent.pid})
        .delete(global.get_current_time()), true""")
    wait_for(lambda: window_of(agent.pid) is None, 10)
    focus_other()
    # At the time of the click that asks for it.
    evaluate("""imports.gi.Shell.AppSystem.get_default()
        .lookup_app('news.quillo.QuilloBar.desktop')
        .activate_full(-1, global.display.get_current_time_roundtrip()), true""")
    print(f"shell-launch {outcome(agent.pid)}", flush=True)
    focus_other()
    subprocess.run([f"{root_dir}/bin/quillo-bar"], env=environment, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print(f"relaunch {outcome(agent.pid)}", flush=True)


try:
    main()
finally:
    finish()
