#!/usr/bin/env bash
# Runs each fuzz target for a bounded time (default 60 s, or the first
# argument) under ASan + UBSan, from a seed corpus written from the test cases
# and examples, with the Liquid dictionary. Any crash, sanitizer report, leak,
# memory beyond the bounds or timeout fails, and the log names the saved input.
# MERVALT_FUZZ_JOBS targets run at once (default: one per core).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${MERVALT_FUZZ_JOBS:-$(nproc)}
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

# Runs one target; its summary or, on failure, the end of its log and where
# the failing input was saved.
fuzz() {
  local t=$1 corpus=$work/corpus/$1 log=$work/$1.log
  mkdir -p "$corpus"
  if ! build/fuzz/fuzz/fuzz_$t -dict=fuzz/liquid.dict -max_total_time="$seconds" "${limits[@]}" \
      -artifact_prefix="$work/artifacts/$t-" -print_final_stats=1 \
      "$corpus" "$work/seeds/$t" >"$log" 2>&1; then
    tail -n 80 "$log"
    local saved
    saved=$(grep -o 'Test unit written to .*' "$log" | tail -n 1 | sed 's/Test unit written to //')
    echo "fuzz_$t FAILED; the input is saved at: ${saved:-(none: see $log)}"
    echo "Once fixed, add it to fuzz/regressions/$t/ under a name that says what it found."
    return 1
  fi
  local runs rate rss
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  echo "fuzz_$t: $runs executions in ${seconds} s ($rate/s), corpus $(ls "$corpus" | wc -l) inputs," \
       "peak RSS ${rss} MB"
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
  pids=()
  for t in "${targets[@]:i:jobs}"; do
    fuzz "$t" >"$work/$t.summary" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
done
for t in "${targets[@]}"; do cat "$work/$t.summary"; done
exit "$failed"
