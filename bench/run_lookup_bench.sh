#!/usr/bin/env bash
# qg-lookup under load: lookups by digest (POST /getfipl.php, 20 peers wanted) against
# PEERS announced engines, with wrk on 127.0.0.1, in memory and on a redis-server of its
# own. Two spreads: every engine holding one file (each lookup picks 20 of PEERS), and the
# engines spread over 100 files. Reports requests per second, the 50th and 99th
# percentile latency (of the run with the median requests per second, out of RUNS), and
# the memory the announcements take.
#   bash bench/run_lookup_bench.sh
#   PEERS=10000 SECONDS_EACH=10 CONNECTIONS=32 RUNS=3 bash bench/run_lookup_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/release_build.sh

peers=${PEERS:-10000}
seconds=${SECONDS_EACH:-10}
connections=${CONNECTIONS:-32}
runs=${RUNS:-3}

command -v wrk >/dev/null || { echo "wrk is missing: run scripts/setup" >&2; exit 1; }
command -v redis-server >/dev/null || { echo "redis-server is missing: run scripts/setup" >&2; exit 1; }
build_release qg-lookup >/dev/null
lookup=$PWD/build/release/tools/qg-lookup

work=$(mktemp -d /dev/shm/qg-lookup-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

redis_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
redis-server --port "$redis_port" --bind 127.0.0.1 --save "" --appendonly no --dir "$work" \
  --loglevel warning >/dev/null &
redis_pid=$!
pids+=("$redis_pid")
for _ in $(seq 100); do
  redis-cli -p "$redis_port" ping 2>/dev/null | grep -q PONG && break
  sleep 0.1
done

rss_kib() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }

printf '%-8s %-6s %12s %10s %10s %s\n' store files "requests/s" "p50" "p99" "memory"
for store in memory redis; do
  for files in 1 100; do
    args=(--listen 127.0.0.1:0 --trusted-proxy 127.0.0.1)
    if [ "$store" = redis ]; then
      redis-cli -p "$redis_port" flushall >/dev/null
      args+=(--store "redis://127.0.0.1:$redis_port")
    fi
    coproc LOOKUP { exec "$lookup" "${args[@]}" 2>/dev/null; }
    lookup_pid=$LOOKUP_PID
    pids+=("$lookup_pid")
    read -r port <&"${LOOKUP[0]}"
    before=$(rss_kib "$lookup_pid")
    redis_before=$(redis-cli -p "$redis_port" info memory | awk -F: '/^used_memory:/ { print $2 }' | tr -d '\r')
    seeded=$(/usr/bin/python3 bench/lookup_seed.py "$port" "$peers" "$files")
    [ "$seeded" = "$peers" ] || { echo "only $seeded of $peers announcements taken" >&2; exit 1; }
    known=$(curl -s "http://127.0.0.1:$port/status" | sed 's/.*"peers_known":\([0-9]*\).*/\1/')
    [ "$known" = "$peers" ] || { echo "the service knows $known peers, not $peers" >&2; exit 1; }
    if [ "$store" = memory ]; then
      memory="$(( ($(rss_kib "$lookup_pid") - before) / 1024 )) MiB in the service"
    else
      after=$(redis-cli -p "$redis_port" info memory | awk -F: '/^used_memory:/ { print $2 }' | tr -d '\r')
      memory="$(( (after - redis_before) / 1048576 )) MiB in Redis"
    fi
    results=()
    for _ in $(seq "$runs"); do
      out=$(LOOKUP_FILES=$files wrk -t 2 -c "$connections" -d "${seconds}s" --latency \
        -s bench/lookup_getfipl.lua "http://127.0.0.1:$port/getfipl.php")
      if grep -q "Non-2xx" <<<"$out"; then echo "$out" >&2; exit 1; fi
      results+=("$(awk '/^Requests\/sec/ { rps = $2 } $1 == "50%" { p50 = $2 } $1 == "99%" { p99 = $2 }
        END { print rps, p50, p99 }' <<<"$out")")
    done
    read -r rps p50 p99 <<<"$(printf '%s\n' "${results[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")"
    echo "  $store, $files files, runs (requests/s p50 p99): $(printf '%s; ' "${results[@]}")" >&2
    printf '%-8s %-6s %12s %10s %10s %s\n' "$store" "$files" "$rps" "$p50" "$p99" "$memory"
    kill "$lookup_pid"
    wait "$lookup_pid" 2>/dev/null || true
  done
done
