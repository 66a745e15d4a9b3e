#!/usr/bin/python3
"""A local newspaper service and TRMNL-like image webhook, for tests and the demo.

  newspaper_service.py DIR

Serves HTTPS on 127.0.0.1, and on [::1] at the same port where it can, on a
free port until SIGTERM or until the process that started it ends, with a
throw-away CA made by openssl at start. Writes into DIR: ca.pem (trust it with
CURL_CA_BUNDLE), service.pid, and last port (once it answers). Each request
reads DIR/script.json, which the test or demo writes (replace it whole):

  {"token": "...",                      key the /api/v1/ paths require
   "state": "waiting" | "disabled",     when there is no "issue"
   "issue": {"id": "...", "file": "/path/issue.pdf", "pages": 2},
   "routes": {"/path": response, ...}}  overrides, matched without the query

A response is {"status": 200, "json": {...} | "body": "..." | "file": path |
"zeros": n, "length": false (no Content-Length), "location": "...",
"stall": true | n}. A stall holds the answer (true) or sends the headers and
the body's first n bytes, then waits until DIR/released exists, and goes on;
once it exists, nothing stalls (a new script goes with a new release).
POST /api/plugin_settings/<uuid>/image answers 200 unless a route says other.
Every request is appended to DIR/requests.jsonl (method, path, host,
authorization, content_type, length, sha256 of the body), each request's body
to DIR/bodies/<n>.
"""
import hashlib
import http.server
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time

import lifetime

BASE = ""
LOCK = threading.Lock()


def make_certificates(base):
    run = lambda *arguments: subprocess.run(["openssl", *arguments], check=True,
                                            capture_output=True, cwd=base)
    curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *curve, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=Quillo test CA")
    run("req", *curve, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    with open(os.path.join(base, "server.ext"), "w") as file:
        # localhost too, so that a request wrongly sent there reaches this log.
        file.write("subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out", "server.pem")


def script():
    try:
        with open(os.path.join(BASE, "script.json")) as file:
            return json.load(file)
    except (OSError, ValueError):
        return {}


def issue_routes(issue):
    with open(issue["file"], "rb") as file:
        digest = hashlib.sha256(file.read()).hexdigest()
    pdf = f"/api/v1/delivery/issues/{issue['id']}.pdf"
    return {"/api/v1/delivery/latest": {"json": {
                "state": "ready", "issue": issue["id"], "pdf": pdf, "sha256": digest,
                "pages": issue.get("pages", 1)}},
            pdf: {"file": issue["file"]}}


def released():
    return os.path.exists(os.path.join(BASE, "released"))


def wait_for_release():
    while not released():
        time.sleep(0.05)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body leave in separate writes; Nagle would hold the second.
    disable_nagle_algorithm = True

    def log_message(self, *arguments):
        pass

    def record(self, body):
        with LOCK:
            bodies = os.path.join(BASE, "bodies")
            os.makedirs(bodies, exist_ok=True)
            with open(os.path.join(BASE, "requests.jsonl"), "a+") as log:
                log.seek(0)
                number = sum(1 for _ in log)
                log.write(json.dumps({
                    "method": self.command, "path": self.path, "host": self.headers["Host"],
                    "authorization": self.headers["Authorization"],
                    "user_agent": self.headers["User-Agent"],
                    "content_type": self.headers["Content-Type"], "length": len(body),
                    "sha256": hashlib.sha256(body).hexdigest()}) + "\n")
            with open(os.path.join(bodies, str(number)), "wb") as file:
                file.write(body)

    def respond(self, answer):
        stall = False if released() else answer.get("stall", False)
        if stall is True:
            wait_for_release()
        status = answer.get("status", 200)
        headers = {}
        if "location" in answer:
            headers["Location"] = answer["location"]
        if "json" in answer:
            body = json.dumps(answer["json"]).encode()
            headers["Content-Type"] = "application/json"
        elif "file" in answer:
            with open(answer["file"], "rb") as file:
                body = file.read()
            headers["Content-Type"] = "application/pdf"
        else:
            body = answer.get("body", "").encode()
        zeros = answer.get("zeros", 0)
        with_length = answer.get("length", True)
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        if with_length:
            self.send_header("Content-Length", str(len(body) + zeros))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        try:
            if stall is not True and stall is not False:
                self.wfile.write(body[:stall])
                self.wfile.flush()
                wait_for_release()
                body = body[stall:]
            self.wfile.write(body)
            block = bytes(65536)
            while zeros > 0:
                self.wfile.write(block[:min(zeros, len(block))])
                zeros -= len(block)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        self.record(body)
        current = script()
        path = self.path.split("?")[0]
        routes = issue_routes(current["issue"]) if "issue" in current else {
            "/api/v1/delivery/latest": {"json": {"state": current.get("state", "waiting")}}}
        routes.update(current.get("routes", {}))
        token = current.get("token")
        if path.startswith("/api/v1/") and token is not None and \
                self.headers["Authorization"] != f"Bearer {token}":
            self.respond({"status": 401, "json": {"error": "unauthorized"}})
        elif path in routes:
            self.respond(routes[path])
        elif self.command == "POST" and path.startswith("/api/plugin_settings/") and \
                path.endswith("/image"):
            self.respond({"json": {"message": "image received"}})
        else:
            self.respond({"status": 404, "body": "not found"})

    do_GET = handle_any
    do_POST = handle_any


class IPv6Server(http.server.ThreadingHTTPServer):
    address_family = socket.AF_INET6


def serve(kind, address, context):
    server = kind(address, Handler)
    server.daemon_threads = True
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    return server


def main():
    global BASE
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    lifetime.on_end_of(lifetime.starter(), lambda: os._exit(0))
    BASE = os.path.abspath(sys.argv[1])
    os.makedirs(BASE, exist_ok=True)
    make_certificates(BASE)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(BASE, "server.pem"), os.path.join(BASE, "server.key"))
    server = serve(http.server.ThreadingHTTPServer, ("127.0.0.1", 0), context)
    try:
        # The same service on IPv6 loopback, for origins written as [::1].
        ipv6 = serve(IPv6Server, ("::1", server.server_address[1]), context)
        threading.Thread(target=ipv6.serve_forever, daemon=True).start()
    except OSError:
        pass
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    with open(os.path.join(BASE, "service.pid"), "w") as file:
        file.write(f"{os.getpid()}\n")
    with open(os.path.join(BASE, "port.new"), "w") as file:
        file.write(f"{server.server_address[1]}\n")
    os.rename(os.path.join(BASE, "port.new"), os.path.join(BASE, "port"))
    server.serve_forever()


if __name__ == "__main__":
    main()
