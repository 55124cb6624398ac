#!/usr/bin/env bash
# A whole update run: the launcher (release build, on the terminal, -direct) brings a
# client through a chain of 3 patch packages totalling about 100 MiB served by nginx on
# 127.0.0.1, against the same work done by hand: curl fetching the patch-information
# file, the 3 packages and the server list, then `qgpatch apply` of the 3 packages.
# Everything lives on tmpfs. The two are run interleaved RUNS times; the script prints the
# median wall times and the ratio.
#   bash bench/run_update_bench.sh          about 100 MiB, 5 runs
#   TOTAL_MIB=30 RUNS=3 bash bench/run_update_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/nginx_site.sh
source bench/release_build.sh
source bench/update_site.sh

runs=${RUNS:-5}
total_mib=${TOTAL_MIB:-100}

build_release quillgate qgpatch axp_tool >/dev/null
bin=$PWD/build/release
axp=$bin/tools/axp
qgpatch=$bin/tools/qgpatch

work=$(mktemp -d /dev/shm/qg-update-bench.XXXXXX)
trap 'stop_nginx; rm -rf "$work"' EXIT
cd "$work"

make_update_site "$total_mib"
mkdir -p nginx && start_nginx "$work/site" "$work/nginx"
url=http://127.0.0.1:$nginx_port
publish_patch_info "$url"
du -sh site | sed 's/^/site: /'

fresh_client() {
  rm -rf client && cp -r v0 client
  cp "$bin/app/quillgate" client/quillgate.exe
  printf '[quillgate]\r\nverinfo=%s/patchinfo.txt\r\nserverlist=%s/server.lst\r\n' "$url" "$url" \
    > client/quillgate.cfg
}

# The downloader's part files go to $TMPDIR: on the same tmpfs, as the client, the last
# step of each download is a rename, as for curl writing in place.
run_launcher() {
  (cd client && TMPDIR=$work ./quillgate.exe -direct --headless > ../launcher.log 2>&1)
}

run_by_hand() {
  mkdir -p client/download
  for f in patchinfo.txt p1.pkg p2.pkg p3.pkg server.lst; do
    curl -s -o "client/download/$f" "$url/$f"
  done
  "$qgpatch" apply client/download/p1.pkg client/download/p2.pkg client/download/p3.pkg \
    --dir client > /dev/null 2>&1
}

now() { date +%s.%N; }
declare -a launcher_times hand_times
for run in $(seq "$runs"); do
  fresh_client; t0=$(now); run_launcher; t1=$(now)
  if [ "$run" -eq 1 ]; then
    cmp -s <("$axp" ls client/resource/data.pak) <("$axp" ls v3/resource/data.pak) ||
      { echo "launcher: the client does not match the newest version" >&2; cat launcher.log; exit 1; }
  fi
  launcher_times+=("$(echo "$t1 - $t0" | bc)")
  fresh_client; t0=$(now); run_by_hand; t1=$(now)
  hand_times+=("$(echo "$t1 - $t0" | bc)")
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
ml=$(median "${launcher_times[@]}")
mh=$(median "${hand_times[@]}")
echo "launcher run:            median ${ml} s  (runs: ${launcher_times[*]})"
echo "curl + qgpatch apply:    median ${mh} s  (runs: ${hand_times[*]})"
echo "ratio launcher / by hand: $(echo "scale=3; $ml / $mh" | bc)"
