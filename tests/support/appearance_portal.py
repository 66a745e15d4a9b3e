#!/usr/bin/python3
"""The freedesktop settings portal's appearance, for tests and by hand.

  appearance_portal.py SCHEME [COMMAND [ARGUMENT...]]

Owns org.freedesktop.portal.Desktop on the session bus and answers Read and
ReadOne for org.freedesktop.appearance color-scheme with SCHEME (1 prefers
dark, 2 light, 0 neither). With a command, runs it once it owns the name and
exits with its status. Without one, prints "ready" once it owns the name, and
when standard input is a pipe, each line "set N" read on it changes the value,
emits SettingChanged and answers "set", until it closes; otherwise it runs
until it is stopped (Ctrl-C). Another owner of the name (a desktop's own
portal) makes it exit with status 1: run it in a bus of its own
(dbus-run-session).
"""
import os
import stat
import subprocess
import sys
import threading

from gi.repository import Gio, GLib

INTERFACE = "org.freedesktop.portal.Settings"
INTROSPECTION = f"""<node><interface name="{INTERFACE}">
<method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/>
<arg type="v" direction="out"/></method>
<method name="ReadOne"><arg type="s" direction="in"/><arg type="s" direction="in"/>
<arg type="v" direction="out"/></method>
<signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
</interface></node>"""
PATH = "/org/freedesktop/portal/desktop"

scheme = int(sys.argv[1])
bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def on_call(connection, sender, path, interface, method, parameters, invocation):
    if tuple(parameters.unpack()) != ("org.freedesktop.appearance", "color-scheme"):
        invocation.return_dbus_error("org.freedesktop.portal.Error.NotFound", "no such key")
        return
    value = GLib.Variant("u", scheme)
    # Read, the older call, wraps the value in one variant more.
    answer = GLib.Variant("v", value) if method == "Read" else value
    invocation.return_value(GLib.Variant("(v)", (answer,)))


node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
bus.register_object(PATH, node.interfaces[0], on_call, None, None)
loop = GLib.MainLoop()


def on_line(channel, condition):
    global scheme
    line = channel.readline()
    if not line:
        loop.quit()
        return False
    scheme = int(line.split()[1])
    bus.emit_signal(None, PATH, INTERFACE, "SettingChanged",
                    GLib.Variant("(ssv)", ("org.freedesktop.appearance", "color-scheme",
                                           GLib.Variant("u", scheme))))
    bus.flush_sync(None)
    print("set", flush=True)
    return True


def on_name(connection, name):
    if len(sys.argv) > 2:
        # Waited for on a thread: the bus is served meanwhile.
        command = subprocess.Popen(sys.argv[2:])

        def wait():
            status = command.wait()
            os._exit(status if status >= 0 else 128 - status)

        threading.Thread(target=wait).start()
        return
    print("ready", flush=True)
    if stat.S_ISFIFO(os.fstat(sys.stdin.fileno()).st_mode):
        GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()),
                          GLib.IO_IN | GLib.IO_HUP, on_line)


def on_name_lost(connection, name):
    sys.exit(f"appearance_portal.py: {name} has another owner on this bus")


Gio.bus_own_name_on_connection(bus, "org.freedesktop.portal.Desktop",
                               Gio.BusNameOwnerFlags.NONE, on_name, on_name_lost)
try:
    loop.run()
except KeyboardInterrupt:
    pass
