#!/usr/bin/env bash
# Builds the release preset and runs the patch-apply benchmark: a scrambled package that
# rewrites 2,000 pack entries (200 MiB of content) applied by the Updater, against unzip
# extracting the same members into a folder. Needs about 1 GiB of free disk in build/.
# A second run with fsync/fdatasync turned into no-ops (an LD_PRELOAD shim, for diagnosis
# only) shows how much of the apply time is the per-entry flush.
#   bench/run_patch_bench.sh [ENTRIES] [MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/release_build.sh
build_release patch_bench
work=build/release/patch_bench_work
echo "== as the launcher runs it (every pack entry flushed)"
build/release/bench/patch_bench "$work" "${1:-2000}" "${2:-200}"
shim=build/release/nosync_shim.so
printf 'int fdatasync(int fd){(void)fd;return 0;}\nint fsync(int fd){(void)fd;return 0;}\n' |
  cc -shared -fPIC -x c -o "$shim" -
echo "== diagnosis: fsync and fdatasync as no-ops"
LD_PRELOAD="$PWD/$shim" build/release/bench/patch_bench "$work" "${1:-2000}" "${2:-200}"
