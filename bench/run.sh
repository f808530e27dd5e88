#!/bin/bash
# One table of the whole system's costs for the current tree, also written
# as JSON (build-bench/results.json, or the file given with --json).
#
#   bench/run.sh [--no-sim] [--json FILE]
#
#   instructions per steady pass    bench/passes.sh (callgrind, budgets)
#   one command line                build-bench/bin/spawn: vk_SystemEx("true")
#                                   against posix_spawn of "sh -c true", a
#                                   line of a batch against posix_spawn of true,
#                                   320 lines sent ahead in a stream against
#                                   the same lines from a script
#   idle CPU and memory, start-up   bench/idle.sh (simulation, 120 s; root)
#   WAN-up against a shell script   bench/fwmgr_wanup.sh (simulation, 5 rounds; root)
#   stripped mipsel sizes           build-mipsel/stage, made by .ci/cross.sh
#                                   (slow; run it first when sizes are wanted)
#   the emulated board              bench/board.sh's result (WAN-up against a
#                                   script, memory after a soak): run when
#                                   BENCH_BOARD=1 (root, 15-30 min), else shown
#                                   from build-board/bench.json when it exists
#
# --no-sim leaves out the simulation rows. Times and CPU percentages vary
# with the machine's load and are reported, never checked; instruction
# counts are checked in CI (bench/passes.sh --check).
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD_DIR:-build-bench}
json=$BUILD/results.json
sim=1
while [ $# -gt 0 ]; do
  case $1 in
    --no-sim) sim=0 ;;
    --json) json=$2; shift ;;
    *) echo "usage: bench/run.sh [--no-sim] [--json FILE]" >&2; exit 2 ;;
  esac
  shift
done
[ "$(id -u)" = 0 ] || { [ $sim = 0 ] || echo "run: not root, the simulation rows are left out" >&2; sim=0; }

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DROUTER_TESTS=OFF >/dev/null
ninja -C "$BUILD" >/dev/null || { echo "run: the build failed" >&2; exit 1; }

# Rows: group, item, value, unit, target.
rows=()
row() { rows+=("$1|$2|$3|$4|$5"); }

while read -r name n budget what; do
  row "instructions per pass (callgrind)" "${what%% OVER BUDGET}" "$n" instr "budget $budget"
done < <(BUILD_DIR=$BUILD bash bench/passes.sh)

spawn=$("$BUILD/bin/spawn")
v=$(echo "$spawn" | sed -n 's/.*vk_SystemEx("true"): \([0-9.]*\) us.*/\1/p')
b=$(echo "$spawn" | sed -n 's/.*posix_spawn sh -c true: \([0-9.]*\) us.*/\1/p')
r=$(echo "$spawn" | sed -n 's/.*sh -c true: .*ratio \([0-9.]*\).*/\1/p')
row "one command line (median)" 'vk_SystemEx("true")' "$v" us ""
row "one command line (median)" "posix_spawn sh -c true + waitpid" "$b" us ""
row "one command line (median)" "ratio vk_SystemEx / posix_spawn" "$r" x "target <= 1.05"
v=$(echo "$spawn" | sed -n 's/.*batch vk_SystemEx("\/bin\/true"): \([0-9.]*\) us.*/\1/p')
b=$(echo "$spawn" | sed -n 's/^batch .*posix_spawn \/bin\/true: \([0-9.]*\) us.*/\1/p')
r=$(echo "$spawn" | sed -n 's/^batch .*posix_spawn \/bin\/true: .*ratio \([0-9.]*\).*/\1/p')
row "one command line of a batch (median)" 'vk_SystemEx("/bin/true") in a Shell::Batch' "$v" us ""
row "one command line of a batch (median)" "posix_spawn /bin/true + waitpid (a script's line)" "$b" us ""
row "one command line of a batch (median)" "ratio batch line / posix_spawn" "$r" x ""
v=$(echo "$spawn" | sed -n 's/^stream vk_SystemEx("\/bin\/true"): \([0-9.]*\) us.*/\1/p')
b=$(echo "$spawn" | sed -n 's/^stream .*sh script of the same lines: \([0-9.]*\) us.*/\1/p')
r=$(echo "$spawn" | sed -n 's/^stream .*ratio \([0-9.]*\).*/\1/p')
row "one command line of a batch (median)" 'vk_SystemEx("/bin/true") sent ahead in a Shell::Stream (320 lines)' "$v" us ""
row "one command line of a batch (median)" "the same 320 lines from a script (sh FILE)" "$b" us ""
row "one command line of a batch (median)" "ratio stream line / script line" "$r" x "target <= 1.0"

