#!/usr/bin/env bash
# Reports which share of the lines of src/ the fuzz corpora reach: the replay
# programs of the fuzz targets, built by clang with source-based coverage in
# build/fuzz-coverage, run over each target's corpus and seeds as
# scripts/fuzz.sh left them in build/fuzz/run, then llvm-cov's report of
# src/ for each target and for all of them together. Not a CI stage: the
# build takes about 40 s the first time, the replay and the report seconds.
#
#   scripts/fuzz_coverage.sh [TARGET...]   (default: render json template structured)
set -euo pipefail
cd "$(dirname "$0")/.."
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(render json template structured)
dir=build/fuzz-coverage
run=build/fuzz/run

if [[ ! -d $run/corpus ]]; then
  echo "no corpus in $run: run scripts/fuzz.sh first" >&2
  exit 2
fi

flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate -DCMAKE_SHARED_LINKER_FLAGS=-fprofile-instr-generate \
  -DMERVALT_WERROR=ON -DMERVALT_TESTS=ON >/dev/null
programs=()
for t in "${targets[@]}"; do programs+=("fuzz_${t}_replay"); done
# The job count of the presets.
cmake --build "$dir" -j 2 --target "${programs[@]}" >/dev/null

rm -rf "$dir/profiles"
mkdir -p "$dir/profiles"
# Only the files of src/: not the fuzz targets, the tests' helpers or the
# headers of the standard library and simdjson.
# The replay programs share function names (LLVMFuzzerTestOneInput, main)
# with different bodies, which llvm-cov warns about when it reads them all.
report() { llvm-cov report "$@" "$PWD/src" 2> >(grep -v 'mismatched data' >&2); }
lines() { awk '/^TOTAL/ {printf "%s%% of %s lines\n", substr($10, 1, length($10) - 1), $8}'; }

objects=()
for t in "${targets[@]}"; do
  inputs=()
  for d in "$run/corpus/$t" "$run/seeds/$t"; do [[ -d $d ]] && inputs+=("$d"); done
  if [[ ${#inputs[@]} -eq 0 ]]; then
    echo "fuzz_$t: no corpus"
    continue
  fi
  program=$dir/fuzz/fuzz_${t}_replay
  LLVM_PROFILE_FILE="$dir/profiles/$t.profraw" "$program" "${inputs[@]}" >/dev/null
  llvm-profdata merge -sparse "$dir/profiles/$t.profraw" -o "$dir/profiles/$t.profdata"
  count=$(find "${inputs[@]}" -type f ! -name '.*' | wc -l)
  echo "fuzz_$t: $(report "$program" -instr-profile="$dir/profiles/$t.profdata" | lines) ($count inputs)"
  objects+=(-object "$program")
done
[[ ${#objects[@]} -gt 0 ]] || exit 1
llvm-profdata merge -sparse "$dir"/profiles/*.profraw -o "$dir/profiles/all.profdata"
report "${objects[@]:1}" -instr-profile="$dir/profiles/all.profdata" >"$dir/coverage.txt"
echo "all targets: $(lines <"$dir/coverage.txt") of src/ (per file: $dir/coverage.txt)"
