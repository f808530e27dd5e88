#!/bin/bash
# Idle cost of every daemon in the router simulation (all programs running,
# default configuration, no traffic) and the start-up time. Needs root, like
# the simulation, and a build without sanitizers (default: build-bench).
#
#   bench/idle.sh [BUILD_DIR [SECONDS]]
#
# Starts the simulation (with kinwatch's DNS logging on), times the start-up (router started, WAN rule, LAN
# lease), lets it settle for 10 s, then samples for SECONDS (default 120):
# each daemon's own CPU time (the scheduler's nanoseconds, /proc/PID/schedstat)
# and that of the children it waited for (cutime + cstime, clock ticks),
# as a percentage of one core, and its resident memory at the end. Then the
# CPU time of trafmon's `free` subprocess, run apart 50 times, averaged over
# the 64 seconds between two runs. Prints key=value lines for bench/run.sh.
set -u
cd "$(dirname "$0")/.."
BUILD=${1:-build-bench}
secs=${2:-120}
. sim/simnet.sh
SIM_QUIET=1
sim_require
trap 'sim_down >/dev/null 2>&1' EXIT
daemons=(netmgr fwmgr trafmon logmail kinwatch arpguard)
now_ms() { date +%s%3N; }

t0=$(now_ms)
sim_up "$BUILD" fmg_enable_manage=1 || { echo "idle: the simulation did not start" >&2; exit 1; }
t_up=$(now_ms)
sim_wait_wan 60 || { echo "idle: no WAN rule within 60 s" >&2; exit 1; }
t_wan=$(now_ms)
sim_wait_lease 60 || { echo "idle: no LAN lease within 60 s" >&2; exit 1; }
t_lease=$(now_ms)
echo "startup_router_ms=$((t_up - t0))"
echo "startup_wan_ms=$((t_wan - t0))"
echo "startup_lease_ms=$((t_lease - t0))"
# The router's processes: PID namespace of its first process.
ns=$(readlink "/proc/$SIM_ROUTER_INIT/ns/pid")
# sample NAME: "PID own_ns child_ticks" for every process called NAME.
sample() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(cat "$p/comm" 2>/dev/null)" = "$1" ] || continue
    [ "$(readlink "$p/ns/pid" 2>/dev/null)" = "$ns" ] || continue
    local own stat
    own=$(cut -d' ' -f1 "$p/schedstat" 2>/dev/null) || continue
    stat=$(sed 's/.*) //' "$p/stat" 2>/dev/null) || continue
    # fields after the name: state is 1, cutime 14, cstime 15
    echo "${p#/proc/} $own $(echo "$stat" | awk '{print $14 + $15}')"
  done
}
# fwmgr starts kinwatch (and trafmon); give it a moment, then settle.
running() { [ -n "$(sample "$1")" ]; }
poll 30 running kinwatch || echo "idle: kinwatch is not running" >&2
sleep 10

declare -A before
for d in "${daemons[@]}"; do before[$d]=$(sample "$d"); done
sleep "$secs"
hz=$(getconf CLK_TCK)
for d in "${daemons[@]}"; do
  after=$(sample "$d")
  if [ -z "$after" ]; then
    echo "idle_${d}=not running"
    continue
  fi
  own=0 child=0 rss=0 n=0
  while read -r pid o c; do
    b=$(echo "${before[$d]}" | awk -v p="$pid" '$1 == p {print $2, $3}')
    [ -n "$b" ] || { echo "idle: $d (pid $pid) started during the sample" >&2; b="0 0"; }
    own=$((own + o - ${b% *}))
    child=$((child + c - ${b#* }))
    r=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
    rss=$((rss + ${r:-0}))
    n=$((n + 1))
  done <<<"$after"
  awk -v d="$d" -v n="$n" -v o="$own" -v c="$child" -v hz="$hz" -v s="$secs" -v r="$rss" 'BEGIN {
    printf "idle_%s=%d %.4f %.4f %d\n", d, n, o / (s * 1e9) * 100, c / hz / s * 100, r }'
done

# trafmon's free subprocess, as vk_SystemEx runs it, every 64 s.
free_ms=$( (for _ in $(seq 50); do /bin/sh -c 'free > /dev/null'; done; times) | tail -n 1 |
  awk '{ split($1, u, /[ms]/); split($2, y, /[ms]/); printf "%.3f", (u[1] * 60 + u[2] + y[1] * 60 + y[2]) * 1000 / 50 }')
echo "free_cpu_ms=$free_ms"
awk -v m="$free_ms" 'BEGIN { printf "free_share_pct=%.4f\n", m / 64000 * 100 }'
