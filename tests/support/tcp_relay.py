#!/usr/bin/python3
"""A TCP relay on 127.0.0.1, for tests: a service that can go away and come back.

  tcp_relay.py PORT TARGET

Listens on PORT (0: a free one), prints the port it listens on, and passes
each connection through to 127.0.0.1:TARGET until it is killed or the process
that started it ends. Started again with the port it printed, it is the same
address again.
"""
import os
import socket
import sys
import threading

import lifetime


def pipe(source, sink):
    try:
        while data := source.recv(65536):
            sink.sendall(data)
    except OSError:
        pass
    for end in (source, sink):
        try:
            end.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def main():
    lifetime.on_end_of(lifetime.starter(), lambda: os._exit(0))
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", int(sys.argv[1])))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        server = socket.create_connection(("127.0.0.1", int(sys.argv[2])))
        for ends in ((client, server), (server, client)):
            threading.Thread(target=pipe, args=ends, daemon=True).start()


if __name__ == "__main__":
    main()
