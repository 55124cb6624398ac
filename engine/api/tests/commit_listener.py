#!/usr/bin/python3
"""Accepts connections on a free port of 127.0.0.1 (printed on the first line of stdout) and
appends all that each one sends to OUTPUT, then a line "--end--" when it closes.

  commit_listener.py OUTPUT"""
import socket
import sys

listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(4)
print(listener.getsockname()[1], flush=True)
while True:
    conn, _ = listener.accept()
    conn.settimeout(30)
    data = b""
    try:
        while True:
            piece = conn.recv(4096)
            if not piece:
                break
            data += piece
    except OSError:
        pass
    conn.close()
    with open(sys.argv[1], "ab") as f:
        f.write(data + b"--end--\n")
