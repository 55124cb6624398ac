#!/usr/bin/python3
"""nginx serving one folder on a free port of 127.0.0.1, for tests that want a real web
server; prints the port on the first line of stdout and runs until SIGTERM.

  nginx_server.py FOLDER [RATE_BYTES_PER_SECOND [CONNECTIONS_PER_CLIENT [LOG]]]

RATE limits each response (0: none); CONNECTIONS caps the connections of one client
address (0: none; more are answered 503). Every request is logged, as it ends, in LOG
(default FOLDER/../nginx-PORT.count), one line "REQUEST RANGE STATUS BYTES_SENT" each.
"""
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

PR_SET_PDEATHSIG = 1


def die_with_parent():
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def config(work, folder, port, rate, conns, log):
    limits = ""
    if rate:
        limits += "limit_rate %d;" % rate
    if conns:
        limits += "limit_conn perclient %d;" % conns
    log = log or os.path.join(folder, "..", "nginx-%d.count" % port)
    return """daemon off;
master_process off;
worker_processes 1;
pid %(work)s/nginx.pid;
error_log %(work)s/error.log crit;
events { worker_connections 256; }
http {
  log_format counted '$request "$http_range" $status $body_bytes_sent';
  access_log %(log)s counted;
  sendfile on;
  client_body_temp_path %(work)s/client_body;
  proxy_temp_path %(work)s/proxy;
  fastcgi_temp_path %(work)s/fastcgi;
  uwsgi_temp_path %(work)s/uwsgi;
  scgi_temp_path %(work)s/scgi;
  limit_conn_zone $binary_remote_addr$server_port zone=perclient:1m;
  server {
    listen 127.0.0.1:%(port)d;
    root %(folder)s;
    %(limits)s
  }
}
""" % dict(work=work, folder=folder, port=port, limits=limits, log=log)


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def main():
    folder = os.path.abspath(sys.argv[1])
    rate = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    conns = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    log = os.path.abspath(sys.argv[4]) if len(sys.argv) > 4 else ""
    work = tempfile.mkdtemp(prefix="qg-nginx-")
    proc = None
    # Another process may take the free port before nginx binds it: try again then.
    for _ in range(5):
        port = free_port()
        conf = os.path.join(work, "nginx.conf")
        with open(conf, "w") as f:
            f.write(config(work, folder, port, rate, conns, log))
        proc = subprocess.Popen(["/usr/sbin/nginx", "-p", work, "-c", conf,
                                 "-e", os.path.join(work, "error.log")],
                                preexec_fn=die_with_parent)
        for _ in range(100):
            if proc.poll() is not None or listening(port):
                break
            time.sleep(0.05)
        if proc.poll() is None and listening(port):
            break
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        proc = None
    if proc is None:
        shutil.rmtree(work, ignore_errors=True)
        sys.exit("nginx did not start")

    # Only a signal to nginx here: the main thread reaps it and cleans up.
    signal.signal(signal.SIGTERM, lambda *_: os.kill(proc.pid, signal.SIGTERM))
    print(port, flush=True)
    proc.wait()
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
