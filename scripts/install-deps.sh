#!/usr/bin/env bash
# Installs the Debian packages that building and testing mervalt need, if any
# is missing. As root it runs apt-get; otherwise it prints the command to run.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config binutils
  libsimdjson-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev llvm gcovr python3
  python3-venv python3-setuptools python3-wheel python3-pytest
  python3-dask python3-distributed python3-jinja2 python3-rapidjson
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
