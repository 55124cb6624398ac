#!/usr/bin/env bash
# The launcher with the download engine ("engine=1" in quillgate.cfg): a chain of 3 patch
# packages (about TOTAL_MIB in all, block lists beside them as `qgpatch site` publishes
# them) from three update servers (the primary and two "bakserver"), each capped at R
# (RATE_MIB per second over all its connections, bench/capped_server.py), against the same
# work by hand: aria2c fetching each package from the same three servers at once, then
# `qgpatch apply`. The site and the clients live on tmpfs.
# The two are run interleaved RUNS times; the script prints the median wall times, the
# goal (1.1 x chain size / 3R, plus the apply time by hand) and what each server sent.
#   bash bench/run_launcher_engine_bench.sh          300 MiB at 10 MiB/s per server, 3 runs
#   TOTAL_MIB=60 RATE_MIB=5 RUNS=1 bash bench/run_launcher_engine_bench.sh
# KEEP=1 leaves the folder in place (launcher.log: the last launcher run, with the time of
# each line).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source bench/nginx_site.sh
source bench/release_build.sh
source bench/update_site.sh

runs=${RUNS:-3}
total_mib=${TOTAL_MIB:-300}
rate_mib=${RATE_MIB:-10}

command -v aria2c >/dev/null || { echo "aria2c is missing: run scripts/setup" >&2; exit 1; }
build_release quillgate qgpatch axp_tool >/dev/null
bin=$PWD/build/release
axp=$bin/tools/axp
qgpatch=$bin/tools/qgpatch

work=$(mktemp -d /dev/shm/qg-launcher-engine-bench.XXXXXX)
server_pids=()
cleanup() {
  for p in "${server_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${KEEP:-}" ]; then echo "left in place: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
cd "$work"

# start_server NAME: an update server of its own on the site, capped at R in all
# (bench/capped_server.py: nginx's limit_rate lets short ranged answers pass its cap),
# logging the bytes of each answer; sets server_port.
start_server() {
  : > "$work/$1.log"
  /usr/bin/python3 "$root/bench/capped_server.py" "$work/site" "$((rate_mib << 20))" \
    "$work/$1.log" > "$work/$1.port" &
  server_pids+=($!)
  for _ in $(seq 50); do [ -s "$work/$1.port" ] && break; sleep 0.1; done
  server_port=$(head -1 "$work/$1.port")
  wait_for_http "$server_port"
}

make_update_site "$total_mib"
start_server primary; primary=http://127.0.0.1:$server_port
start_server backup1; backup1=127.0.0.1:$server_port
start_server backup2; backup2=127.0.0.1:$server_port
publish_patch_info "$primary"  # also writes site/p*.pkg.blocks
chain_bytes=$(cat site/p1.pkg site/p2.pkg site/p3.pkg | wc -c)
chain_mib=$(echo "scale=1; $chain_bytes / 1048576" | bc)

fresh_client() {
  rm -rf client && cp -r v0 client
  cp "$bin/app/quillgate" client/quillgate.exe
  printf '[quillgate]\r\nverinfo=%s/patchinfo.txt\r\nserverlist=%s/server.lst\r\nbakserver=%s;%s\r\nengine=1\r\nseed=0\r\n' \
    "$primary" "$primary" "$backup1" "$backup2" > client/quillgate.cfg
}

check_client() {  # what
  cmp -s <("$axp" ls client/resource/data.pak) <("$axp" ls v3/resource/data.pak) ||
    { echo "$1: the client does not match the newest version" >&2; exit 1; }
}

# Part files go to $TMPDIR: the same tmpfs as the client, as for aria2c.
run_launcher() {
  (cd client && TMPDIR=$work ./quillgate.exe -direct --headless 2>&1 |
    /usr/bin/python3 -u -c 'import sys, time
t0 = time.monotonic()
for line in sys.stdin: sys.stdout.write("%7.3f %s" % (time.monotonic() - t0, line))' \
    > ../launcher.log; exit "${PIPESTATUS[0]}") ||
    { echo "the launcher failed" >&2; tail -5 launcher.log >&2; exit 1; }
}

# Each package from the three servers at once, one package after the other, as the
# launcher does; aria2c's best settings.
fetch_by_hand() {
  mkdir -p client/download
  for f in patchinfo.txt server.lst; do curl -s -o "client/download/$f" "$primary/$f"; done
  for k in 1 2 3; do
    aria2c -q -x16 -s16 -k1M --allow-overwrite=true --auto-file-renaming=false \
      --file-allocation=none -d client/download -o "p$k.pkg" \
      "$primary/p$k.pkg" "http://$backup1/p$k.pkg" "http://$backup2/p$k.pkg"
  done
}

apply_by_hand() {
  "$qgpatch" apply client/download/p1.pkg client/download/p2.pkg client/download/p3.pkg \
    --dir client > /dev/null 2>&1
}

# Bytes of the packages each server sent since the logs were emptied.
sent_mib() {  # server
  awk '$1 ~ /^\/p[0-9]\.pkg$/ { s += $3 } END { printf "%.1f", s / 1048576 }' "$work/$1.log"
}
empty_logs() { for s in primary backup1 backup2; do : > "$work/$s.log"; done; }

now() { date +%s.%N; }
declare -a launcher_times fetch_times apply_times hand_times
for run in $(seq "$runs"); do
  fresh_client; empty_logs
  t0=$(now); run_launcher; t1=$(now)
  check_client launcher
  launcher_times+=("$(echo "$t1 - $t0" | bc)")
  shares="primary $(sent_mib primary) MiB, backup1 $(sent_mib backup1) MiB, backup2 $(sent_mib backup2) MiB"

  fresh_client
  t0=$(now); fetch_by_hand; t1=$(now); apply_by_hand; t2=$(now)
  check_client "aria2c + qgpatch apply"
  fetch_times+=("$(echo "$t1 - $t0" | bc)")
  apply_times+=("$(echo "$t2 - $t1" | bc)")
  hand_times+=("$(echo "$t2 - $t0" | bc)")
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
ml=$(median "${launcher_times[@]}")
mf=$(median "${fetch_times[@]}")
ma=$(median "${apply_times[@]}")
mh=$(median "${hand_times[@]}")
ideal=$(echo "scale=3; $chain_bytes / 1048576 / (3 * $rate_mib)" | bc)
goal=$(echo "scale=3; 1.1 * $ideal + $ma" | bc)
echo "chain ${chain_mib} MiB (3 packages) from 3 servers capped at ${rate_mib} MiB/s each;" \
  "transfer ideal ${ideal} s; runs: $runs (interleaved)"
echo "launcher, engine on:      median ${ml} s  (runs: ${launcher_times[*]})"
echo "aria2c + qgpatch apply:   median ${mh} s  (runs: ${hand_times[*]})"
echo "  aria2c fetch:           median ${mf} s  (runs: ${fetch_times[*]})"
echo "  qgpatch apply:          median ${ma} s  (runs: ${apply_times[*]})"
echo "goal 1.1 x ideal + apply: ${goal} s; launcher / goal: $(echo "scale=3; $ml / $goal" | bc)"
echo "launcher / by hand:       $(echo "scale=3; $ml / $mh" | bc)"
echo "the last launcher run's packages came from: $shares"
