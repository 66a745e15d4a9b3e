#!/usr/bin/python3
"""The tray as a desktop shell sees it, for tests.

Owns org.kde.StatusNotifierWatcher on the session bus, with a host
registered, and answers one line per command read on standard input, about
the newest registered item that still answers (waiting up to 20 s for one):

  read         its owner's pid, its tooltip's title and its menu, separated by
               tabs; the menu's items are separated by "|", a separator is "-"
               and a disabled item ends in " (off)"
  click LABEL  sends dbusmenu's "clicked" event to the item labelled LABEL and
               answers "clicked"

Prints "ready" once it owns the watcher's name; ends when standard input closes.
"""
import sys
import time

from gi.repository import Gio, GLib

WATCHER = "org.kde.StatusNotifierWatcher"
INTROSPECTION = f"""<node><interface name="{WATCHER}">
<method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
<method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
<property name="RegisteredStatusNotifierItems" type="as" access="read"/>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
<signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
<signal name="StatusNotifierHostRegistered"/>
</interface></node>"""

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
items = []  # (service, object path), in registration order


def on_call(connection, sender, path, interface, method, parameters, invocation):
    if method == "RegisterStatusNotifierItem":
        name = parameters.unpack()[0]
        item = (sender, name) if name.startswith("/") else (name, "/StatusNotifierItem")
        items.append(item)
        connection.emit_signal(None, path, interface, "StatusNotifierItemRegistered",
                               GLib.Variant("(s)", ("".join(item),)))
    invocation.return_value(None)


def on_property(connection, sender, path, interface, name):
    if name == "RegisteredStatusNotifierItems":
        return GLib.Variant("as", ["".join(item) for item in items])
    if name == "IsStatusNotifierHostRegistered":
        return GLib.Variant("b", True)
    return GLib.Variant("i", 0)


def call(service, path, interface, method, arguments):
    return bus.call_sync(service, path, interface, method, arguments, None,
                         Gio.DBusCallFlags.NONE, 5000, None).unpack()


def item_property(item, name):
    return call(item[0], item[1], "org.freedesktop.DBus.Properties", "Get",
                GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", name)))[0]


def menu_entries(item):
    menu_path = item_property(item, "Menu")
    _, (_, _, children) = call(item[0], menu_path, "com.canonical.dbusmenu", "GetLayout",
                               GLib.Variant("(iias)", (0, -1, [])))
    return menu_path, [(identifier, properties) for identifier, properties, _ in children]


def answering_item():
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        for item in reversed(items):
            try:
                item_property(item, "Id")
                return item
            except GLib.Error:
                continue
        GLib.MainContext.default().iteration(False) or time.sleep(0.02)
    return None


def entry_text(properties):
    if properties.get("type") == "separator":
        return "-"
    return properties.get("label", "") + ("" if properties.get("enabled", True) else " (off)")


def answer(command):
    item = answering_item()
    if item is None:
        return "no tray item registered"
    menu_path, entries = menu_entries(item)
    if command == "read":
        pid = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                   "GetConnectionUnixProcessID", GLib.Variant("(s)", (item[0],)))[0]
        menu = "|".join(entry_text(properties) for _, properties in entries)
        return f"{pid}\t{item_property(item, 'ToolTip')[2]}\t{menu}"
    label = command.removeprefix("click ")
    for identifier, properties in entries:
        if properties.get("label") == label:
            # No reply is awaited: an item may quit before it answers.
            click = Gio.DBusMessage.new_method_call(item[0], menu_path,
                                                    "com.canonical.dbusmenu", "Event")
            click.set_body(GLib.Variant("(isvu)", (identifier, "clicked", GLib.Variant("i", 0), 0)))
            click.set_flags(Gio.DBusMessageFlags.NO_REPLY_EXPECTED)
            bus.send_message(click, Gio.DBusSendMessageFlags.NONE)
            bus.flush_sync(None)
            return "clicked"
    return f"no menu item {label}"


def on_input(source, condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    print(answer(line.strip()), flush=True)
    return True


node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
bus.register_object("/StatusNotifierWatcher", node.interfaces[0], on_call, on_property, None)
owned = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "RequestName", GLib.Variant("(su)", (WATCHER, 4)))[0]
if owned != 1:
    sys.exit("another StatusNotifierWatcher owns the name")
bus.emit_signal(None, "/StatusNotifierWatcher", WATCHER, "StatusNotifierHostRegistered", None)
print("ready", flush=True)
loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, on_input)
loop.run()
