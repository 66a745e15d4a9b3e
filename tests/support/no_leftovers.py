#!/usr/bin/python3
"""Runs a command, then names and ends every process it left behind.

  no_leftovers.py COMMAND [ARGUMENT...]

Every process that the command starts and that outlives its parent is handed
to this one (a child subreaper), however it was started. Once the command has
ended, those still running two seconds later are named on standard error,
with what they run, and killed. The status is the command's, or 1 when any
process was left.
"""
import ctypes
import os
import signal
import subprocess
import sys
import time

import lifetime

PR_SET_CHILD_SUBREAPER = 36


def children():
    found = []
    for entry in os.listdir("/proc"):
        try:
            if lifetime.parent_of(entry) == os.getpid():
                found.append(int(entry))
        except (OSError, ValueError):
            continue
    return found


def reap():
    try:
        while os.waitpid(-1, os.WNOHANG)[0] > 0:
            pass
    except ChildProcessError:
        pass


def command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as file:
            return file.read().rstrip(b"\0").replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return "?"


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit(f"no_leftovers.py: {os.strerror(ctypes.get_errno())}")
    command = subprocess.Popen(sys.argv[1:])
    # Ctrl-C reaches the command too; this one stays to clean up after it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, lambda *_: command.terminate())
    # Orphans are reaped as they end, so that only the living are counted.
    while True:
        pid, status = os.waitpid(-1, 0)
        if pid == command.pid:
            status = os.waitstatus_to_exitcode(status)
            break
    for _ in range(20):
        reap()
        if not children():
            return status
        time.sleep(0.1)
    named = set()
    while left := [pid for pid in children() if pid not in named]:
        for pid in left:
            print(f"Left behind: {pid} {command_line(pid)}", file=sys.stderr)
            named.add(pid)
            os.kill(pid, signal.SIGKILL)
        time.sleep(0.1)
        reap()
    return 1


if __name__ == "__main__":
    sys.exit(main())
