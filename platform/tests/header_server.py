#!/usr/bin/python3
"""Answers each path with a fixed response, for the HTTP transfer tests; prints its port on
the first line of stdout.
  /range/VALUE   206 with "Content-Range: VALUE" (URL-decoded) and a 5-byte body
  /plain         200 with a 5-byte body and no Content-Range
  /silent        reads the request and never answers
"""
import http.server
import sys
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path == "/silent":
            time.sleep(3600)
            return
        if self.path.startswith("/range/"):
            self.send_response(206)
            self.send_header("Content-Range", urllib.parse.unquote(self.path[7:]))
        else:
            self.send_response(200)
        self.send_header("Content-Length", "5")
        self.end_headers()
        self.wfile.write(b"hello")


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
