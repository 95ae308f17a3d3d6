#!/usr/bin/env bash
# Builds the `coverage` preset (the `asan` preset with coverage counters), runs
# the whole test suite in it under the sanitizers and prints the line and
# branch coverage of src/ (gcovr). Branches that only exist for
# exceptions thrown by calls, and ones the compiler proves unreachable, are
# not counted: they are the compiler's, not the code's. The counters are plain
# increments, so a line that threads ran at once may come out with a count
# gcov cannot print (-1); gcovr skips such lines, and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
find build/coverage -name '*.gcda' -delete 2>/dev/null || true
cmake --workflow --preset coverage
gcovr --root . --object-directory build/coverage --filter 'src/' \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --txt build/coverage/coverage.txt --print-summary
echo "per-file report: build/coverage/coverage.txt"
