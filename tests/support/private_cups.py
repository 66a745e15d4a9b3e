#!/usr/bin/python3
"""A private CUPS scheduler with one file queue, for tests and the demo.

  private_cups.py start DIR   starts cupsd on DIR/cups.sock with a queue
                              "Quillo" printing into DIR/printed.pdf, writes
                              DIR/cupsd.pid and prints the CUPS_SERVER value
  private_cups.py start-pdf DIR
                              the same, and a queue "QuilloPDF" of the real
                              cups-pdf driver on A4, writing into DIR/pdf/
                              (root only: see start_pdf)
  private_cups.py stop DIR    stops that cupsd and its relay by their pids

The CUPS_SERVER value is DIR/relay.sock, a relay in front of cupsd's socket
that passes everything through, except that while DIR/stall holds "OPERATION
request" or "OPERATION reply" (an IPP operation's name, such as
"Send-Document"), a connection whose first request is that operation has its
request, or cupsd's reply, held back until DIR/stall is gone, and is dropped
if the client goes away meanwhile; DIR/stalled then exists. So a test stops
the tool at one exchange of its print protocol.

Started again on the same DIR (after cupsd was killed), it starts cupsd and
keeps the relay that runs. cupsd and the relay end with the process that ran
"start" the first time, whether or not it called "stop".

Every job of "Quillo" also appends one line "title<TAB>options" to
DIR/jobs/jobs.log, written by the queue's pass-through filter, so a test sees
each job's title and options. Works as root (cupsd then runs filters as lp)
and as a normal user.
"""
import asyncio
import os
import pwd
import signal
import subprocess
import sys
import time

import lifetime

QUEUE = "Quillo"
PDF_QUEUE = "QuilloPDF"


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


def cups_pdf_conf(base):
    # cups-pdf reads only /etc/cups/cups-pdf.conf: start_pdf mounts this copy
    # over it in cupsd's own mount namespace.
    os.makedirs(f"{base}/pdf", exist_ok=True)
    os.chmod(f"{base}/pdf", 0o1777)
    conf = f"{base}/cups-pdf.conf"
    write(conf, f"""Out {base}/pdf
AnonDirName {base}/pdf
Spool {base}/cups-pdf-spool
Log {base}/log
UserUMask 0022
Grp root
""")
    return conf


def start(base, pdf=False):
    base = os.path.abspath(base)
    os.makedirs(base, exist_ok=True)
    socket = configure(base)
    command = ["cupsd", "-f", "-c", f"{base}/cupsd.conf", "-s", f"{base}/cups-files.conf"]
    if pdf:
        if os.getuid() != 0:
            sys.exit("the cups-pdf queue needs root (a mount namespace of its own)")
        # unshare and sh exec into cupsd: the pid written below stays cupsd's.
        command = ["unshare", "-m", "--propagation", "private", "sh", "-c",
                   'mount --bind "$0" /etc/cups/cups-pdf.conf && exec "$@"',
                   cups_pdf_conf(base), *command]
    daemon = subprocess.Popen(
        command,
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
    if pdf:
        subprocess.run(["lpadmin", "-p", PDF_QUEUE, "-E", "-v", "cups-pdf:/",
                        "-P", "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd",
                        "-o", "PageSize=A4"], env=environment, check=True, capture_output=True)
    # A second relay would take over the socket's name and leave the first
    # one serving nobody.
    if relay_pid(base) is None:
        relay_process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "relay", base, str(lifetime.starter())],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, start_new_session=True)
        write(os.path.join(base, "relay.pid"), f"{relay_process.pid}\n")
    for _ in range(100):
        if os.path.exists(os.path.join(base, "relay.sock")):
            break
        time.sleep(0.05)
    print(os.path.join(base, "relay.sock"))


OPERATIONS = {"Create-Job": 0x05, "Send-Document": 0x06, "Cancel-Job": 0x08,
              "Get-Job-Attributes": 0x09, "Get-Jobs": 0x0A, "Get-Printer-Attributes": 0x0B,
              "Release-Job": 0x0D}


def stall_for(base, operation):
    try:
        with open(os.path.join(base, "stall")) as file:
            name, _, side = file.read().strip().partition(" ")
    except OSError:
        return None
    return side if OPERATIONS.get(name) == operation else None


async def held(base, client):
    open(os.path.join(base, "stalled"), "w").close()
    while os.path.exists(os.path.join(base, "stall")):
        await asyncio.sleep(0.05)
    # A client killed just before the stall was lifted is seen as gone.
    await asyncio.sleep(0.2)
    return not client.at_eof()


async def pipe(source, sink):
    try:
        while data := await source.read(65536):
            sink.write(data)
            await sink.drain()
    except (ConnectionError, OSError):
        pass
    finally:
        sink.close()


async def relay_connection(base, client, client_out):
    # The first request's IPP operation follows the HTTP header.
    head = b""
    while (end := head.find(b"\r\n\r\n")) < 0 or len(head) < end + 8:
        data = await client.read(65536)
        if not data:
            client_out.close()
            return
        head += data
    side = stall_for(base, int.from_bytes(head[end + 6:end + 8], "big"))
    if side == "request" and not await held(base, client):
        client_out.close()
        return
    server, server_out = await asyncio.open_unix_connection(os.path.join(base, "cups.sock"))
    server_out.write(head)
    upward = asyncio.ensure_future(pipe(client, server_out))
    if side == "reply":
        await asyncio.sleep(0.2)
        if not await held(base, client):
            server_out.close()
            client_out.close()
            upward.cancel()
            return
    await pipe(server, client_out)
    await upward


def relay_pid(base):
    """The pid of the relay serving DIR, if it runs."""
    pid = read_pid(base, "relay.pid")
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as file:
            arguments = file.read().split(b"\0")
    except (OSError, TypeError):
        return None
    return pid if arguments[2:4] == [b"relay", base.encode()] else None


def relay(base, owner):
    # The relay outlives the "start" that ran it: it ends cupsd and itself
    # with the process that did.
    lifetime.on_end_of(owner, lambda: (stop_pid(base, "cupsd.pid"), os._exit(0)))

    async def serve():
        server = await asyncio.start_unix_server(
            lambda reader, writer: relay_connection(base, reader, writer),
            os.path.join(base, "relay.sock"))
        async with server:
            await server.serve_forever()
    asyncio.run(serve())


def read_pid(base, name):
    try:
        with open(os.path.join(base, name)) as file:
            return int(file.read())
    except (OSError, ValueError):
        return None


def stop_pid(base, name):
    pid = read_pid(base, name)
    if pid is None:
        return
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            os.kill(pid, 0)
            time.sleep(0.05)
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    os.unlink(os.path.join(base, name))


def stop(base):
    for name in ("relay.pid", "cupsd.pid"):
        stop_pid(base, name)


if __name__ == "__main__":
    if sys.argv[1:2] == ["relay"] and len(sys.argv) == 4:
        relay(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) != 3 or sys.argv[1] not in ("start", "start-pdf", "stop"):
        sys.exit(__doc__)
    elif sys.argv[1] == "stop":
        stop(sys.argv[2])
    else:
        start(sys.argv[2], pdf=sys.argv[1] == "start-pdf")
