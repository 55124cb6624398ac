#!/usr/bin/python3
"""N engines (qg-get) on one file from one nginx origin capped at a total rate, with the
lookup service (qg-lookup) between them: the origin's egress (from its access log) and each
engine's time from its start. Run by bench/run_swarm_bench.sh, which builds the programs.

  swarm_bench.py QG_GET QG_LOOKUP WORKDIR SIZE_MIB RATE_MIB ENGINES STAGGER UPLOAD MODE...

MODE: "md5" (each engine given the file's digest) or "blocks" (the digest, and the block
list published beside the file). UPLOAD: each engine's upload limit in bytes per second
(0: none). The origin allows 4 connections in all (every engine asks from 127.0.0.1), each
at a quarter of the rate. Every engine seeds until the last one has finished.
"""
import hashlib
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

ORIGIN_CONNECTIONS = 4


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(port):
    for _ in range(100):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    sys.exit("nothing listens on port %d" % port)


def start_origin(work, root, rate_bytes):
    conf_dir = os.path.join(work, "nginx")
    os.makedirs(conf_dir, exist_ok=True)
    port = free_port()
    log = os.path.join(work, "origin.log")
    with open(os.path.join(conf_dir, "nginx.conf"), "w") as f:
        f.write("""daemon off;
master_process off;
worker_processes 1;
pid %(d)s/nginx.pid;
error_log %(d)s/error.log crit;
events { worker_connections 512; }
http {
  log_format sent '$request_uri $status $body_bytes_sent $http_range';
  access_log %(log)s sent;
  sendfile on;
  client_body_temp_path %(d)s/client_body;
  proxy_temp_path %(d)s/proxy;
  fastcgi_temp_path %(d)s/fastcgi;
  uwsgi_temp_path %(d)s/uwsgi;
  scgi_temp_path %(d)s/scgi;
  limit_conn_zone $server_port zone=all:1m;
  server {
    listen 127.0.0.1:%(port)d backlog=256;
    root %(root)s;
    limit_conn all %(conns)d;
    limit_rate %(rate)d;
  }
}
""" % dict(d=conf_dir, log=log, port=port, root=root, conns=ORIGIN_CONNECTIONS,
           rate=rate_bytes // ORIGIN_CONNECTIONS))
    proc = subprocess.Popen(["/usr/sbin/nginx", "-p", conf_dir, "-c",
                             os.path.join(conf_dir, "nginx.conf"), "-e",
                             os.path.join(conf_dir, "error.log")])
    wait_for(port)
    return proc, port, log


def origin_sent(log, path):
    total = 0
    with open(log) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 3 and parts[0] == path:
                total += int(parts[2])
    return total


def sent_again(log, path):
    """Bytes the origin sent that it had sent before (to another engine, or the same)."""
    spans = []
    with open(log) as f:
        for line in f:
            parts = line.split()
            if len(parts) != 4 or parts[0] != path or parts[1] not in ("200", "206"):
                continue
            first = int(parts[3].split("=")[1].split("-")[0]) if "=" in parts[3] else 0
            spans.append((first, first + int(parts[2])))
    covered = 0
    end = -1
    for first, last in sorted(spans):
        if last > max(first, end):
            covered += last - max(first, end)
        end = max(end, last)
    return sum(last - first for first, last in spans) - covered


def start_lookup(qg_lookup, work):
    err = open(os.path.join(work, "lookup.log"), "ab")
    proc = subprocess.Popen([qg_lookup, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                            stderr=err)
    port = int(proc.stdout.readline())
    return proc, port


class Engine:
    def __init__(self, qg_get, args, log):
        self.started = time.monotonic()
        self.finished = None
        self.ok = False
        self.log = open(log, "wb")
        self.proc = subprocess.Popen([qg_get] + args, stderr=subprocess.PIPE)
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        for line in self.proc.stderr:
            self.log.write(line)
            if line.startswith(b"qg-get: complete"):
                self.finished = time.monotonic()
                self.ok = True
            elif line.startswith(b"qg-get: not complete"):
                self.finished = time.monotonic()

    def done(self):
        return self.finished is not None or self.proc.poll() is not None


def run(mode, o):
    work, size = o["work"], o["size"]
    path = "/%s/file.bin" % mode
    lookup, lookup_port = start_lookup(o["qg_lookup"], work)
    engines = []
    try:
        for i in range(o["engines"]):
            if i:
                time.sleep(o["stagger"])
            out = os.path.join(work, "out", "%s-%d.bin" % (mode, i))
            args = ["http://127.0.0.1:%d%s" % (o["port"], path), "-o", out,
                    "--lookup", "127.0.0.1:%d" % lookup_port, "--md5", o["md5"],
                    "--seed", "3600", "--upload-limit", str(o["upload"])]
            engines.append(Engine(o["qg_get"], args, out + ".log"))
        while not all(e.done() for e in engines):
            time.sleep(0.1)
    finally:
        for e in engines:
            if e.proc.poll() is None:
                e.proc.send_signal(signal.SIGTERM)
        for e in engines:
            e.proc.wait()
        lookup.send_signal(signal.SIGTERM)
        lookup.wait()
    ideal = size / o["rate"]
    sent = origin_sent(o["origin_log"], path)
    print("\n%s: origin egress %.1f MiB = %.2f x the file (goal <= 1.5); %.1f MiB of it "
          "bytes sent before" % (mode, sent / 2**20, sent / size,
                                 sent_again(o["origin_log"], path) / 2**20))
    print("engine  start s  time s  time / (size / R)  file")
    worst = 0
    for i, e in enumerate(engines):
        took = (e.finished or time.monotonic()) - e.started
        worst = max(worst, took / ideal)
        out = os.path.join(work, "out", "%s-%d.bin" % (mode, i))
        exact = e.ok and os.path.exists(out) and file_md5(out) == o["md5"]
        print("%6d  %7.1f  %6.1f  %17.2f  %s" % (i, e.started - engines[0].started, took,
                                                   took / ideal, "exact" if exact else "WRONG"))
        if os.path.exists(out):
            os.remove(out)  # memory for the next run
    print("slowest engine: %.2f x size / R (goal <= 1.5)" % worst)


def file_md5(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def main():
    qg_get, qg_lookup, work = sys.argv[1:4]
    size_mib, rate_mib, engines = int(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6])
    stagger, upload = float(sys.argv[7]), int(sys.argv[8])
    modes = sys.argv[9:]
    root = os.path.join(work, "www")
    os.makedirs(os.path.join(root, "md5"), exist_ok=True)
    os.makedirs(os.path.join(root, "blocks"), exist_ok=True)
    os.makedirs(os.path.join(work, "out"), exist_ok=True)
    size = size_mib << 20
    data_path = os.path.join(root, "md5", "file.bin")
    with open(data_path, "wb") as f:
        f.write(os.urandom(size))
    os.link(data_path, os.path.join(root, "blocks", "file.bin"))
    subprocess.run([qg_get, "--make-blocks", os.path.join(root, "blocks", "file.bin")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rate = int(rate_mib * 2**20)
    origin, port, log = start_origin(work, root, rate)
    print("file %d MiB, origin capped at R = %.1f MiB/s (%d connections), %d engines %.0f s "
          "apart, upload limit %s; size / R = %.1f s" %
          (size_mib, rate_mib, ORIGIN_CONNECTIONS, engines, stagger,
           "none" if upload == 0 else "%d B/s" % upload, size / rate))
    try:
        o = dict(qg_get=qg_get, qg_lookup=qg_lookup, work=work, size=size, rate=rate,
                 engines=engines, stagger=stagger, upload=upload, port=port,
                 origin_log=log, md5=file_md5(data_path))
        for mode in modes:
            run(mode, o)
    finally:
        origin.send_signal(signal.SIGTERM)
        origin.wait()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
