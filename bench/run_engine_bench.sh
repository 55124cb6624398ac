#!/usr/bin/env bash
# The download engine against the servers' own limits and against aria2c, on mirrors that
# nginx serves on 127.0.0.1 from tmpfs into tmpfs. Three measurements:
#   limited   four mirrors of one file, each allowing 2 connections per client address
#             (limit_conn, zone keyed by address and port) at a fixed rate per connection
#             (5, 10, 20 and 40 MiB/s): the servers' limit is size / sum of the rates.
#             qg-get with its defaults against aria2c with its best settings
#             (-x16 -s16 -k1M), interleaved, RUNS times each.
#   stalled   the same, but the fastest mirror stops answering (SIGSTOP) when half of the
#             ideal time has passed: the ideal is then half the file at the full limit and
#             the other half at the limit of the mirrors that remain.
#   unlimited one mirror without limits, a BIG_MIB file: qg-get against curl and aria2c.
#   +blocks   the unlimited case with the file's block list published beside it (qgpatch
#             blocks): every 256 KiB block hashed (SHA-256) and checked as it arrives;
#             ratio to the same run without.
#   hostile   the limited case with the 20 MiB/s mirror serving other bytes of the same
#             length, and the block list beside the file on the first mirror: the ideal is
#             size / the sum of the good mirrors' rates.
# For each: median wall time, ratio to the ideal (or to curl), median peak memory.
#   bash bench/run_engine_bench.sh
#   RUNS=5 SIZE_MIB=512 BIG_MIB=1024 bash bench/run_engine_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/release_build.sh
source bench/nginx_site.sh

runs=${RUNS:-3}
size_mib=${SIZE_MIB:-512}
big_mib=${BIG_MIB:-1024}
rates=(5 10 20 40) # MiB/s per connection
stall_timeout=${STALL_TIMEOUT:-120}

command -v aria2c >/dev/null || { echo "aria2c is missing: run scripts/setup" >&2; exit 1; }
build_release qg-get qgpatch >/dev/null
qgget=$PWD/build/release/tools/qg-get
qgpatch=$PWD/build/release/tools/qgpatch

work=$(mktemp -d /dev/shm/qg-engine-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -CONT "$p" 2>/dev/null || true; kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_mirror NAME RATE_MIB [ROOT] (rate 0: unlimited): one nginx process of its own, so
# that it can be stopped alone; sets mirror_port and mirror_pid.
start_mirror() {
  local name=$1 rate=$2 root=${3:-$work/www} dir=$work/nginx-$1 limits=""
  mkdir -p "$dir/logs"
  mirror_port=$(free_port)
  if [ "$rate" -gt 0 ]; then
    limits="limit_conn perclient 2; limit_rate ${rate}m;"
  fi
  cat > "$dir/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log crit;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $dir/client_body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  limit_conn_zone \$binary_remote_addr\$server_port zone=perclient:1m;
  server {
    listen 127.0.0.1:$mirror_port backlog=256;
    root $root;
    $limits
  }
}
CONF
  /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" &
  mirror_pid=$!
  pids+=("$mirror_pid")
  wait_for_http "$mirror_port"
}

mkdir -p "$work/www/h" "$work/www/b" "$work/bad/h" "$work/out"
head -c $((size_mib << 20)) /dev/urandom > "$work/www/file.bin"
head -c $((big_mib << 20)) /dev/urandom > "$work/www/big.bin"
file_md5=$(md5sum "$work/www/file.bin" | cut -d' ' -f1)
# The same files again, with their block lists beside them (hard links: no more memory).
ln "$work/www/file.bin" "$work/www/h/file.bin"
ln "$work/www/big.bin" "$work/www/b/big.bin"
"$qgpatch" blocks "$work/www/h/file.bin" "$work/www/b/big.bin" >/dev/null
# The hostile mirror's file: as long, other bytes.
head -c $((size_mib << 20)) /dev/urandom > "$work/bad/h/file.bin"

urls=() mirror_pids=()
for r in "${rates[@]}"; do
  start_mirror "m$r" "$r"
  urls+=("http://127.0.0.1:$mirror_port/file.bin")
  mirror_pids+=("$mirror_pid")
done
start_mirror free 0
big_url="http://127.0.0.1:$mirror_port/big.bin"
big_blocks_url="http://127.0.0.1:$mirror_port/b/big.bin"
hostile_rate=20
# The hostile case: the good mirrors other than the one at hostile_rate, then in its place
# one of the same rate that serves other bytes.
hostile_urls=() good_sum=0
for i in "${!urls[@]}"; do
  [ "${rates[$i]}" -eq "$hostile_rate" ] && continue
  hostile_urls+=("${urls[$i]%/file.bin}/h/file.bin")
  good_sum=$((good_sum + 2 * ${rates[$i]}))
