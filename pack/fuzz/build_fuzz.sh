#!/usr/bin/env bash
# Builds the pack fuzz target with clang (libFuzzer + ASan + UBSan) into build/fuzz and,
# when asked, runs it.
#   pack/fuzz/build_fuzz.sh              build only
#   pack/fuzz/build_fuzz.sh run SECONDS  build, then fuzz for SECONDS over a work corpus
#                                        seeded from pack/fuzz/corpus (crashers land in
#                                        build/fuzz/artifacts/)
set -euo pipefail
cd "$(dirname "$0")/../.."
san="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B build/fuzz -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link $san" \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link $san" \
  -DCMAKE_EXE_LINKER_FLAGS="$san" \
  -DQG_FUZZ=ON -DQG_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz --target axp_fuzz axp_fuzz_seed
if [ "${1:-}" = "run" ]; then
  seconds=${2:-600}
  mkdir -p build/fuzz/work build/fuzz/artifacts
  cp -n pack/fuzz/corpus/* build/fuzz/work/ 2>/dev/null || true
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build/fuzz/pack/fuzz/axp_fuzz build/fuzz/work pack/fuzz/corpus \
      -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 -timeout=20 \
      -artifact_prefix=build/fuzz/artifacts/ -print_final_stats=1
fi
