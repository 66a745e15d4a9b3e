"""Ends a support daemon with the process that started it.

A test that dies before its destructors run leaves no daemon behind, and no
daemon holds ctest's output open until the test's time limit.
"""
import os
import select
import threading


def on_end_of(pid, action):
    """Calls action() on a thread of its own once process pid has ended, at once if it has."""
    try:
        descriptor = os.pidfd_open(pid)
    except ProcessLookupError:
        action()
        return

    def wait():
        select.select([descriptor], [], [])
        action()

    threading.Thread(target=wait, daemon=True).start()


def _command_line(pid):
    with open(f"/proc/{pid}/cmdline", "rb") as file:
        return file.read()


def parent_of(pid):
    with open(f"/proc/{pid}/stat") as file:
        stat = file.read()
    # The fields after the name, which may hold spaces and ")": state, parent.
    return int(stat[stat.rindex(")") + 2:].split()[1])


def starter():
    """The process that started this one. A shell runs a command in a subshell
    (a fork of itself that ends with the command) when it captures its output
    through a redirection, say: then the shell itself."""
    pid = os.getppid()
    try:
        while (parent := parent_of(pid)) > 1 and _command_line(parent) == _command_line(pid):
            pid = parent
    except (OSError, ValueError):
        pass
    return pid
