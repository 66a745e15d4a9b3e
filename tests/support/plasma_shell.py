#!/usr/bin/python3
"""The agent's tray icon in KDE Plasma's own panel, headless, for tests.

plasma_shell.py ROOT SCHEME starts `kwin_wayland --virtual` (from a copy
without the packaged binary's file capability) in a private session whose
colour scheme is SCHEME (a file of /usr/share/color-schemes: "BreezeDark",
"BreezeLight"), with kded5 (the tray's watcher), the activity manager and
plasmashell, which lays out its default panel in the empty home. It starts
ROOT/bin/quillo-bar, finds the icon its tray item adds to the panel by
comparing the panel before and after, read through KWin's own screenshots,
and prints

  tray GLYPH PANEL   the gray levels (0–255) of the icon's glyph (its pixel
                     farthest from the panel's) and of the panel behind it,
                     or "tray none" when no icon came

or a line "skip: WHY" where Plasma is missing or does not start. Everything it
starts it stops; it runs in a process group of its own, which the caller may
kill as a whole.
"""
import os
import shutil
import sys
import time

root_dir, scheme = sys.argv[1], sys.argv[2]
ACTIVITIES = "/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd"
for program in ("kwin_wayland", "plasmashell", "kded5", ACTIVITIES):
    if shutil.which(program) is None:
        print(f"skip: {program} is not installed (scripts/install-deps.sh installs "
              "plasma-desktop and kwin-wayland)", flush=True)
        sys.exit(0)

from gi.repository import Gio, GLib  # noqa: E402

from desktop_session import bus_daemon, environment, finish, folder, start, wait_for  # noqa: E402

WIDTH, HEIGHT, STRIP = 1280, 800, 60


def capture():
    """The bottom strip of the screen, where Plasma puts its panel, as rows of
    gray levels, composited by KWin as the screen shows it; None when KWin
    does not answer."""
    reading, writing = os.pipe()
    # The list owns the writing end: freed, it closes it, so the read ends.
    sending = Gio.UnixFDList.new_from_array([writing])
    try:
        reply, _ = bus.call_with_unix_fd_list_sync(
            "org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
            "CaptureArea", GLib.Variant("(iiuua{sv}h)", (0, HEIGHT - STRIP, WIDTH, STRIP, {}, 0)),
            GLib.VariantType("(a{sv})"), Gio.DBusCallFlags.NONE, 10000, sending, None)
    except GLib.Error:
        os.close(reading)
        return None
    finally:
        del sending
    with os.fdopen(reading, "rb") as pipe:
        data = pipe.read()
    shot = reply.unpack()[0]
    # QImage's 32-bit RGB formats (4, 5, 6) keep a pixel as a native word: B, G, R, A.
    if shot["format"] not in (4, 5, 6) or len(data) < shot["stride"] * shot["height"]:
        return None
    return [[(data[at + 2] * 299 + data[at + 1] * 587 + data[at] * 114) // 1000
             for at in range(row * shot["stride"], row * shot["stride"] + 4 * shot["width"], 4)]
            for row in range(shot["height"])]


def settled():
    """The strip once two shots half a second apart agree (the panel slides
    in, items fade in), or None."""
    shots = [capture()]

    def same():
        time.sleep(0.5)
        shots[:] = [shots[-1], capture()]
        return shots[1] if shots[1] is not None and shots[0] == shots[1] else None
    return wait_for(same, 60)


