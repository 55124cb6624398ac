#!/usr/bin/python3
"""Scripted lookup server for the peer-lookup tests: answers POST /getfipl.php with the
text of a file and keeps the request for the test. Listens on a free port of 127.0.0.1
and prints the port on the first line of stdout.

  scripted_lookup_server.py ANSWER_FILE REQUEST_FILE [STATUS]

ANSWER_FILE is read at each request (the test may change it between requests); the
request line, headers and body are written to REQUEST_FILE. STATUS (default 200) is the
status of every answer; "stall" never answers; "drip:SECONDS" answers 200 with the
answer's length and then sends one byte of it every SECONDS. While it drips it watches
the connection and writes REQUEST_FILE.closed as soon as the client closes it.
"""
import http.server
import select
import sys
import time

ANSWER = REQUEST = None
STATUS = "200"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        with open(REQUEST, "wb") as f:
            f.write(self.requestline.encode() + b"\r\n")
            for name, value in self.headers.items():
                f.write(("%s: %s\r\n" % (name, value)).encode("latin-1"))
            f.write(b"\r\n" + body)
        if STATUS == "stall":
            time.sleep(3600)
            return
        with open(ANSWER, "rb") as f:
            answer = f.read()
        if STATUS.startswith("drip:"):
            self.drip(answer, float(STATUS[5:]))
            return
        self.send_response(int(STATUS))
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def drip(self, answer, seconds):
        self.send_response(200)
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.flush()
        sock = self.connection
        try:
            for i in range(len(answer)):
                sock.sendall(answer[i:i + 1])
                until = time.monotonic() + seconds
                while time.monotonic() < until:
                    readable, _, _ = select.select([sock], [], [], 0.05)
                    if readable and not sock.recv(4096):
                        raise ConnectionError("closed by the client")
        except OSError:
            with open(REQUEST + ".closed", "wb"):
                pass


def main():
    global ANSWER, REQUEST, STATUS
    ANSWER, REQUEST = sys.argv[1], sys.argv[2]
    if len(sys.argv) > 3:
        STATUS = sys.argv[3]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
