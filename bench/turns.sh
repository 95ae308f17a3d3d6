#!/bin/sh
# turns.sh: mervalt and the hand-written floor of the product page in separate
# fresh processes, taking turns, ROUNDS rounds each (default 3); prints the
# median renders/s of each and how many times the floor's time mervalt takes.
# Usage: bench/turns.sh [WORKLOAD...]   (default: product_page_200 product_page_5000)
set -eu
TURNS=${MERVALT_TURNS:-$(dirname "$0")/../build/bench/bench/mervalt_turns}
ROUNDS=${ROUNDS:-3}
SECONDS_PER_TURN=${SECONDS_PER_TURN:-2}
[ -x "$TURNS" ] || { echo "turns.sh: $TURNS not built (cmake --workflow --preset bench)" >&2; exit 2; }
[ $# -gt 0 ] || set -- product_page_200 product_page_5000

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
turn() {
  line=$("$TURNS" "$1" "$2" "$SECONDS_PER_TURN") || { echo "turns.sh: $1 $2 failed" >&2; exit 1; }
  echo "$line" | awk '{ print $3 }'
}

printf '%-20s %16s %16s %22s\n' workload "mervalt renders/s" "floor renders/s" "mervalt time / floor"
for workload in "$@"; do
  mervalt="" floor=""
  round=1
  while [ "$round" -le "$ROUNDS" ]; do
    # Who goes first alternates, so that neither always runs on a machine
    # the other has just warmed or heated.
    if [ $((round % 2)) -eq 1 ]; then
      mervalt="$mervalt $(turn mervalt "$workload")"
      floor="$floor $(turn floor "$workload")"
    else
      floor="$floor $(turn floor "$workload")"
      mervalt="$mervalt $(turn mervalt "$workload")"
    fi
    round=$((round + 1))
  done
  # shellcheck disable=SC2086
  m=$(median $mervalt) f=$(median $floor)
  ratio=$(awk -v m="$m" -v f="$f" 'BEGIN { printf "%.2f", f / m }')
  printf '%-20s %16.1f %16.1f %22s\n' "$workload" "$m" "$f" "$ratio"
  echo "  rounds: mervalt$mervalt; floor$floor"
done
