#!/usr/bin/python3
"""An update server for the benchmarks whose whole output is capped: one folder on a free
port of 127.0.0.1, byte ranges as a good server sends them, and every byte it sends, over
all its connections together, paced to RATE bytes per second (no burst beyond one chunk).
nginx's limit_rate cannot stand in for it: it caps each answer alone and lets each new
answer start with a second's worth at once, so a client that asks many short ranges, as a
multi-source downloader does, passes any cap.

  capped_server.py FOLDER RATE_BYTES_PER_SECOND LOG

Prints the port on the first line of stdout and serves until it is killed. LOG gets one
line "PATH STATUS BYTES" per answer, the bytes of its body written to the client.
"""
import http.server
import os
import re
import socket
import sys
import threading
import time

CHUNK = 64 * 1024
FOLDER = RATE = LOG = None
PACE_LOCK = threading.Lock()
LOG_LOCK = threading.Lock()
next_free = 0.0


def pace(size):
    """Waits until `size` more bytes may go out under the server's cap."""
    global next_free
    with PACE_LOCK:
        now = time.monotonic()
        start = max(now, next_free)
        next_free = start + size / RATE
    if start > now:
        time.sleep(start - now)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def log_sent(self, status, sent):
        with LOG_LOCK, open(LOG, "a") as log:
            log.write("%s %d %d\n" % (self.path.split("?")[0], status, sent))

    def answer(self, with_body):
        path = os.path.join(FOLDER, self.path.split("?")[0].lstrip("/"))
        if ".." in self.path or not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            self.log_sent(404, 0)
            return
        size = os.path.getsize(path)
        start, end, status = 0, size - 1, 200
        m = re.fullmatch(r"bytes=(\d*)-(\d*)", self.headers.get("Range", ""))
        if m and (m.group(1) or m.group(2)):
            if m.group(1):
                start = int(m.group(1))
                end = min(int(m.group(2)), size - 1) if m.group(2) else size - 1
            else:
                start = max(0, size - int(m.group(2)))
            if start >= size or start > end:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                self.log_sent(416, 0)
                return
            status = 206
        self.send_response(status)
        self.send_header("Content-Length", str(end - start + 1))
        self.send_header("Accept-Ranges", "bytes")
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.end_headers()
        sent = 0
        if with_body:
            with open(path, "rb") as f:
                f.seek(start)
                left = end - start + 1
                try:
                    while left > 0:
                        data = f.read(min(CHUNK, left))
                        if not data:
                            break
                        pace(len(data))
                        self.wfile.write(data)
                        sent += len(data)
                        left -= len(data)
                except OSError:
                    self.close_connection = True
        self.log_sent(status, sent)

    def do_GET(self):
        self.answer(True)

    def do_HEAD(self):
        self.answer(False)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128


def main():
    global FOLDER, RATE, LOG
    FOLDER, RATE, LOG = os.path.abspath(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    server = Server(("127.0.0.1", 0), Handler)
    server.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
