#!/usr/bin/env bash
# Builds the release preset and runs the pack benchmarks (a few minutes on 2 cores), then
# prints the comparisons as ratios. Raw JSON goes to build/release/pack_bench.json.
#   bench/run_pack_bench.sh [extra benchmark flags]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target pack_bench
out=build/release/pack_bench.json
build/release/bench/pack_bench --benchmark_min_time=0.3 --benchmark_out="$out" \
  --benchmark_out_format=json "$@"
python3 - "$out" <<'PY'
import json, sys
runs = {b["name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
def t(name):  # real time per iteration, in ns
    b = runs[name]; scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return b["real_time"] * scale
def mbps(name):
    return runs[name].get("bytes_per_second", 0) / 1e6
print()
print("lookups (30,000 entries)")
for n in ["BM_LookupPresent", "BM_LookupAbsent"]:
    print(f"  {n:34s} {t(n):10.0f} ns")
for kind in ["Present", "Absent"]:
    w, i = t(f"BM_HashTable_{kind}_Walk"), t(f"BM_HashTable_{kind}_Index")
    print(f"  hash table {kind.lower():8s} walk {w:10.0f} ns  index {i:8.0f} ns  walk/index = {w/i:8.1f}")
print()
print("add / read of 1 MiB (MB/s; ratio = library time / baseline time)")
names = {0: "stored", 1: "XOR", 2: "LZO", 3: "LZMA"}
for ty in range(4):
    add, rd = f"BM_PackAdd/{ty}", f"BM_PackRead/{ty}"
    line = f"  type {ty} {names[ty]:6s} add {mbps(add):8.1f}  read {mbps(rd):8.1f}"
    line += f" | add/copy {t(add)/t('BM_PlainFileWrite'):6.2f}  read/copy {t(rd)/t('BM_PlainFileRead'):6.2f}"
    if ty == 2:
        line += f" | add/raw lzo1x {t(add)/t('BM_RawLzoCompress'):5.2f}  read/raw lzo1x {t(rd)/t('BM_RawLzoDecompress'):5.2f}"
    if ty == 3:
        line += f" | add/raw lzma {t(add)/t('BM_RawLzmaCompress'):5.2f}  read/raw lzma {t(rd)/t('BM_RawLzmaDecompress'):5.2f}"
    print(line)
for n in ["BM_RawLzoCompress", "BM_RawLzoDecompress", "BM_RawLzmaCompress", "BM_RawLzmaDecompress",
          "BM_PlainFileWrite", "BM_PlainFileRead"]:
    print(f"  {n:34s} {mbps(n):8.1f} MB/s")
print()
print(f"Open of 30,000 entries        {t('BM_Open30000')/1e6:8.2f} ms")
print(f"CheckConsistency, 10,000      {t('BM_CheckConsistency10000')/1e6:8.2f} ms")
PY
