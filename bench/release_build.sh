# Sourced by the benchmark scripts: the figures come from optimised code, so each script
# first configures the release preset and builds what it runs, on at most 2 jobs (the
# reference machine has 2 cores).
#   build_release TARGET...
build_release() {
  cmake --preset release >/dev/null
  cmake --build --preset release -j 2 --target "$@"
}
