#!/usr/bin/env bash
# The swarm: ENGINES engines (qg-get) started STAGGER seconds apart on one SIZE_MIB file
# from one nginx origin capped at RATE_MIB MiB/s in all, with qg-lookup between them;
# each is given the file's digest (--md5), and in a second run the block list is published
# beside the file too. Every engine seeds until the last has finished. Reports the
# origin's egress (from its access log) and each engine's time against size / R.
# Goals: egress <= 1.5 x the file; every engine within 1.5 x size / R of its start.
#   bash bench/run_swarm_bench.sh
#   SIZE_MIB=64 RATE_MIB=4 MODES="blocks" bash bench/run_swarm_bench.sh
# UPLOAD: each engine's upload limit in bytes per second (0, the default here: none).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/release_build.sh

build_release qg-get qg-lookup >/dev/null
work=$(mktemp -d /dev/shm/qg-swarm-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2086
/usr/bin/python3 bench/swarm_bench.py "$PWD/build/release/tools/qg-get" \
  "$PWD/build/release/tools/qg-lookup" "$work" "${SIZE_MIB:-256}" "${RATE_MIB:-16}" \
  "${ENGINES:-8}" "${STAGGER:-2}" "${UPLOAD:-0}" ${MODES:-md5 blocks}
