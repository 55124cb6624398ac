#!/usr/bin/python3
"""An HTTP mirror of one folder on a free port of 127.0.0.1 for the transfer tests; prints
the port on the first line of stdout. Byte ranges as a good server sends them, unless a mode
makes it misbehave:

  mirror_server.py FOLDER MODE [RATE_BYTES_PER_SECOND]
    good     ranges as asked
    wrong    ranges as asked, every byte inverted
    norange  ignores Range: always 200 with the whole file
    cut      closes the connection after 64 KiB of each body
    stall    sends 64 KiB of each body, then nothing
Every request is counted in FOLDER/../MODE-PORT.count (one line per request).
"""
import http.server
import os
import re
import sys
import time

FOLDER = MODE = None
RATE = 0


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(COUNT, "a") as log:
            log.write("%s\n" % self.headers.get("Range", "-"))
        path = os.path.join(FOLDER, self.path.lstrip("/"))
        if not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        size = os.path.getsize(path)
        start, end = 0, size - 1
        m = re.match(r"bytes=(\d+)-(\d*)$", self.headers.get("Range", ""))
        if m and MODE != "norange":
            start = int(m.group(1))
            if m.group(2):
                end = min(end, int(m.group(2)))
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        else:
            self.send_response(200)
        self.send_header("Content-Length", str(end - start + 1))
        self.end_headers()
        with open(path, "rb") as f:
            f.seek(start)
            left, sent = end - start + 1, 0
            while left > 0:
                data = f.read(min(16384, left))
                if MODE == "wrong":
                    data = bytes(b ^ 0xFF for b in data)
                try:
                    self.wfile.write(data)
                except OSError:
                    return
                left -= len(data)
                sent += len(data)
                if MODE in ("cut", "stall") and sent >= 65536:
                    if MODE == "stall":
                        time.sleep(3600)
                    self.close_connection = True
                    return
                if RATE:
                    time.sleep(len(data) / RATE)


def main():
    global FOLDER, MODE, RATE, COUNT
    FOLDER, MODE = sys.argv[1], sys.argv[2]
    RATE = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    COUNT = os.path.join(FOLDER, "..", "%s-%d.count" % (MODE, server.server_address[1]))
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