def new_icons(before, after):
    """The boxes (x, y, width, height) of what appeared in `after` where
    `before` shows only the panel: changed pixels grouped by 8-neighbourhood
    into icon-sized boxes. Icons that moved are left out, as they were there
    before; so are the window's shadow and its task button, larger than an icon."""
    # A translucent panel's blur shifts a level or two where a window opens.
    changed = {(x, y) for y in range(STRIP) for x in range(WIDTH)
               if abs(before[y][x] - after[y][x]) > 8}
    boxes = []
    while changed:
        group, todo = [], [changed.pop()]
        while todo:
            x, y = todo.pop()
            group.append((x, y))
            for near in ((x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                if near in changed:
                    changed.remove(near)
                    todo.append(near)
        xs, ys = [x for x, _ in group], [y for _, y in group]
        box = (min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1)
        levels = [before[y][x] for y in range(box[1], box[1] + box[3])
                  for x in range(box[0], box[0] + box[2])]
        if 10 <= box[2] <= 32 and 10 <= box[3] <= 32 and max(levels) - min(levels) <= 24:
            boxes.append(box)
    return boxes


def glyph_and_panel(before, after, box):
    x, y, width, height = box
    panel = sorted(before[row][x + width // 2] for row in range(y, y + height))[height // 2]
    pixels = [after[row][column] for row in range(y, y + height)
              for column in range(x, x + width)]
    return max(pixels, key=lambda level: abs(level - panel)), panel


def main():
    global bus
    config = environment["XDG_CONFIG_HOME"]
    os.makedirs(config)
    with open(f"/usr/share/color-schemes/{scheme}.colors") as colours, \
            open(f"{config}/kdeglobals", "w") as kdeglobals:
        kdeglobals.write(colours.read().replace("[General]", f"[General]\nColorScheme={scheme}", 1))
    environment["DBUS_SESSION_BUS_ADDRESS"] = bus_daemon("session")
    bus = Gio.DBusConnection.new_for_address_sync(
        environment["DBUS_SESSION_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    # KWin loads its platform plugin only under its own name; its screenshots
    # otherwise go only to programs its desktop entries name.
    os.makedirs(f"{folder}/kwin")
    shutil.copy(shutil.which("kwin_wayland"), f"{folder}/kwin/kwin_wayland")
    display = f"quillo-plasma-{os.getpid()}"
    log = open(f"{folder}/plasma.log", "w")
    kwin = start([f"{folder}/kwin/kwin_wayland", "--virtual", "--no-lockscreen",
                  "--width", str(WIDTH), "--height", str(HEIGHT), "--socket", display],
                 env=dict(environment, KWIN_SCREENSHOT_NO_PERMISSION_CHECKS="1"),
                 stdout=log, stderr=log)
    if not wait_for(lambda: capture() or kwin.poll() is not None, 30) or kwin.poll() is not None:
        print("skip: kwin_wayland --virtual did not start", flush=True)
        return
    environment.update({"WAYLAND_DISPLAY": display, "QT_QPA_PLATFORM": "wayland",
                        "XDG_SESSION_TYPE": "wayland", "XDG_CURRENT_DESKTOP": "KDE",
                        "KDE_FULL_SESSION": "true", "KDE_SESSION_VERSION": "5"})
    # The bus starts nothing on demand: plasmashell stops without the activity
    # manager, and the tray's watcher is a module of kded5.
    start(["kded5"], stdout=log, stderr=log)
    start([ACTIVITIES], stdout=log, stderr=log)
    shell = start(["plasmashell", "--no-respawn"], stdout=log, stderr=log)

    def host():
        try:
            return bus.call_sync(
                "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                "org.freedesktop.DBus.Properties", "Get",
                GLib.Variant("(ss)", ("org.kde.StatusNotifierWatcher",
                                      "IsStatusNotifierHostRegistered")),
                None, Gio.DBusCallFlags.NONE, 2000, None).unpack()[0]
        except GLib.Error:
            return shell.poll() is not None and "gone"
    if wait_for(host, 60) in (None, "gone"):
        print("skip: plasmashell did not start its system tray", flush=True)
        return
    before = settled()
    if before is None:
        print("skip: plasmashell's panel did not settle", flush=True)
        return

    start([f"{root_dir}/bin/quillo-bar"])
    if not wait_for(lambda: new_icons(before, capture() or before), 20):
        print("tray none", flush=True)
        return
    after = settled()
    boxes = new_icons(before, after) if after else []
    if len(boxes) != 1:
        print(f"tray none ({len(boxes)} new icons)", flush=True)
        return
    print("tray %d %d" % glyph_and_panel(before, after, boxes[0]), flush=True)


try:
    main()
finally:
    finish()
