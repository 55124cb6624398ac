#!/usr/bin/python3
"""The operator's counting server for the install-ping tests, on a free port of
127.0.0.1 (printed on the first line). Every request path is appended to LOG; every
request is answered 200 with the bytes of REPLY (Python escapes such as \\r\\n allowed).
REPLY "--silent" listens without ever accepting a connection."""
import http.server
import socket
import sys
import time


def main():
    if sys.argv[1] == "--silent":
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(8)
        print(listener.getsockname()[1], flush=True)
        while True:
            time.sleep(60)
    reply = sys.argv[1].encode("latin-1").decode("unicode_escape").encode("latin-1")
    log = sys.argv[2]

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            with open(log, "a", encoding="latin-1") as f:
                f.write(self.path + "\n")
            self.send_response(200)
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
