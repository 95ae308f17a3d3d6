#!/usr/bin/env bash
# Everything CI checks, one stage after another, each stage's duration printed
# at the end (also when a stage fails):
#   release   the test suite in a release build
#   python    the Python package built over the release build, its tests and
#             the Dask example's test (scripts/test-python.sh)
#   asan      the test suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#             with coverage counters, and the coverage report of src/
#             (scripts/coverage.sh)
#   tsan      16 threads rendering every case file, the example and the
#             benchmark workloads under ThreadSanitizer
#   fuzz      the four fuzz targets at once for 30 s (scripts/fuzz.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

times=()
current=""
started=$SECONDS
report() {
  local status=$?
  [[ -n $current ]] && times+=("$(printf '%-9s %5d s  FAILED' "$current" $((SECONDS - stage_start)))")
  echo
  echo "stage durations:"
  printf '  %s\n' "${times[@]}"
  printf '  %-9s %5d s\n' total $((SECONDS - started))
  exit "$status"
}
trap report EXIT

stage() {
  current=$1
  shift
  stage_start=$SECONDS
  echo "=== stage $current"
  "$@"
  times+=("$(printf '%-9s %5d s' "$current" $((SECONDS - stage_start)))")
  current=""
}

stage release cmake --workflow --preset release
stage python bash scripts/test-python.sh
stage asan bash scripts/coverage.sh
stage tsan cmake --workflow --preset tsan
stage fuzz env MERVALT_FUZZ_JOBS=4 bash scripts/fuzz.sh 30
