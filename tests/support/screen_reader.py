#!/usr/bin/python3
"""The settings window as a screen reader meets it, for tests.

Starts the accessibility bus on the session bus (at-spi-bus-launcher, ended
with this script), prints "ready", then answers one line per command read on
standard input, about the application whose frame is named "Quillo":

  focus        the focused object as "role|name|description|states", states
               being those of checked, expandable, expanded and collapsed
  key KEYS     gives the frame the X keyboard focus, presses KEYS with xdotool
               and answers as focus
  type TEXT    types TEXT with xdotool and answers as focus
  parent       the focused object's parent as "role|name"
  spoken N     the names of the notifications shown since the last ask,
               separated by "|", once there are N of them (or after 10 s)
  last-spoken  the name of the last notification once 3.5 s have passed
               without another: what a reader is left with
               after a quick run of statuses

With the argument "orca" it also runs Orca (tests/support/orca_launcher.py,
speech off) and prints "no orca" instead of "ready" where Orca is missing;
then key and type answer what Orca said meanwhile, and

  said [N]     what Orca said since the last answer, once it said N sentences
  leaked TEXT  "yes" when TEXT stands anywhere in Orca's log, else "no"

Sentences are separated by "|", keys' names left out, once Orca has been
quiet for a second (or after 20 s). Text is typed from standard input, never
from a command line.

Ends when standard input closes.
"""
import importlib.util
import os
import re
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

STATES = [("checked", Atspi.StateType.CHECKED), ("expandable", Atspi.StateType.EXPANDABLE),
          ("expanded", Atspi.StateType.EXPANDED), ("collapsed", Atspi.StateType.COLLAPSED)]

launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                            stdout=subprocess.DEVNULL)
spoken = []


def settle(seconds):
    end = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)


def frame():
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(index)
        for window in range(application.get_child_count() if application else 0):
            child = application.get_child_at_index(window)
            if child and child.get_role() == Atspi.Role.FRAME and child.get_name() == "Quillo":
                return child
    return None


def focused(node):
    if node.get_state_set().contains(Atspi.StateType.FOCUSED):
        return node
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        found = focused(child) if child else None
        if found:
            return found
    return None


def role(node):
    return node.get_role_name()


def describe(node):
    if node is None:
        return "none"
    states = node.get_state_set()
    shown = ",".join(name for name, state in STATES if states.contains(state))
    return f"{role(node)}|{node.get_name()}|{node.get_description()}|{shown}"


def on_showing(event):
    if event.detail1 and event.source.get_role() == Atspi.Role.NOTIFICATION:
        spoken.append(event.source.get_name())


listener = Atspi.EventListener.new(on_showing)
for _ in range(200):
    if subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                       "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                      capture_output=True).returncode == 0:
        break
    time.sleep(0.05)
listener.register("object:state-changed:showing")

orca = None
if sys.argv[1:] == ["orca"]:
    if importlib.util.find_spec("orca") is None:
        print("no orca", flush=True)
        launcher.terminate()
        sys.exit(0)
    folder = tempfile.TemporaryDirectory()
    log_path = os.path.join(folder.name, "orca.log")
    # Orca would store the desktop's accessibility switch in the user's settings.
    orca = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__),
                                                          "orca_launcher.py"),
                             log_path, os.path.join(folder.name, "prefs")],
                            env=dict(os.environ, GSETTINGS_BACKEND="memory"),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Orca may take a minute to start on a busy machine.
    for _ in range(1200):
        if os.path.exists(log_path) and "ORCA: Starting ATSPI registry." in open(log_path).read():
            break
        time.sleep(0.1)
    log = open(log_path, encoding="utf-8", errors="replace")
    log.read()
print("ready", flush=True)


def said(at_least=0):
    """The sentences Orca logged since the last call, once it is quiet."""
    sentences = []
    quiet = 0
    for _ in range(300):
        chunk = log.read()
        for match in map(SPEECH.search, chunk.splitlines()):
            # A key's own name is echoed with a space behind it.
            if match and not match.group(1).endswith(" "):
                sentences.append(match.group(1))
        quiet = 0 if chunk else quiet + 1
        # On a busy machine Orca may answer a key seconds late: before its
        # first sentence only a long silence means it says nothing, or its
        # answer would be taken for the next key's.
        if len(sentences) >= at_least and quiet >= (10 if sentences else 80):
            break
        settle(0.1)
    return "|".join(sentences)


# The sentence, then the voice it would be spoken in.
SPEECH = re.compile(r"SPEECH OUTPUT: '(.*)'(?: voice=\w+)? ?\{.*\}$")

for line in sys.stdin:
    command, _, argument = line.strip().partition(" ")
    window = None
    for _ in range(200):
        window = frame()
        if window and focused(window):
            break
        settle(0.1)
    if command in ("key", "type") and window:
        # Other agents may show a window "Quillo" on the same display.
        pid = str(window.get_application().get_process_id())
        keys = argument.split() if command == "key" else ["--file", "-"]
        subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", pid, "--name",
                        "^Quillo$", "windowfocus", "--sync", command, "--delay", "60"] + keys,
                       input=argument.encode(), check=False)
        # Done once two readings a moment apart agree, however busy the machine.
        settle(0.4)
        for _ in range(20):
            before = describe(focused(window))
            settle(0.25)
            if describe(focused(window)) == before:
                break
    node = focused(window) if window else None
    if command == "parent":
        parent = node.get_parent() if node else None
        answer = f"{role(parent)}|{parent.get_name()}" if parent else "none"
    elif command == "spoken":
        for _ in range(100):
            if len(spoken) >= int(argument or 0):
                break
            settle(0.1)
        settle(0.3)
        answer = "|".join(spoken)
        spoken.clear()
    elif command == "last-spoken":
        for _ in range(100):
            count = len(spoken)
            # Longer than the form keeps a status up before the next.
            settle(3.5 if count else 0.1)
            if count and len(spoken) == count:
                break
        answer = spoken[-1] if spoken else ""
        spoken.clear()
    elif command == "leaked":
        with open(log_path, encoding="utf-8", errors="replace") as whole:
            answer = "yes" if argument in whole.read() else "no"
    elif orca and command in ("key", "type", "said"):
        answer = said(int(argument) if command == "said" and argument else 0)
    else:
        answer = describe(node)
    print(answer, flush=True)

if orca:
    orca.terminate()
    try:
        orca.wait(timeout=5)
    except subprocess.TimeoutExpired:
        # Orca's own shutdown can hang once the window it read is gone.
        orca.kill()
        orca.wait()
launcher.terminate()
launcher.wait()
