#!/usr/bin/python3
"""The freedesktop settings portal's appearance, for tests.

Owns org.freedesktop.portal.Desktop on the session bus and answers Read and
ReadOne for org.freedesktop.appearance color-scheme with the number given as
the first argument. Prints "ready" once it owns the name; each line "set N"
read on standard input changes the value, emits SettingChanged and answers
"set". Ends when standard input closes.
"""
import sys

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
    print("ready", flush=True)
    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP,
                      on_line)


Gio.bus_own_name_on_connection(bus, "org.freedesktop.portal.Desktop",
                               Gio.BusNameOwnerFlags.NONE, on_name, None)
loop.run()
