#!/usr/bin/python3
"""A tunnelling HTTP proxy for the downloader tests: answers CONNECT to a port of
127.0.0.1 with a status line and headers of its own, then relays bytes both ways.

Listens on 127.0.0.1 on a free port and prints the port on the first line of stdout.
Every other request, and any other target host, gets 403.
"""
import select
import socket
import socketserver
import sys


class Tunnel(socketserver.StreamRequestHandler):
    def handle(self):
        request = self.rfile.readline(4096).decode("latin-1").split()
        while self.rfile.readline(4096) not in (b"\r\n", b"\n", b""):
            pass  # the request's headers
        if len(request) != 3 or request[0] != "CONNECT":
            return self.refuse()
        host, _, port = request[1].rpartition(":")
        if host != "127.0.0.1" or not port.isdigit():
            return self.refuse()
        try:
            upstream = socket.create_connection((host, int(port)), timeout=10)
        except OSError:
            return self.refuse()
        # Headers that a client must never take for the file's own.
        self.wfile.write(b"HTTP/1.1 200 Connection established\r\n"
                         b"Proxy-Agent: qg-test-proxy\r\n"
                         b"Content-Length: 999999\r\n\r\n")
        self.wfile.flush()
        self.relay(self.connection, upstream)

    def refuse(self):
        self.wfile.write(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")

    @staticmethod
    def relay(a, b):
        sockets = [a, b]
        try:
            while True:
                readable, _, _ = select.select(sockets, [], [], 30)
                if not readable:
                    return
                for s in readable:
                    data = s.recv(65536)
                    if not data:
                        return
                    (b if s is a else a).sendall(data)
        except OSError:
            return
        finally:
            b.close()


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Tunnel)
    sys.stdout.write("%d\n" % server.server_address[1])
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
