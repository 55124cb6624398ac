#!/usr/bin/env bash
# A whole update run: the launcher (release build, on the terminal, -direct) brings a
# client through a chain of 3 patch packages totalling about 100 MiB served by nginx on
# 127.0.0.1, against the same work done by hand: curl fetching the patch-information
# file, the 3 packages and the server list, then `qgpatch apply` of the 3 packages; and
# the launcher on the same site signed (it holds the key, checks both signatures and
# hashes every package as it streams). Everything lives on tmpfs. The three are run
# interleaved RUNS times; the script prints the median wall times and the ratios.
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
# The same site signed, beside it: the launcher that holds the key checks the signatures of
# the patch information and the server list and the SHA-256 of every package as it streams.
mkdir -p site/signed && cp site/server.lst site/signed/
public_key=$("$qgpatch" keygen -o operator.key)
"$qgpatch" site -o site/signed/patchinfo.txt --files site --key operator.key \
  --latest CN.1.0.3 --quillgate CN.9.0 --newquillgate "$url/quillgate.zip" \
  --patch CN.1.0.0 CN.1.0.1 "$url/p1.pkg" --patch CN.1.0.1 CN.1.0.2 "$url/p2.pkg" \
  --patch CN.1.0.2 CN.1.0.3 "$url/p3.pkg" >/dev/null 2>&1
"$qgpatch" sign --key operator.key site/signed/server.lst >/dev/null
du -sh site | sed 's/^/site: /'

fresh_client() {  # [signed]
  rm -rf client && cp -r v0 client
  cp "$bin/app/quillgate" client/quillgate.exe
  if [ "${1:-}" = signed ]; then
    printf '[quillgate]\r\nverinfo=%s/signed/patchinfo.txt\r\nserverlist=%s/signed/server.lst\r\npublickey=%s\r\n' \
      "$url" "$url" "$public_key" > client/quillgate.cfg
  else
    printf '[quillgate]\r\nverinfo=%s/patchinfo.txt\r\nserverlist=%s/server.lst\r\n' "$url" "$url" \
      > client/quillgate.cfg
  fi
}

# The downloader's part files go to $TMPDIR: on the same tmpfs, as the client, the last
# step of each download is a rename, as for curl writing in place.
# The processor time of each run (user + system) goes to cpu.log: on a busy machine it
# tells the cost of the work better than the wall time.
run_launcher() {
  (cd client && TMPDIR=$work /usr/bin/time -f '%U %S' -o ../cpu.log \
    ./quillgate.exe -direct --headless > ../launcher.log 2>&1)
}
cpu_seconds() { awk '{printf "%.3f", $1 + $2}' cpu.log; }

run_by_hand() {
  mkdir -p client/download
  for f in patchinfo.txt p1.pkg p2.pkg p3.pkg server.lst; do
    curl -s -o "client/download/$f" "$url/$f"
  done
  "$qgpatch" apply client/download/p1.pkg client/download/p2.pkg client/download/p3.pkg \
    --dir client > /dev/null 2>&1
}

now() { date +%s.%N; }
declare -a launcher_times signed_times hand_times launcher_cpu signed_cpu
for run in $(seq "$runs"); do
  fresh_client; t0=$(now); run_launcher; t1=$(now)
  if [ "$run" -eq 1 ]; then
    cmp -s <("$axp" ls client/resource/data.pak) <("$axp" ls v3/resource/data.pak) ||
      { echo "launcher: the client does not match the newest version" >&2; cat launcher.log; exit 1; }
  fi
  launcher_times+=("$(echo "$t1 - $t0" | bc)")
  launcher_cpu+=("$(cpu_seconds)")
  fresh_client signed; t0=$(now); run_launcher; t1=$(now)
  if [ "$run" -eq 1 ]; then
    cmp -s <("$axp" ls client/resource/data.pak) <("$axp" ls v3/resource/data.pak) ||
      { echo "signed: the client does not match the newest version" >&2; cat launcher.log; exit 1; }
  fi
  signed_times+=("$(echo "$t1 - $t0" | bc)")
  signed_cpu+=("$(cpu_seconds)")
  fresh_client; t0=$(now); run_by_hand; t1=$(now)
  hand_times+=("$(echo "$t1 - $t0" | bc)")
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
ml=$(median "${launcher_times[@]}")
mh=$(median "${hand_times[@]}")
ms=$(median "${signed_times[@]}")
echo "launcher run:            median ${ml} s  (runs: ${launcher_times[*]})"
echo "launcher, signed site:   median ${ms} s  (runs: ${signed_times[*]})"
echo "curl + qgpatch apply:    median ${mh} s  (runs: ${hand_times[*]})"
echo "ratio signed / unsigned:  $(echo "scale=3; $ms / $ml" | bc)"
mcl=$(median "${launcher_cpu[@]}")
mcs=$(median "${signed_cpu[@]}")
echo "processor time, unsigned: median ${mcl} s  (runs: ${launcher_cpu[*]})"
echo "processor time, signed:   median ${mcs} s  (runs: ${signed_cpu[*]})"
echo "processor ratio signed / unsigned: $(echo "scale=3; $mcs / $mcl" | bc)"
echo "ratio launcher / by hand: $(echo "scale=3; $ml / $mh" | bc)"
