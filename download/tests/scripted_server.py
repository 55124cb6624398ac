#!/usr/bin/python3
"""Scripted HTTP server for the downloader tests: the reply is chosen by the path.

Listens on 127.0.0.1 on a free port and prints the port on the first line of stdout.
With "--tls DIR" it serves HTTPS: it first makes a test certificate authority
(DIR/ca.pem) and a certificate for 127.0.0.1 signed by it, with openssl.

  /ok/N               200, Content-Length N, N bytes of the test pattern
  /chunked/N          200, chunked, N bytes, no Content-Length
  /status/CODE        that status with a small HTML error page
  /redirect/K/N       302 to /redirect/K-1/N; /redirect/0/N answers as /ok/N
  /loop               302 to itself
  /stall/N            200, Content-Length N, N/10 bytes, then nothing
  /stall-headers      reads the request and never answers
  /cut/N              200, Content-Length N, N/2 bytes, then the connection is closed
  /cut-chunked/N      chunked, N/2 bytes, then closed without the last chunk
  /trickle/N/MS       200, Content-Length N, 100-byte pieces MS milliseconds apart
  /endless            200, no length, a 100-byte piece every 20 ms until the client goes
  /drip/N/MS          200, Content-Length N, one byte every MS milliseconds
  /echo-headers       200, the request line and headers as the body
"""
import http.server
import os
import socketserver
import ssl
import subprocess
import sys
import time


def pattern(n):
    return bytes((i * 7 + 3) % 251 for i in range(n))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def head(self, status, length=None, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def chunk(self, data):
        self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))

    def do_GET(self):
        parts = [p for p in self.path.split("/") if p]
        kind, args = parts[0], parts[1:]
        try:
            getattr(self, "reply_" + kind.replace("-", "_"))(*args)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def reply_ok(self, n):
        body = pattern(int(n))
        self.head(200, len(body))
        self.wfile.write(body)

    def reply_chunked(self, n):
        body = pattern(int(n))
        self.head(200, None, [("Transfer-Encoding", "chunked")])
        for i in range(0, len(body), 1000):
            self.chunk(body[i:i + 1000])
        self.wfile.write(b"0\r\n\r\n")

    def reply_status(self, code):
        page = b"<html><body>error page %s</body></html>" % code.encode()
        extra = []
        if code == "401":
            extra = [("WWW-Authenticate", 'Basic realm="test"')]
        elif code == "407":
            extra = [("Proxy-Authenticate", 'Basic realm="test"')]
        self.head(int(code), len(page), extra)
        self.wfile.write(page)

    def reply_redirect(self, k, n):
        if int(k) == 0:
            return self.reply_ok(n)
        page = b"moved"
        self.head(302, len(page), [("Location", "/redirect/%d/%s" % (int(k) - 1, n))])
        self.wfile.write(page)

    def reply_loop(self):
        page = b"moved"
        self.head(302, len(page), [("Location", "/loop")])
        self.wfile.write(page)

    def reply_stall(self, n):
        body = pattern(int(n))
        self.head(200, len(body))
        self.wfile.write(body[: len(body) // 10])
        self.wfile.flush()
        time.sleep(60)

    def reply_stall_headers(self):
        time.sleep(60)

    def reply_cut(self, n):
        body = pattern(int(n))
        self.head(200, len(body))
        self.wfile.write(body[: len(body) // 2])
        self.wfile.flush()
        self.close_connection = True

    def reply_cut_chunked(self, n):
        body = pattern(int(n))
        self.head(200, None, [("Transfer-Encoding", "chunked")])
        self.chunk(body[: len(body) // 2])
        self.wfile.flush()
        self.close_connection = True

    def reply_trickle(self, n, ms):
        body = pattern(int(n))
        self.head(200, len(body))
        for i in range(0, len(body), 100):
            self.wfile.write(body[i:i + 100])
            self.wfile.flush()
            time.sleep(int(ms) / 1000.0)

    def reply_endless(self):
        self.head(200, None, [("Connection", "close")])
        self.close_connection = True
        while True:
            self.wfile.write(pattern(100))
            self.wfile.flush()
            time.sleep(0.02)

    def reply_drip(self, n, ms):
        body = pattern(int(n))
        self.head(200, len(body))
        for i in range(len(body)):
            self.wfile.write(body[i:i + 1])
            self.wfile.flush()
            time.sleep(int(ms) / 1000.0)

    def reply_echo_headers(self):
        text = (self.requestline + "\r\n" + str(self.headers)).encode("latin-1")
        self.head(200, len(text))
        self.wfile.write(text)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def make_certificates(folder):
    """A CA and a server certificate for 127.0.0.1 signed by it; returns (cert, key)."""
    def run(*args):
        subprocess.run(["openssl"] + list(args), check=True, cwd=folder,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=Quillgate test CA",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    with open(os.path.join(folder, "server.ext"), "w") as ext:
        ext.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                  "extendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext")
    return os.path.join(folder, "server.pem"), os.path.join(folder, "server.key")


def main():
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) == 3 and sys.argv[1] == "--tls":
        cert, key = make_certificates(sys.argv[2])
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    sys.stdout.write("%d\n" % server.server_address[1])
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