done
start_mirror bad "$hostile_rate" "$work/bad"
hostile_urls+=("http://127.0.0.1:$mirror_port/h/file.bin")
fastest_pid=${mirror_pids[${#mirror_pids[@]} - 1]}
rate_sum=0
for r in "${rates[@]}"; do rate_sum=$((rate_sum + 2 * r)); done
rest_sum=$((rate_sum - 2 * ${rates[${#rates[@]} - 1]}))

out=$work/out/file.bin
big_out=$work/out/big.bin
declare -A cmd=(
  [qg-get]="$qgget ${urls[*]} -o $out"
  [aria2c]="aria2c -q -x16 -s16 -k1M --allow-overwrite=true --auto-file-renaming=false --file-allocation=none -d $work/out -o file.bin ${urls[*]}"
  [big-qg-get]="$qgget $big_url -o $big_out"
  [big-curl]="curl -s -o $big_out $big_url"
  [big-aria2c]="aria2c -q -x16 -s16 -k1M --allow-overwrite=true --auto-file-renaming=false --file-allocation=none -d $work/out -o big.bin $big_url"
  [big-qg-get-blocks]="$qgget $big_blocks_url -o $big_out"
  [hostile-qg-get]="$qgget ${hostile_urls[*]} -o $out"
)
declare -A times mems

# measure KEY LABEL [STALL]: runs cmd[KEY] once, checks the file, records time and memory
# under LABEL. With STALL, the fastest mirror is stopped after STALL seconds and let go on
# after the run.
measure() {
  local key=$1 label=$2 stall=${3:-} want=$work/www/file.bin got=$out stopper=""
  case $key in big-*) want=$work/www/big.bin got=$big_out ;; esac
  rm -f "$work"/out/*
  if [ -n "$stall" ]; then
    (sleep "$stall"; kill -STOP "$fastest_pid") &
    stopper=$!
  fi
  if ! /usr/bin/time -f "%e %M" -o "$work/time" timeout "$stall_timeout" ${cmd[$key]} \
      >/dev/null 2>"$work/stderr"; then
    echo "$label: failed ($(tail -1 "$work/stderr"))" >&2
    echo "$stall_timeout 0" > "$work/time"
  elif ! cmp -s "$got" "$want"; then
    echo "$label: wrong content at the destination" >&2
    exit 1
  fi
  if [ -n "$stopper" ]; then
    wait "$stopper" 2>/dev/null || true
    kill -CONT "$fastest_pid"
    sleep 0.5 # the mirror drops what the stopped run left behind
  fi
  read -r secs kib < "$work/time"
  times[$label]+="$secs "
  mems[$label]+="$kib "
}

ideal=$(awk -v s="$size_mib" -v l="$rate_sum" 'BEGIN { print s / l }')
stall_at=$(awk -v i="$ideal" 'BEGIN { print i / 2 }')
ideal_stalled=$(awk -v s="$size_mib" -v l="$rate_sum" -v r="$rest_sum" \
  'BEGIN { print s / 2 / l + s / 2 / r }')
ideal_hostile=$(awk -v s="$size_mib" -v l="$good_sum" 'BEGIN { print s / l }')

for run in $(seq "$runs"); do
  for tool in qg-get aria2c; do measure "$tool" "limited $tool"; done
  for tool in qg-get aria2c; do measure "$tool" "stalled $tool" "$stall_at"; done
  for tool in curl qg-get aria2c; do measure "big-$tool" "unlimited $tool"; done
  measure big-qg-get-blocks "unlimited qg-get +blocks"
  measure hostile-qg-get "hostile qg-get"
  grep -q "dropped for wrong bytes" "$work/stderr" || { echo "hostile: no source dropped" >&2; exit 1; }
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "limited: ${size_mib} MiB from ${#rates[@]} mirrors, 2 connections each at ${rates[*]} MiB/s:" \
  "limit $rate_sum MiB/s, ideal $(printf %.2f "$ideal") s; stalled: the fastest mirror stops" \
  "at $(printf %.2f "$stall_at") s, ideal $(printf %.2f "$ideal_stalled") s;" \
  "unlimited: ${big_mib} MiB from one mirror; hostile: the ${hostile_rate} MiB/s mirror" \
  "serves other bytes, ideal $(printf %.2f "$ideal_hostile") s; runs: $runs (interleaved)"
printf "%-26s %8s %8s %10s %13s\n" case "wall s" "median" "vs ideal" "peak RSS MiB"
curl_t=$(echo "${times[unlimited curl]}" | median)
plain_t=$(echo "${times[unlimited qg-get]}" | median)
for label in "limited qg-get" "limited aria2c" "stalled qg-get" "stalled aria2c" \
  "unlimited curl" "unlimited qg-get" "unlimited aria2c" "unlimited qg-get +blocks" \
  "hostile qg-get"; do
  t=$(echo "${times[$label]}" | median)
  m=$(echo "${mems[$label]}" | median)
  case $label in
    limited*) ref=$ideal ;;
    stalled*) ref=$ideal_stalled ;;
    hostile*) ref=$ideal_hostile ;;
    *+blocks) ref=$plain_t ;;
    *) ref=$curl_t ;;
  esac
  awk -v l="$label" -v all="${times[$label]}" -v t="$t" -v r="$ref" -v m="$m" \
    'BEGIN { printf "%-26s %8s %8.2f %10.3f %13.1f\n", l, "", t, t / r, m / 1024; printf "    runs: %s\n", all }'
done
echo "(for unlimited, the ratio is to curl; for +blocks, to the unlimited qg-get run without)"