if [ $sim = 1 ]; then
  idle=$(bash bench/idle.sh "$BUILD" 120)
  val() { echo "$idle" | sed -n "s/^$1=//p"; }
  row "start-up in the simulation" "router processes started" "$(val startup_router_ms)" ms ""
  row "start-up in the simulation" "WAN up (masquerade rule)" "$(val startup_wan_ms)" ms ""
  row "start-up in the simulation" "LAN host has its lease" "$(val startup_lease_ms)" ms ""
  total=0
  rss_rows=()
  for d in netmgr fwmgr trafmon logmail kinwatch arpguard; do
    line=$(val "idle_$d")
    if [ -z "$line" ] || [ "$line" = "not running" ]; then
      row "idle, 120 s, % of one core" "$d" "not running" "" ""
      continue
    fi
    read -r n own child rss <<<"$line"
    row "idle, 120 s, % of one core" "$d (own)" "$own" "%" ""
    [ "$child" = 0.0000 ] || row "idle, 120 s, % of one core" "$d (children it ran)" "$child" "%" ""
    rss_rows+=("resident memory (end of the idle run)|$d|$rss|kB|")
    total=$(awk -v a="$total" -v b="$own" 'BEGIN { printf "%.4f", a + b }')
  done
  row "idle, 120 s, % of one core" "all daemons (own, without free)" "$total" "%" "target < 0.05"
  row "idle, 120 s, % of one core" "trafmon's free subprocess (every 64 s)" "$(val free_share_pct)" "%" ""
  row "idle, 120 s, % of one core" "trafmon with its free subprocess" \
    "$(awk -v a="$(val idle_trafmon | cut -d' ' -f2)" -v b="$(val free_share_pct)" 'BEGIN { printf "%.4f", a + b }')" "%" ""
  rows+=("${rss_rows[@]}")
  if [ -f bench/fwmgr_wanup.sh ]; then
    wan=$(bash bench/fwmgr_wanup.sh "$BUILD" 2>&1)
    wv() { echo "$wan" | sed -n "s/.*$1 *\([0-9.]*\).*/\1/p" | head -n 1; }
    g="WAN-up, everything configured ($(wv 'UPnP:') lines; medians of $(wv 'medians of') rounds)"
    row "$g" "fwmgr, sendmsg 203 2 to the last line (with the wait for a pass)" "$(wv 'to the last line:')" ms ""
    row "$g" "fwmgr, first line to the last" "$(wv 'first line to the last:')" ms ""
    row "$g" "the same lines from a shell script" "$(wv 'from a shell script:')" ms ""
    row "$g" "ratio fwmgr (first to last line) / script" "$(wv 'last line) . script:')" x "target <= 1.0"
  fi
fi

stage=build-mipsel/stage
if [ -d "$stage/bin" ]; then
  total=0
  while IFS= read -r f; do
    size=$(stat -c %s "$f")
    needed=$(mipsel-linux-gnu-readelf -d "$f" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
    row "stripped mipsel size (.ci/cross.sh)" "${f#$stage/} (needs: ${needed% })" "$size" bytes ""
    total=$((total + size))
  done < <(find "$stage/bin" -type f -perm -u+x | sort)
  daemons=0
  for d in netmgr fwmgr trafmon logmail kinwatch arpguard memdump; do
    [ -f "$stage/bin/$d" ] && daemons=$((daemons + $(stat -c %s "$stage/bin/$d")))
  done
  row "stripped mipsel size (.ci/cross.sh)" "the seven daemons" "$daemons" bytes "target < 150000"
  row "stripped mipsel size (.ci/cross.sh)" "all of bin/ (with nvram, routerstat, sendmsg)" "$total" bytes ""
else
  row "stripped mipsel size (.ci/cross.sh)" "not measured: run bash .ci/cross.sh first" "" "" ""
fi

board_json=${BOARD_RESULT:-build-board/bench.json}
if [ "${BENCH_BOARD:-0}" = 1 ]; then
  BOARD_RESULT=$board_json bash bench/board.sh >/dev/null || echo "run: bench/board.sh failed" >&2
fi
if [ -f "$board_json" ]; then
  while IFS='|' read -r g item value unit; do
    row "$g" "$item" "$value" "$unit" ""
  done < <(python3 - "$board_json" <<'PY'
import json, sys
b = json.load(open(sys.argv[1]))
w = b["wanup"]
g = "emulated board: WAN-up, everything configured (%d lines; medians of %d rounds; %s)" % (w["lines"], w["rounds"], b["date"])
print("%s|fwmgr, sendmsg 203 2 to the last line|%d|ms" % (g, w["fwmgr_sendmsg_to_last_ms"]))
print("%s|fwmgr, first line to the last|%d|ms" % (g, w["fwmgr_first_to_last_ms"]))
print("%s|the same lines from a shell script|%d|ms" % (g, w["script_ms"]))
print("%s|ratio fwmgr (first to last line) / script|%s|x" % (g, w["ratio"]))
g = "emulated board: memory after a soak of %d s" % b["soak"]["seconds"]
for d, m in b["memory_after_soak"].items():
    print("%s|%s RSS|%d|kB" % (g, d, m["rss_kb"]))
    print("%s|%s PSS|%d|kB" % (g, d, m["pss_kb"]))
print("%s|MemTotal|%d|kB" % (g, b["memtotal_kb"]))
print("%s|MemAvailable|%d|kB" % (g, b["memavailable_kb"]))
PY
  )
fi

# The table.
group=
for r in "${rows[@]}"; do
  IFS='|' read -r g item value unit target <<<"$r"
  if [ "$g" != "$group" ]; then
    group=$g
    printf '\n%s\n' "$g"
  fi
  printf '  %-66s %10s %-5s %s\n' "$item" "$value" "$unit" "$target"
done
# The JSON: one object a row.
esc() { printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g'; }
{
  printf '{\n  "commit": "%s",\n  "date": "%s",\n  "rows": [\n' "$(git rev-parse --short HEAD)" "$(date -u +%FT%TZ)"
  sep=
  for r in "${rows[@]}"; do
    IFS='|' read -r g item value unit target <<<"$r"
    printf '%s    {"group": "%s", "item": "%s", "value": "%s", "unit": "%s", "target": "%s"}' \
      "$sep" "$(esc "$g")" "$(esc "$item")" "$(esc "$value")" "$(esc "$unit")" "$(esc "$target")"
    sep=$',\n'
  done
  printf '\n  ]\n}\n'
} >"$json"
echo
echo "run: JSON in $json"
