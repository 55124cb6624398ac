#!/usr/bin/env bash
# Builds the pack fuzz target with clang (libFuzzer + ASan + UBSan) into build/fuzz and,
# when asked, runs it; scripts/fuzz does the work for every fuzz target.
#   pack/fuzz/build_fuzz.sh              build only
#   pack/fuzz/build_fuzz.sh run SECONDS  build, then fuzz for SECONDS over a work corpus
#                                        seeded from pack/fuzz/corpus (crashers land in
#                                        build/fuzz/artifacts/axp_fuzz/)
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ "${1:-}" = "run" ]; then
  exec bash scripts/fuzz run "${2:-600}" axp_fuzz
fi
exec bash scripts/fuzz
