#!/usr/bin/env bash
# Builds the command-line tool and renders the example product listing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
log=build/demo-build.log
mkdir -p build
if ! { cmake --preset release && cmake --build --preset release --target mervalt_cli; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
build/release/mervalt examples/products.liquid examples/products.json
