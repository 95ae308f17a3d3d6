#!/usr/bin/env bash
# Runs each fuzz target for a bounded time (default 60 s, or the first
# argument) under ASan + UBSan, from a seed corpus written from the test cases
# and examples, with the Liquid dictionary. Any crash, sanitizer report, leak,
# memory beyond the bounds or timeout fails, and the log names the saved input.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
targets=(render json template)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_seeds "${targets[@]/#/fuzz_}"

work=build/fuzz/run
rm -rf "$work/seeds"
mkdir -p "$work/artifacts"
build/fuzz/fuzz/fuzz_seeds . "$work/seeds"

# FUZZ_LIMITS, just above the library's own bounds (see the README's Limits):
# a call holds at most 2 GiB (plus the sanitizer's shadow and quarantine and
# the fuzzer's own memory), no single allocation exceeds it, and the slowest
# input within the work bound takes about 20 s here for fuzz_render's two
# renders. MERVALT_FUZZ_MAX_SECONDS in fuzz/CMakeLists.txt is the same time.
limits=(-timeout=30 -rss_limit_mb=2560 -malloc_limit_mb=2049)

for t in "${targets[@]}"; do
  corpus=$work/corpus/$t
  log=$work/$t.log
  mkdir -p "$corpus"
  if ! build/fuzz/fuzz/fuzz_$t -dict=fuzz/liquid.dict -max_total_time="$seconds" "${limits[@]}" \
      -artifact_prefix="$work/artifacts/$t-" -print_final_stats=1 \
      "$corpus" "$work/seeds/$t" >"$log" 2>&1; then
    tail -n 80 "$log"
    saved=$(grep -o 'Test unit written to .*' "$log" | tail -n 1 | sed 's/Test unit written to //')
    echo "fuzz_$t FAILED; the input is saved at: ${saved:-(none: see $log)}" >&2
    echo "Once fixed, add it to fuzz/regressions/$t/ under a name that says what it found." >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  slowest=$(sed -n 's/^stat::slowest_unit_time_sec: *//p' "$log")
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  echo "fuzz_$t: $runs executions in ${seconds} s ($rate/s), corpus $(ls "$corpus" | wc -l) inputs," \
       "slowest input ${slowest} s, peak RSS ${rss} MB"
done
