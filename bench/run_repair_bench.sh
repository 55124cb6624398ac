#!/usr/bin/env bash
# The repair's check of an undamaged client: the launcher (release build, on the terminal,
# -direct --headless --repair, with nothing to update) checks a client of about TOTAL_MIB
# (packs of every codec and loose files) against its published file list, against reading
# the same decoded bytes by hand: `axp cat` of every pack entry and `cat` of every loose
# file into /dev/null. Everything lives on tmpfs; the two are run interleaved RUNS times and
# the script prints the median wall and processor times and their ratios.
#   bash bench/run_repair_bench.sh            about 1 GiB, 3 runs
#   TOTAL_MIB=256 RUNS=3 bash bench/run_repair_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/nginx_site.sh
source bench/release_build.sh

runs=${RUNS:-3}
total_mib=${TOTAL_MIB:-1024}

build_release quillgate qgpatch axp_tool >/dev/null
bin=$PWD/build/release
axp=$bin/tools/axp
qgpatch=$bin/tools/qgpatch

work=$(mktemp -d /dev/shm/qg-repair-bench.XXXXXX)
trap 'stop_nginx; rm -rf "$work"' EXIT
cd "$work"

# Shares of the client: loose files 30%, stored 25%, XOR 25%, LZO 15%, LZMA 5% (the LZMA
# encoder is slow to build the client with, not to read it). Entries of about 1 MiB, half
# random bytes and half text, so that the codecs have work to do.
/usr/bin/python3 - "$total_mib" <<'PY'
import os, random, sys
total = int(sys.argv[1]) << 20
rng = random.Random(7)
text = b"".join(b"entry %d of the bench client, line %d\r\n" % (i, i * 7) for i in range(40000))
def make(folder, share):
    left, n = int(total * share), 0
    while left > 0:
        size = min(left, rng.randint(256 << 10, 2 << 20))
        half = size // 2
        start = rng.randrange(0, len(text) - half)
        data = os.urandom(half) + text[start:start + size - half]
        path = os.path.join(folder, "d%d" % (n % 8), "f%d.dat" % n)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        left -= size
        n += 1
for name, share in (("client/loose", 0.30), ("src/stored", 0.25), ("src/xor", 0.25),
                    ("src/lzo", 0.15), ("src/lzma", 0.05)):
    make(name, share)
PY
mkdir -p client/resource
type=0
for codec in stored xor lzo lzma; do
  "$axp" add "client/resource/$codec.pak" "src/$codec" --root src --type $type >/dev/null
  type=$((type + 1))
done
rm -rf src
printf 'CN.1.0.0|bench\r\n' > client/.ver
"$qgpatch" repair-site client -o site/repair
du -sh client | sed 's/^/client: /'

mkdir -p nginx && start_nginx "$work/site" "$work/nginx"
url=http://127.0.0.1:$nginx_port
# Nothing to update: the launcher goes straight to the repair.
printf '[latest]\r\nlatest=CN.1.0.0\r\nquillgate=CN.9.0\r\nnewquillgate=%s/none.zip\r\n' "$url" \
  > site/patchinfo.txt
printf 'SERVER_BEGIN\r\n1|bench|127.0.0.1:9000\r\n' > site/server.lst
cp "$bin/app/quillgate" client/quillgate.exe
printf '[quillgate]\r\nverinfo=%s/patchinfo.txt\r\nserverlist=%s/server.lst\r\nrepair=%s/repair/\r\n' \
  "$url" "$url" "$url" > client/quillgate.cfg

run_repair() {
  (cd client && /usr/bin/time -f '%U %S' -o ../cpu.log \
    ./quillgate.exe -direct --headless --repair > ../repair.log 2>&1)
  grep -q 'repair completed, repaired 0' repair.log || { echo "the check did not complete"; tail repair.log; exit 1; }
}
read_by_hand() {
  /usr/bin/time -f '%U %S' -o cpu.log bash -c '
    for pack in client/resource/*.pak; do
      "$0" ls "$pack" | cut -f1 | while read -r name; do "$0" cat "$pack" "$name" || exit 1; done || exit 1
    done > /dev/null
    find client -type f ! -name "*.pak" -exec cat {} + > /dev/null' "$axp"
}
cpu_seconds() { awk '{printf "%.3f", $1 + $2}' cpu.log; }
now() { date +%s.%N; }

declare -a repair_times hand_times repair_cpu hand_cpu
for _ in $(seq "$runs"); do
  t0=$(now); run_repair; t1=$(now); repair_cpu+=("$(cpu_seconds)")
  t2=$(now); read_by_hand; t3=$(now); hand_cpu+=("$(cpu_seconds)")
  repair_times+=("$(echo "$t1 - $t0" | bc)")
  hand_times+=("$(echo "$t3 - $t2" | bc)")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
rw=$(median "${repair_times[@]}"); hw=$(median "${hand_times[@]}")
rc=$(median "${repair_cpu[@]}"); hc=$(median "${hand_cpu[@]}")
entries=$(for p in client/resource/*.pak; do "$axp" ls "$p"; done | wc -l)
echo "client ${total_mib} MiB, $entries pack entries, $runs runs (medians)"
printf '%-28s wall %6.2f s  cpu %6.2f s\n' "repair check (launcher)" "$rw" "$rc"
printf '%-28s wall %6.2f s  cpu %6.2f s\n' "axp cat + cat" "$hw" "$hc"
printf 'ratio: wall %.3f  cpu %.3f\n' "$(echo "$rw / $hw" | bc -l)" "$(echo "$rc / $hc" | bc -l)"
