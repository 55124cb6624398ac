#!/usr/bin/env bash
# Builds the release preset and runs the pack benchmarks (a few minutes on 2 cores), then
# prints the comparisons as ratios. Raw JSON goes to build/release/pack_bench.json.
#   bench/run_pack_bench.sh [extra benchmark flags]
#   bench/run_pack_bench.sh --benchmark_repetitions=5   # ratios of the medians
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target pack_bench
out=build/release/pack_bench.json
build/release/bench/pack_bench --benchmark_min_time=0.3 --benchmark_out="$out" \
  --benchmark_out_format=json "$@"
python3 - "$out" <<'PY'
import json, sys
# With --benchmark_repetitions=N the median of the repetitions stands for each benchmark.
runs, medians = {}, {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    name = b.get("run_name", b["name"])
    if b.get("run_type") == "aggregate":
        if b.get("aggregate_name") == "median":
            medians[name] = b
    else:
        runs[name] = b
runs.update(medians)
def t(name, kind="real_time"):  # time per iteration, in ns
    b = runs[name]; scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return b[kind] * scale
def mbps(name):
    return runs[name].get("bytes_per_second", 0) / 1e6
def section(show):  # a filtered run shows the sections whose benchmarks it ran
    try:
        show()
    except KeyError:
        pass
def lookups():
    print("\nlookups (30,000 entries)")
    for n in ["BM_LookupPresent", "BM_LookupAbsent"]:
        print(f"  {n:34s} {t(n):10.0f} ns")
    for kind in ["Present", "Absent"]:
        w, i = t(f"BM_HashTable_{kind}_Walk"), t(f"BM_HashTable_{kind}_Index")
        print(f"  hash table {kind.lower():8s} walk {w:10.0f} ns  index {i:8.0f} ns  walk/index = {w/i:8.1f}")
def add_read():
    print("\nadd / read of 1 MiB (MB/s; ratio = library time / baseline time)")
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
def read_ratios():
    # On a machine shared with other work the wall time drifts with the load; CPU time
    # (this process only, the kernel's pread included) is the steadier comparison.
    print("\nentry read / raw codec decode     wall time   CPU time")
    for label, rd, raw in [("LZO  (type 2)", "BM_PackRead/2", "BM_RawLzoDecompress"),
                           ("LZMA (type 3)", "BM_PackRead/3", "BM_RawLzmaDecompress")]:
        print(f"  {label:32s} {t(rd)/t(raw):9.3f} {t(rd, 'cpu_time')/t(raw, 'cpu_time'):10.3f}")
def interleaved():
    # Blocks of reads and raw decodes alternating in one benchmark: the load's drift cancels.
    print("\nentry read / raw codec decode, interleaved (median of 40 block pairs)")
    print("                                   wall time   CPU time")
    for label, name in [("LZO  (type 2)", "BM_ReadOverRaw/2/iterations:40"),
                        ("LZMA (type 3)", "BM_ReadOverRaw/3/iterations:40")]:
        print(f"  {label:32s} {runs[name]['wall_ratio']:9.3f} {runs[name]['cpu_ratio']:10.3f}")
def open_check():
    print()
    print(f"Open of 30,000 entries        {t('BM_Open30000')/1e6:8.2f} ms")
    print(f"CheckConsistency, 10,000      {t('BM_CheckConsistency10000')/1e6:8.2f} ms")
for s in [lookups, add_read, read_ratios, interleaved, open_check]:
    section(s)
PY
