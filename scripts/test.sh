#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a release build, then a build
# under AddressSanitizer and UndefinedBehaviorSanitizer (any report fails).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset release
cmake --workflow --preset asan
