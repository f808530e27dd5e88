#!/bin/bash
# The cost of trafmon's one-second cycle, measured with callgrind on a
# release build (build-bench/): 1024 active hosts in four accounting pages,
# 511 connection counts, a 1024-entry ARP table.
#
#   bash bench/trafmon_cycle.sh
#
# Prints the instructions of an ordinary cycle (target: under 300,000), of a
# cycle that also rebuilds the ARP table and reads the memory figure (every
# 64th), the heap allocations during the cycles (target: none), and apart
# from them the cost of the `free` subprocess those cycles run: its
# instructions (callgrind, the shell and free together) and its wall time on
# this PC (average of 100 runs).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD_DIR:-build-bench}
command -v valgrind >/dev/null || { echo "bench: valgrind is not installed" >&2; exit 1; }
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DROUTER_TESTS=OFF >/dev/null
ninja -C "$BUILD" trafmon_cycle >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# instructions CYCLES: instructions spent inside TrafMon::onTick over CYCLES cycles.
instructions() {
  valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" --toggle-collect='rc::TrafMon::onTick()' \
    "$BUILD/bin/trafmon_cycle" "$work/root" "$1" >"$work/run.out" 2>"$work/vg.err" ||
    { cat "$work/run.out" "$work/vg.err" >&2; exit 1; }
  sed -n 's/^summary: *//p' "$work/cg.out"
}

one=$(instructions 1)   # cycle 0: ARP table and memory figure as well
many=$(instructions 64) # cycles 0..63
plain=$(((many - one) / 63))
"$BUILD/bin/trafmon_cycle" "$work/root" 130 >"$work/allocs"

# The free subprocess, as vk_SystemEx runs it: /bin/sh -c "free > FILE".
valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/free.%p" \
  /bin/sh -c "free > $work/free.txt" 2>/dev/null
free_instr=0
for f in "$work"/free.*; do
  [ "$f" = "$work/free.txt" ] && continue
  free_instr=$((free_instr + $(sed -n 's/^summary: *//p' "$f")))
done
start=$(date +%s%N)
for _ in $(seq 100); do /bin/sh -c "free > $work/free.txt"; done
free_us=$((($(date +%s%N) - start) / 100000))

echo "ordinary cycle, 1024 hosts in 4 pages:        $plain instructions (target < 300000)"
echo "cycle with ARP table and memory figure:        $one instructions (every 64th cycle; free not counted)"
echo "heap allocations: $(cat "$work/allocs")"
echo "free subprocess (sh -c 'free > file'):        $free_instr instructions in user space, $free_us us wall time"
echo "  averaged over 64 cycles: $((free_instr / 64)) instructions and $((free_us / 64)) us per cycle"
