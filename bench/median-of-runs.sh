#!/usr/bin/env bash
# Runs voxgrid-bench several times and prints each layout's median time in ms:
# the middle of the sorted times, for an even count of runs the mean of the two
# middle ones.
# Usage: bench/median-of-runs.sh [RUNS] [PROGRAM]   (defaults: 7, build/release/voxgrid-bench)
set -euo pipefail
runs=${1:-7}
prog=${2:-build/release/voxgrid-bench}
[[ $runs =~ ^[1-9][0-9]*$ ]] ||
  { echo "median-of-runs: bad RUNS '$runs': expected a whole number of at least 1" >&2; exit 1; }
[ -x "$prog" ] || { echo "median-of-runs: no program at $prog; build it first" >&2; exit 1; }

out=$(mktemp)
trap 'rm -f "$out"' EXIT
for ((r = 0; r < runs; r++)); do "$prog" >>"$out"; done

median() {
  awk -v line="$1" '(NR - 1) % 7 + 1 == line' "$out" | sort -g |
    awk '{ v[NR] = $1 }
         END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo "$(sed -n 2p "$out" | sed 's/^ *//; s/ *$//'), $runs runs, median ms:"
echo "  nested pointers:            $(median 3)"
echo "  flat, three loops (4 thr.): $(median 5)"
echo "  flat, one flat index:       $(median 7)"
