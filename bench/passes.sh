#!/bin/bash
# The one callgrind driver: instructions per steady pass of every daemon,
# counted by valgrind's callgrind in a Release build without sanitizers
# (build-bench/, or BUILD_DIR), against the budgets in bench/budgets.txt (the
# only place they are written). Also fails when a pass allocates or issues a
# command line (the drivers check that).
#
#   bench/passes.sh [--check | --detail]
#
# Prints one line a pass: name, instructions, budget, what. With --check,
# exits non-zero when a pass is over its budget (the CI check). Instruction
# counts do not depend on the machine's load, so the check is not flaky.
# --detail adds, after the table, trafmon's 64th cycle (it also rebuilds the
# ARP table and reads the memory figure), the heap allocations of 130 cycles
# and the cost of the `free` subprocess those cycles run (callgrind over the
# shell and free together, and its wall time on this machine over 100 runs).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD_DIR:-build-bench}
check=0 detail=0
case ${1:-} in
  --check) check=1 ;;
  --detail) detail=1 ;;
  '') ;;
  *) echo "usage: bench/passes.sh [--check | --detail]" >&2; exit 2 ;;
esac
command -v valgrind >/dev/null || { echo "passes: valgrind is not installed (package valgrind)" >&2; exit 1; }
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DROUTER_TESTS=OFF >/dev/null
targets=(passes trafmon_cycle)
[ -d fwmgr ] && targets+=(fwmgr_pass_bench)
ninja -C "$BUILD" "${targets[@]}" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# count OUT FUNCTION PROGRAM ARGS...: instructions spent inside FUNCTION.
count() {
  local out=$work/$1 fn=$2
  shift 2
  valgrind --tool=callgrind --callgrind-out-file="$out.cg" --toggle-collect="$fn" "$@" \
    >"$out.run" 2>"$out.vg" || { cat "$out.run" "$out.vg" >&2; echo "passes: $* failed" >&2; exit 1; }
  sed -n 's/^summary: *//p' "$out.cg"
}
# per_pass NAME FUNCTION PROGRAM ARGS...: (count of 11 passes - count of 1) / 10;
# the first pass may set things up. The pass count is the last argument.
per_pass() {
  local name=$1 fn=$2 one many
  shift 2
  one=$(count "$name.1" "$fn" "$@" 1)
  many=$(count "$name.11" "$fn" "$@" 11)
  echo $(((many - one) / 10))
}

declare -A got
got[netmgr_idle]=$(per_pass netmgr 'rc::NetMgr::onTick()' "$BUILD/bin/passes" netmgr "$work/netmgr")
got[logmail_idle]=$(per_pass logmail 'rc::LogMail::onTick()' "$BUILD/bin/passes" logmail "$work/logmail")
got[kinwatch_20]=$(per_pass kinwatch 'rc::KinWatch::pass()' "$BUILD/bin/passes" kinwatch "$work/kinwatch")
# trafmon: cycle 0 also rebuilds the ARP table and reads the memory figure
# (every 64th cycle); the ordinary cycle is the mean of cycles 1..63.
one=$(count trafmon.1 'rc::TrafMon::onTick()' "$BUILD/bin/trafmon_cycle" "$work/trafmon" 1)
many=$(count trafmon.64 'rc::TrafMon::onTick()' "$BUILD/bin/trafmon_cycle" "$work/trafmon" 64)
got[trafmon_1024]=$(((many - one) / 63))
if [ -d fwmgr ]; then
  got[fwmgr_32]=$(per_pass fwmgr bench_pass "$BUILD/bench/fwmgr_pass_bench")
fi

over=0
while read -r name budget what; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  n=${got[$name]:-}
  [ -n "$n" ] || continue
  mark=
  if [ "$n" -gt "$budget" ]; then
    mark=' OVER BUDGET'
    over=1
  fi
  printf '%-13s %9d %9d  %s%s\n' "$name" "$n" "$budget" "$what" "$mark"
done <bench/budgets.txt
if [ $detail = 1 ]; then
  echo "trafmon's 64th cycle (ARP table, memory figure; free not counted): $one instructions"
  echo "trafmon heap allocations: $("$BUILD/bin/trafmon_cycle" "$work/trafmon" 130)"
  # The free subprocess, as vk_SystemEx runs it: /bin/sh -c "free > FILE".
  valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/free.%p" \
    /bin/sh -c "free > $work/free.txt" 2>/dev/null
  free_instr=0
  for f in "$work"/free.[0-9]*; do
    free_instr=$((free_instr + $(sed -n 's/^summary: *//p' "$f")))
  done
  t0=$(date +%s%N)
  for _ in $(seq 100); do /bin/sh -c "free > $work/free.txt"; done
  free_us=$((($(date +%s%N) - t0) / 100000))
  echo "free subprocess (sh -c 'free > file'): $free_instr instructions in user space, $free_us us wall time"
  echo "  averaged over 64 cycles: $((free_instr / 64)) instructions and $((free_us / 64)) us per cycle"
fi
if [ $check = 1 ] && [ $over = 1 ]; then
  echo "passes: a pass is over its instruction budget (bench/budgets.txt)" >&2
  exit 1
fi
exit 0
