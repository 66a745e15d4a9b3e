"""A private session for the desktop scripts of tests/support/.

A folder of its own for home, runtime and XDG folders, the environment that
names them, buses that start no service on demand, and the programs started
in it, which `finish` stops before it removes the folder.
"""
import os
import shutil
import subprocess
import tempfile
import time

folder = tempfile.mkdtemp(prefix="quillo-desktop-")
os.makedirs(f"{folder}/runtime", mode=0o700)
environment = {"PATH": os.environ["PATH"], "HOME": folder, "LANG": "C.UTF-8",
               "XDG_RUNTIME_DIR": f"{folder}/runtime", "XDG_CONFIG_HOME": f"{folder}/config",
               "XDG_DATA_HOME": f"{folder}/data", "XDG_CACHE_HOME": f"{folder}/cache"}
children = []


def start(arguments, env=None, **options):
    child = subprocess.Popen(arguments, env=env or environment, stdin=subprocess.DEVNULL,
                             stdout=options.pop("stdout", subprocess.DEVNULL),
                             stderr=options.pop("stderr", subprocess.DEVNULL), **options)
    children.append(child)
    return child


def wait_for(check, seconds):
    """The first true value of check(), looked at every 50 ms, or None."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    return None


def bus_daemon(kind="session"):
    """Starts a bus of that kind and returns its address."""
    with open(f"{folder}/{kind}.conf", "w") as config:
        config.write(f"""<busconfig><type>{kind}</type><listen>unix:dir={folder}</listen>
<auth>EXTERNAL</auth><policy context="default"><allow send_destination="*"/>
<allow receive_sender="*"/><allow own="*"/></policy></busconfig>""")
    daemon = start(["dbus-daemon", f"--config-file={folder}/{kind}.conf", "--nofork",
                    "--print-address=1"], stdout=subprocess.PIPE)
    return daemon.stdout.readline().decode().strip()


def finish():
    for child in reversed(children):
        child.terminate()
    for child in reversed(children):
        try:
            child.wait(5)
        except subprocess.TimeoutExpired:
            child.kill()
    shutil.rmtree(folder, ignore_errors=True)
