#!/usr/bin/env bash
# Download throughput: qg-fetch against `curl -o` and `wget -O` on one large file that
# nginx serves on 127.0.0.1 from a tmpfs folder into a tmpfs destination. The tools run
# interleaved, RUNS times each; the script prints the median wall time, the median CPU time
# (user + system: steadier than wall time on a machine that is shared) and the median peak
# memory (maximum resident set) of each, with the ratios to curl.
#   bash bench/run_fetch_bench.sh            1 GiB, 5 runs
#   SIZE_MIB=256 RUNS=3 bash bench/run_fetch_bench.sh
#   OUT_DIR=/var/tmp bash bench/run_fetch_bench.sh   destination on another file system
# qg-fetch writes its part file beside the destination and syncs it before renaming it
# into place (the other tools do neither), so a destination on a disk costs it the sync.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/nginx_site.sh
source bench/release_build.sh

runs=${RUNS:-5}
size_mib=${SIZE_MIB:-1024}

build_release qg-fetch >/dev/null
fetch=$PWD/build/release/tools/qg-fetch

work=$(mktemp -d /dev/shm/qg-fetch-bench.XXXXXX)
out_dir=$(mktemp -d "${OUT_DIR:-$work}/qg-fetch-out.XXXXXX")
trap 'stop_nginx; rm -rf "$work" "$out_dir"' EXIT

mkdir -p "$work/www" "$work/nginx"
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/www/big.bin"
start_nginx "$work/www" "$work/nginx"
port=$nginx_port

url="http://127.0.0.1:$port/big.bin"
out="$out_dir/big.bin"
declare -A cmd=(
  [qg-fetch]="$fetch $url $out"
  [curl]="curl -s -o $out $url"
  [wget]="wget -q -O $out $url"
)
tools=(qg-fetch curl wget)
declare -A times cpus mems

for run in $(seq "$runs"); do
  for tool in "${tools[@]}"; do
    rm -f "$out"
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" ${cmd[$tool]} >/dev/null 2>&1
    if [ "$run" -eq 1 ] && ! cmp -s "$out" "$work/www/big.bin"; then
      echo "$tool: wrong content at the destination" >&2
      exit 1
    fi
    read -r secs user sys kib < "$work/time"
    times[$tool]+="$secs "
    cpus[$tool]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') "
    mems[$tool]+="$kib "
  done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "file: ${size_mib} MiB, runs: $runs (interleaved), nginx on 127.0.0.1, from tmpfs to $(df --output=fstype "$out_dir" | tail -1)"
printf "%-9s %8s %8s %8s %8s %13s %8s\n" tool "wall s" "vs curl" "CPU s" "vs curl" "peak RSS MiB" "vs curl"
curl_t=$(echo "${times[curl]}" | median)
curl_c=$(echo "${cpus[curl]}" | median)
curl_m=$(echo "${mems[curl]}" | median)
for tool in "${tools[@]}"; do
  t=$(echo "${times[$tool]}" | median)
  c=$(echo "${cpus[$tool]}" | median)
  m=$(echo "${mems[$tool]}" | median)
  awk -v tool="$tool" -v t="$t" -v c="$c" -v m="$m" -v ct="$curl_t" -v cc="$curl_c" -v cm="$curl_m" \
    'BEGIN { printf "%-9s %8.2f %8.3f %8.2f %8.3f %13.1f %8.3f\n", tool, t, t / ct, c, c / cc, m / 1024, m / cm }'
done
