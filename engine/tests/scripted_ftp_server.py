#!/usr/bin/python3
"""Scripted FTP server for replies a real server will not give. Listens on a free port of
127.0.0.1 and prints the port on the first line of stdout.

Serves one file "/file.bin" of SIZE bytes (default 300000) of the test pattern
(byte i = (i * 7 + 3) % 251), computed per offset, so a huge size costs nothing.

  scripted_ftp_server.py [MODE,MODE...] [SIZE]

Modes:
  user230         USER is answered 230 (no password asked); PASS would be refused
  multiline       LIST and RETR answer "150-...", a text line, then "150 ..."
  norest          REST is refused with 502
  pasv-elsewhere  PASV names 10.9.8.7 (the port is the real one on 127.0.0.1)
  silent          accepts the connection and never greets
  stall-type      TYPE is never answered
  endless         TYPE is answered with endless "200-" lines
  stall-data      RETR sends 1000 bytes, then nothing, without closing
  nolist          LIST sends an empty listing (the size must come from SIZE)
"""
import socket
import socketserver
import sys
import threading
import time

MODES = set()
SIZE = 300000


def pattern(start, end):
    return bytes((i * 7 + 3) % 251 for i in range(start, end))


class Handler(socketserver.StreamRequestHandler):
    def send(self, text):
        self.wfile.write(text.encode() + b"\r\n")
        self.wfile.flush()

    def handle(self):
        if "silent" in MODES:
            time.sleep(3600)
            return
        self.passive = None
        self.rest = 0
        self.send("220 scripted server")
        while True:
            line = self.rfile.readline(8192)
            if not line:
                return
            command, _, argument = line.decode("latin-1").strip().partition(" ")
            try:
                if not self.answer(command.upper(), argument):
                    return
            except (BrokenPipeError, ConnectionResetError):
                return

    def data_connection(self):
        listener, self.passive = self.passive, None
        if listener is None:
            return None
        listener.settimeout(10)
        try:
            connection, _ = listener.accept()
        except OSError:
            return None
        finally:
            listener.close()
        return connection

    def answer(self, command, argument):
        if command == "USER":
            self.send("230 welcome" if "user230" in MODES else "331 password please")
        elif command == "PASS":
            self.send("530 no password expected" if "user230" in MODES else "230 logged in")
        elif command == "TYPE":
            if "stall-type" in MODES:
                time.sleep(3600)
            if "endless" in MODES:
                while True:
                    self.send("200-and one more line of this reply")
            self.send("200 type set")
        elif command == "PASV":
            listener = socket.socket()
            listener.bind(("127.0.0.1", 0))
            listener.listen(1)
            self.passive = listener
            port = listener.getsockname()[1]
            host = "10,9,8,7" if "pasv-elsewhere" in MODES else "127,0,0,1"
            self.send("227 Entering Passive Mode (%s,%d,%d)." % (host, port // 256, port % 256))
        elif command == "REST":
            if "norest" in MODES:
                self.send("502 no restarts here")
            else:
                self.rest = int(argument)
                self.send("350 restarting at %d" % self.rest)
        elif command == "SIZE":
            self.send("213 %d" % SIZE if argument == "/file.bin" else "550 no such file")
        elif command == "LIST":
            self.transfer(b"" if "nolist" in MODES else (
                "-rw-r--r--   1 owner group %d Jan 01 12:00 file.bin\r\n" % SIZE).encode())
        elif command == "RETR":
            if argument != "/file.bin":
                self.data_connection_close()
                self.send("550 no such file")
                return True
            self.transfer(None)
        elif command == "QUIT":
            self.send("221 bye")
            return False
        else:
            self.send("502 not here")
        return True

    def data_connection_close(self):
        if self.passive is not None:
            self.passive.close()
            self.passive = None

    def transfer(self, listing):
        if "multiline" in MODES:
            self.send("150-opening the data connection")
            self.send("   a line of text without a code")
            self.send("150 here it comes")
        else:
            self.send("150 here it comes")
        connection = self.data_connection()
        if connection is None:
            self.send("425 no data connection")
            return
        try:
            if listing is not None:
                connection.sendall(listing)
            elif "stall-data" in MODES:
                connection.sendall(pattern(self.rest, min(SIZE, self.rest + 1000)))
                time.sleep(3600)
            else:
                offset = self.rest
                while offset < SIZE:
                    end = min(SIZE, offset + 65536)
                    connection.sendall(pattern(offset, end))
                    offset = end
        except OSError:
            self.send("426 transfer aborted")
            return
        finally:
            connection.close()
            self.rest = 0
        self.send("226 done")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global SIZE
    if len(sys.argv) > 1:
        MODES.update(m for m in sys.argv[1].split(",") if m)
    if len(sys.argv) > 2:
        SIZE = int(sys.argv[2])
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    threading.Event().wait()


if __name__ == "__main__":
    main()
