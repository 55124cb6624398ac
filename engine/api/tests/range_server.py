#!/usr/bin/python3
"""Serves one folder over HTTP with byte ranges on a free port of 127.0.0.1, optionally at a
limited rate; prints the port on the first line of stdout. Missing files answer 404.

  range_server.py FOLDER [RATE_BYTES_PER_SECOND]

Every GET is appended to FOLDER/../requests.log as "PATH RANGE" so that a test can tell
which server delivered what."""
import http.server
import os
import re
import sys
import time

FOLDER = None
RATE = 0


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = os.path.join(FOLDER, self.path.lstrip("/").split("?")[0])
        rng = self.headers.get("Range", "")
        with open(os.path.join(FOLDER, "..", "requests.log"), "a") as log:
            log.write("%s %s\n" % (self.path, rng or "-"))
        if not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        size = os.path.getsize(path)
        start, end = 0, size - 1
        m = re.match(r"bytes=(\d+)-(\d*)$", rng)
        if m:
            start = int(m.group(1))
            if m.group(2):
                end = min(end, int(m.group(2)))
            if start > end:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        else:
            self.send_response(200)
        self.send_header("Content-Length", str(end - start + 1))
        self.end_headers()
        with open(path, "rb") as f:
            f.seek(start)
            left = end - start + 1
            chunk = 16384
            while left > 0:
                data = f.read(min(chunk, left))
                if not data:
                    break
                try:
                    self.wfile.write(data)
                except OSError:
                    return
                left -= len(data)
                if RATE:
                    time.sleep(len(data) / RATE)


def main():
    global FOLDER, RATE
    FOLDER = sys.argv[1]
    RATE = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever()


main()
