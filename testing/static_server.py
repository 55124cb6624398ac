#!/usr/bin/python3
"""Serves one folder over HTTP on a free port of 127.0.0.1 for the tests; prints the port
on the first line of stdout. Missing files answer 404."""
import functools
import http.server
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass


def main():
    folder = sys.argv[1]
    handler = functools.partial(Handler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
