#!/usr/bin/python3
"""The agent's window under a real X11 window manager, for tests.

x11_desktop.py WM WIDTHxHEIGHT ROOT starts an Xvfb screen of that size of
its own, a private session bus and the window manager WM (xfwm4, metacity or
openbox), launches ROOT/bin/quillo-bar for the first time (it opens its
settings window), and prints what a reader would meet, one line each:

  screen W H           the screen's size
  frame X Y W H        the window's frame, decorations included, once placed
  relaunch UNMAPS FOCUSED
                       a second launch with a launcher's startup id, while
                       another window has the focus: how often the window
                       was unmapped meanwhile, and "focused" or "unfocused"
  minimise OFFERED     "offered" when the window manager lists minimising among
                       the window's allowed actions, else "refused"

or a line "skip: WHY" where the window manager is missing or does not start.
Everything it starts it stops; it runs in a process group of its own, which
the caller may kill as a whole.
"""
import os
import shutil
import subprocess
import sys
import time

from Xlib import X, Xatom, display, protocol

from desktop_session import bus_daemon, environment, finish, start, wait_for

wm, size, root_dir = sys.argv[1], sys.argv[2], sys.argv[3]
width, height = (int(n) for n in size.split("x"))
commands = {"xfwm4": ["xfwm4", "--compositor=off"], "metacity": ["metacity"],
            "openbox": ["openbox", "--config-file", "/dev/null"]}
if shutil.which(commands[wm][0]) is None:
    print(f"skip: {wm} is not installed (scripts/install-deps.sh installs it)", flush=True)
    finish()
    sys.exit(0)

def prop(window, name, kind=X.AnyPropertyType):
    reply = window.get_full_property(screen.intern_atom(name), kind)
    return reply.value if reply else None


def server_time():
    """The X server's clock, as a launcher's click would carry it."""
    stamp = root.create_window(0, 0, 1, 1, 0, X.CopyFromParent,
                               event_mask=X.PropertyChangeMask)
    stamp.change_property(Xatom.WM_NAME, Xatom.STRING, 8, b"t")
    screen.flush()
    while True:
        event = screen.next_event()
        if event.type == X.PropertyNotify and event.window.id == stamp.id:
            stamp.destroy()
            return event.time


def client_message(window, name, data):
    event = protocol.event.ClientMessage(window=window, client_type=screen.intern_atom(name),
                                         data=(32, (data + [0] * 5)[:5]))
    root.send_event(event, event_mask=X.SubstructureRedirectMask | X.SubstructureNotifyMask)
    screen.flush()


def active():
    value = prop(root, "_NET_ACTIVE_WINDOW")
    return value[0] if value else 0


def main():
    global screen, root
    environment.update({"GSETTINGS_BACKEND": "memory", "QT_QPA_PLATFORM": "xcb"})
    read, write = os.pipe()
    start(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
           f"{width}x{height}x24"], pass_fds=[write])
    os.close(write)
    number = os.read(read, 16).decode().strip()
    environment["DISPLAY"] = f":{number}"
    environment["DBUS_SESSION_BUS_ADDRESS"] = bus_daemon()
    screen = display.Display(environment["DISPLAY"])
    root = screen.screen().root
    print(f"screen {width} {height}", flush=True)

    if wm == "xfwm4":
        # Its settings store, which the private bus does not start on demand.
        start(["/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd"])
        subprocess.run(["gdbus", "wait", "--session", "--timeout", "10", "org.xfce.Xfconf"],
                       env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    start(commands[wm])
    if not wait_for(lambda: prop(root, "_NET_SUPPORTING_WM_CHECK"), 20):
        print(f"skip: {wm} did not start", flush=True)
        return
    agent = [f"{root_dir}/bin/quillo-bar"]
    start(agent)

    def settings_window():
        for window in root.query_tree().children:
            for client in [window] + window.query_tree().children:
                state = prop(client, "WM_STATE")
                if client.get_wm_class() and "quillo" in client.get_wm_class()[1].lower() \
                        and state and state[0] == 1:
                    return client
        return None
    window = wait_for(settings_window, 30)
    if window is None:
        print("frame none", flush=True)
        return

    # The frame as drawn: the client's box and the window manager's borders
    # around it, without the invisible edges some themes grab with.
    def visible_frame():
        geometry = window.get_geometry()
        origin = window.translate_coords(root, 0, 0)
        left, right, top, bottom = prop(window, "_NET_FRAME_EXTENTS") or [0, 0, 0, 0]
        return (-origin.x - left, -origin.y - top, geometry.width + left + right,
                geometry.height + top + bottom)

    def settled():
        first = visible_frame()
        time.sleep(0.3)
        return first if visible_frame() == first else None
    print("frame %d %d %d %d" % wait_for(settled, 10), flush=True)

    # Another window takes the focus, as the pager would give it.
    start(["xlogo", "-geometry", "200x200+0+0"])
    other = wait_for(lambda: next((w for w in root.query_tree().children for c in
                                   [w] + w.query_tree().children
                                   if c.get_wm_class() and c.get_wm_class()[1] == "XLogo"
                                   and prop(c, "WM_STATE") and prop(c, "WM_STATE")[0] == 1
                                   and c), None), 10)
    clients = [c for c in [other] + other.query_tree().children if c.get_wm_class()]
    client_message(clients[0], "_NET_ACTIVE_WINDOW", [2, X.CurrentTime])
    if not wait_for(lambda: active() == clients[0].id, 5):
        print("relaunch 0 unfocused (the other window never took the focus)", flush=True)
        return
    window.change_attributes(event_mask=X.StructureNotifyMask)
    screen.flush()
    # The launcher's click comes after the window manager gave the focus.
    time.sleep(0.5)
    launch_time = server_time()
    relaunch_environment = dict(environment,
                                DESKTOP_STARTUP_ID=f"quillo-test-{os.getpid()}_TIME{launch_time}")
    subprocess.run(agent, env=relaunch_environment, timeout=30, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    focused = wait_for(lambda: active() == window.id, 10)
    time.sleep(0.5)
    unmaps = 0
    while screen.pending_events():
        event = screen.next_event()
        unmaps += event.type == X.UnmapNotify and event.window.id == window.id
    print(f"relaunch {unmaps} {'focused' if focused else 'unfocused'}", flush=True)

    # What the window manager offers for the window: a minimise button and
    # entry when it lists the action.
    minimise = screen.intern_atom("_NET_WM_ACTION_MINIMIZE")
    allowed = minimise in (prop(window, "_NET_WM_ALLOWED_ACTIONS") or [])
    print(f"minimise {'offered' if allowed else 'refused'}", flush=True)


try:
    main()
finally:
    finish()
