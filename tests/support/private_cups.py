#!/usr/bin/python3
"""A private CUPS scheduler with one file queue, for tests and the demo.

  private_cups.py start DIR   starts cupsd on DIR/cups.sock with a queue
                              "Quillo" printing into DIR/printed.pdf, writes
                              DIR/cupsd.pid and prints the CUPS_SERVER value
  private_cups.py stop DIR    stops that cupsd by its pid

Every job also appends one line "title<TAB>options" to DIR/jobs.log, written by
the queue's pass-through filter, so a test sees each job's title and options.
Works as root (cupsd then runs filters as lp) and as a normal user.
"""
import os
import pwd
import signal
import subprocess
import sys
import time

QUEUE = "Quillo"


def write(path, text, mode=0o644):
    with open(path, "w") as file:
        file.write(text)
    os.chmod(path, mode)


def configure(base):
    # cupsd runs filters as lp when started as root: they must reach the
    # filter, the PPD and the job log through readable, searchable folders.
    os.chmod(base, 0o755)
    for name in ("spool", "spool/tmp", "cache", "state", "log", "ppd"):
        os.makedirs(os.path.join(base, name), exist_ok=True)
    os.makedirs(os.path.join(base, "jobs"), exist_ok=True)
    os.chmod(os.path.join(base, "jobs"), 0o1777)
    socket = os.path.join(base, "cups.sock")
    write(os.path.join(base, "cupsd.conf"), f"""LogLevel warn
Listen {socket}
Browsing Off
BrowseLocalProtocols none
DefaultShared No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
""")
    user = "" if os.getuid() == 0 else f"User {pwd.getpwuid(os.getuid()).pw_name}\n"
    write(os.path.join(base, "cups-files.conf"), f"""{user}FileDevice Yes
ServerRoot {base}
StateDir {base}/state
CacheDir {base}/cache
RequestRoot {base}/spool
TempDir {base}/spool/tmp
AccessLog {base}/log/access_log
ErrorLog {base}/log/error_log
PageLog {base}/log/page_log
Printcap {base}/printcap
""")
    # CUPS 2.4 writes nothing to a file: device from a raw queue, so the
    # queue has a driver whose one filter passes the document through.
    write(os.path.join(base, "passthrough"), f"""#!/bin/sh
printf '%s\\t%s\\n' "$3" "$5" >>{base}/jobs/jobs.log
if [ -n "$6" ]; then exec cat "$6"; fi
exec cat
""", 0o755)
    write(os.path.join(base, "quillo.ppd"), f"""*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "QUILLO.PPD"
*Manufacturer: "Quillo"
*Product: "(Test queue)"
*ModelName: "Quillo test queue"
*ShortNickName: "Quillo test queue"
*NickName: "Quillo test queue"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*cupsFilter2: "application/pdf application/vnd.quillo-test 0 {base}/passthrough"
*OpenUI *PageSize: PickOne
*DefaultPageSize: Letter
*PageSize Letter: ""
*CloseUI: *PageSize
*DefaultImageableArea: Letter
*ImageableArea Letter: "0 0 612 792"
*DefaultPaperDimension: Letter
*PaperDimension Letter: "612 792"
""")
    return socket


def start(base):
    base = os.path.abspath(base)
    os.makedirs(base, exist_ok=True)
    socket = configure(base)
    daemon = subprocess.Popen(
        ["cupsd", "-f", "-c", f"{base}/cupsd.conf", "-s", f"{base}/cups-files.conf"],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=open(f"{base}/log/cupsd.stderr", "w"), start_new_session=True)
    write(os.path.join(base, "cupsd.pid"), f"{daemon.pid}\n")
    environment = dict(os.environ, CUPS_SERVER=socket)
    for _ in range(100):
        if daemon.poll() is not None:
            sys.exit(f"cupsd exited with status {daemon.returncode}; see {base}/log")
        if subprocess.run(["lpstat", "-r"], env=environment, capture_output=True,
                          text=True).stdout.startswith("scheduler is running"):
            break
        time.sleep(0.05)
    else:
        stop(base)
        sys.exit("cupsd did not answer")
    # lpadmin's warning that drivers are deprecated is harmless.
    subprocess.run(["lpadmin", "-p", QUEUE, "-E", "-v", f"file://{base}/printed.pdf",
                    "-P", f"{base}/quillo.ppd"], env=environment, check=True,
                   capture_output=True)
    print(socket)


def stop(base):
    try:
        with open(os.path.join(base, "cupsd.pid")) as file:
            pid = int(file.read())
    except (OSError, ValueError):
        return
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            os.kill(pid, 0)
            time.sleep(0.05)
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    os.unlink(os.path.join(base, "cupsd.pid"))


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(__doc__)
    (start if sys.argv[1] == "start" else stop)(sys.argv[2])
