#!/usr/bin/python3
"""Serves one folder over HTTP on a free port of 127.0.0.1 for the tests; prints the port
on the first line of stdout. Missing files answer 404.

  static_server.py FOLDER [--stall URLPATH MARKER]

With --stall, a request for URLPATH is answered with headers and a few bytes and then
nothing more, after MARKER (a file) has been created: a test waits for MARKER to know that
the download is under way."""
import functools
import http.server
import sys
import time


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    stall_path = None
    stall_marker = None

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.stall_path is not None and self.path == self.stall_path:
            self.send_response(200)
            self.send_header("Content-Length", "1000000")
            self.end_headers()
            self.wfile.write(b"x" * 100)
            self.wfile.flush()
            open(self.stall_marker, "w").close()
            time.sleep(600)
            return
        super().do_GET()


def main():
    folder = sys.argv[1]
    if len(sys.argv) == 5 and sys.argv[2] == "--stall":
        Handler.stall_path, Handler.stall_marker = sys.argv[3], sys.argv[4]
    handler = functools.partial(Handler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
