#!/usr/bin/python3
"""An HTTP mirror of one folder on a free port of 127.0.0.1 for the engine's tests; prints
the port on the first line of stdout. Byte ranges as a good server sends them (416 for a
range that starts past the end, 404 for a missing file), unless a mode makes it misbehave:

  mirror_server.py FOLDER MODE [RATE_BYTES_PER_SECOND]
    good     ranges as asked
    wrong    ranges as asked, every byte inverted
    norange  ignores Range: always 200 with the whole file
    cut      closes the connection after 64 KiB of each body
    stall    sends 64 KiB of each body, then nothing
    late     refuses its first three requests with 416 (a held map: holds nothing), as a
             peer that does not hold the bytes yet, then as good
    short    answers at most the first 100000 bytes of each range (Content-Range says so),
             as a peer that holds only the start of what was asked
    distant  waits 2 s before it answers each request, as a far server does, then as good
    endless  answers every request 200 without a length and sends bytes until the client
             goes
RATE limits each connection alone.

"PATH?held" answers the held map of a peer's block server (engine/held_map.h): the whole
file, in every mode (a hostile peer claims it too), or nothing while "late" refuses.

What it did goes beside FOLDER, named after the mode and the port, so that a test can tell
which of several mirrors of one folder delivered what:
  MODE-PORT.count  one line "PATH RANGE" per request (RANGE "-" when none), as it arrives
  MODE-PORT.sent   one line "PATH BYTES" per answered body, the bytes written to the client
"""
import http.server
import os
import re
import sys
import threading
import time

FOLDER = MODE = COUNT = SENT = None
RATE = 0
LATE_REFUSALS = 3  # still to refuse in mode "late"
LATE_LOCK = threading.Lock()


def refuse_late():
    global LATE_REFUSALS
    with LATE_LOCK:
        if MODE != "late" or LATE_REFUSALS == 0:
            return False
        LATE_REFUSALS -= 1
        return True


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        rng = self.headers.get("Range", "")
        with open(COUNT, "a") as log:
            log.write("%s %s\n" % (self.path, rng or "-"))
        if MODE == "distant":
            time.sleep(2)
        if MODE == "endless":
            self.send_endless()
            return
        path = os.path.join(FOLDER, self.path.lstrip("/").split("?")[0])
        if not os.path.isfile(path):
            self.send_empty(404)
            return
        size = os.path.getsize(path)
        if self.path.endswith("?held"):
            self.send_held(size)
            return
        if refuse_late():
            self.send_empty(416, "bytes */%d" % size)
            return
        start, end = 0, size - 1
        m = re.match(r"bytes=(\d+)-(\d*)$", rng)
        if m and MODE != "norange":
            start = int(m.group(1))
            if m.group(2):
                end = min(end, int(m.group(2)))
            if MODE == "short":
                end = min(end, start + 100000 - 1)
            if start > end:
                self.send_empty(416, "bytes */%d" % size)
                return
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        else:
            self.send_response(200)
        self.send_header("Content-Length", str(end - start + 1))
        self.end_headers()
        sent = self.send_body(path, start, end - start + 1)
        with open(SENT, "a") as log:
            log.write("%s %d\n" % (self.path, sent))

    def send_endless(self):
        self.send_response(200)
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        sent = 0
        try:
            while True:
                self.wfile.write(b"\x5a" * 65536)
                sent += 65536
                if RATE:
                    time.sleep(65536 / RATE)
        except OSError:
            pass
        with open(SENT, "a") as log:
            log.write("%s %d\n" % (self.path, sent))

    def send_held(self, size):
        ranges = [] if refuse_late() or size == 0 else ["0-%d\r\n" % (size - 1)]
        body = ("QGHELD %d %d\r\n" % (size, len(ranges)) + "".join(ranges)).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_empty(self, status, content_range=None):
        self.send_response(status)
        if content_range:
            self.send_header("Content-Range", content_range)
        self.send_header("Content-Length", "0")
        self.end_headers()

    # Returns the bytes written before the body ended, whole or not.
    def send_body(self, path, start, left):
        sent = 0
        with open(path, "rb") as f:
            f.seek(start)
            while left > 0:
                data = f.read(min(16384, left))
                if not data:
                    break
                if MODE == "wrong":
                    data = bytes(b ^ 0xFF for b in data)
                try:
                    self.wfile.write(data)
                except OSError:
                    return sent
                left -= len(data)
                sent += len(data)
                if MODE in ("cut", "stall") and sent >= 65536:
                    if MODE == "stall":
                        time.sleep(3600)
                    self.close_connection = True
                    return sent
                if RATE:
                    time.sleep(len(data) / RATE)
        return sent


def main():
    global FOLDER, MODE, RATE, COUNT, SENT
    FOLDER, MODE = sys.argv[1], sys.argv[2]
    RATE = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    name = os.path.join(FOLDER, "..", "%s-%d" % (MODE, server.server_address[1]))
    COUNT, SENT = name + ".count", name + ".sent"
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
