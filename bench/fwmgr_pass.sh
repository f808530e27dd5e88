#!/bin/bash
# Instructions of fwmgr's one-second pass with 32 client, 32 URL and 32 MAC
# records, all enabled and none crossing a schedule boundary (target: under
# 20,000), counted by valgrind's callgrind in an optimised build without
# sanitizers (build-bench/, or BUILD_DIR).
#
#   bench/fwmgr_pass.sh [PASSES]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD_DIR:-build-bench}
passes=${1:-100}
command -v valgrind >/dev/null || { echo "fwmgr_pass: valgrind is not installed (package valgrind)" >&2; exit 1; }
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DROUTER_TESTS=OFF >/dev/null
ninja -C "$BUILD" fwmgr_pass_bench >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
valgrind --tool=callgrind --collect-atstart=no --toggle-collect=bench_pass \
  --callgrind-out-file="$out" "$BUILD/bench/fwmgr_pass_bench" "$passes" 2>/dev/null
total=$(callgrind_annotate "$out" 2>/dev/null | sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p' | tr -d ,)
[ -n "$total" ] || { echo "fwmgr_pass: no total in the callgrind output" >&2; exit 1; }
per=$((total / passes))
printf 'fwmgr one-second pass, 32/32/32 filter records: %d instructions (%d passes, %d in all; target < 20000)\n' \
  "$per" "$passes" "$total"
[ "$per" -lt 20000 ]
