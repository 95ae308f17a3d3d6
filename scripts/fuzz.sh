#!/usr/bin/env bash
# Runs each fuzz target for a bounded time (default 60 s, or the first
# argument) under ASan + UBSan: fuzz_render, fuzz_json and fuzz_template from
# a seed corpus written from the test cases and examples, with the Liquid
# dictionary, and fuzz_structured, whose inputs are a generator's choices,
# from nothing. Any crash, sanitizer report, leak, memory beyond the bounds or
# timeout fails, and the log names the saved input. MERVALT_FUZZ_JOBS targets
# run at once (default: one per core). The corpora stay in build/fuzz/run/corpus
# and grow from one run to the next; scripts/fuzz_coverage.sh reports the
# lines of src/ they reach.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${MERVALT_FUZZ_JOBS:-$(nproc)}
targets=(render json template structured)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_seeds "${targets[@]/#/fuzz_}"

work=build/fuzz/run
rm -rf "$work/seeds"
mkdir -p "$work/artifacts"
build/fuzz/fuzz/fuzz_seeds . "$work/seeds"
mkdir -p "${targets[@]/#/$work/seeds/}"

# FUZZ_LIMITS, above the bounds the targets render within (kFuzzBounds in
# fuzz/fuzz_check.h): a render holds at most 4 MiB, so no single allocation
# comes near 32 MiB; the process (the sanitizer's shadow and quarantine, the
# fuzzer's corpus and tables) peaks at about 500 MB; the slowest input takes
# about 8 ms for its two renders, so one that runs 10 s hangs, however busy
# the machine is.
limits=(-timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=32)

# Runs one target; its summary or, on failure, the end of its log and where
# the failing input was saved.
fuzz() {
  local t=$1 corpus=$work/corpus/$1 log=$work/$1.log
  local dict=(-dict=fuzz/liquid.dict)
  [[ $t == structured ]] && dict=()  # its bytes are choices, not text
  mkdir -p "$corpus"
  if ! build/fuzz/fuzz/fuzz_$t "${dict[@]}" -max_total_time="$seconds" "${limits[@]}" \
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
