#!/usr/bin/env bash
# Builds the release preset and runs the patch-apply benchmark: a scrambled package that
# rewrites 2,000 pack entries (200 MiB of content) applied by the Updater, against unzip
# extracting the same members into a folder. Needs about 1 GiB of free disk in build/.
#   bench/run_patch_bench.sh [ENTRIES] [MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target patch_bench
build/release/bench/patch_bench build/release/patch_bench_work "${1:-2000}" "${2:-200}"
