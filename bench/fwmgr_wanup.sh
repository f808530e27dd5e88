#!/bin/bash
# fwmgr's WAN-up with everything configured (32 forwards for TCP and UDP,
# DMZ, QoS with 32 records, DDNS, the DNS proxy, UPnP), timed in the router
# simulation: from "sendmsg 203 2" (with the WAN already up, so the WAN-down
# of the last WAN-up runs first) to the last line in the journal; then the
# same command lines, as the journal recorded the first pass, run from a
# shell script in the router, from the same state. ROUNDS rounds (default 5)
# of the two, one after the other, so that both see the same machine load;
# prints the medians (and the ratio's median over the rounds) and each
# round's figures.
# Needs root, like the simulation. Use a build without sanitizers (forking
# a sanitized daemon is slow): build-sim (./simulate.sh makes it) or any
# Release build of the default targets.
#
#   bench/fwmgr_wanup.sh [BUILD_DIR [ROUNDS]]
set -u
cd "$(dirname "$0")/.."
BUILD=${1:-build-sim}
ROUNDS=${2:-5}
. sim/simnet.sh
SIM_QUIET=1
sim_require
trap 'sim_down >/dev/null 2>&1' EXIT

. bench/wanup_config.sh
sim_up "$BUILD" "${WANUP_SETTINGS[@]}" || exit 1
journal=$SIM_TMP/router/journal
count_upnp() { grep -cx 'upnp eth2.2' "$journal"; }
# wait_upnp N TENTHS_OF_A_SECOND: waits until upnp has been started N times.
wait_upnp() {
  local tries=$(($2 * 10))
  until [ "$(count_upnp)" -ge "$1" ]; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || { echo "fwmgr_wanup: fwmgr's WAN-up number $1 did not finish" >&2; exit 1; }
    sleep 0.01
  done
}
sim_wait_wan 60 || { echo "fwmgr_wanup: no WAN" >&2; exit 1; }
wait_upnp 1 600
sleep 2

now_ms() { date +%s%3N; }
stamps=$SIM_TMP/stamps
# One reader follows the journal (tail -F wakes at each write; polling it
# would take the CPU from the lines being timed) and stamps the first line
# of the pass that takes the command (the WAN-down's arptables line) and its
# last, the start of upnp.
follow() {
  local l
  exec 3< <({
    tail -n +$((start_line + 1)) -F "$journal" 2>/dev/null &
    echo $! >"$SIM_TMP/tail.pid"
    wait
  } | grep --line-buffered -E '^arptables -D|^upnp eth2.2$')
  while IFS= read -r -u 3 l; do
    case $l in
      'arptables -D'*) [ -s "$stamps" ] || now_ms >"$stamps" ;;
      'upnp eth2.2') now_ms >>"$stamps"; break ;;
    esac
  done
  kill "$(cat "$SIM_TMP/tail.pid")"
}
fws=() runs=() shs=() ratios=()
for ((round = 1; round <= ROUNDS; round++)); do
  start_line=$(wc -l <"$journal")
  upnps=$(count_upnp)
  : >"$stamps"
  follow &
  follower=$!
  t0=$(now_ms)
  sim_router sendmsg 203 2
  for ((i = 0; i < 600; i++)); do
    kill -0 $follower 2>/dev/null || break
    sleep 0.1
  done
  if ! { read -r tf && read -r t1; } <"$stamps"; then
    kill "$follower" "$(cat "$SIM_TMP/tail.pid")" 2>/dev/null
    echo "fwmgr_wanup: fwmgr's WAN-up did not finish" >&2
    exit 1
  fi
  [ "$(count_upnp)" -gt "$upnps" ] || { echo "fwmgr_wanup: fwmgr's WAN-up did not start upnp" >&2; exit 1; }
  sleep 2
  if [ $round = 1 ]; then
    # The lines of that WAN-down and WAN-up; the programs fwmgr starts in the
    # background get their "&" back. Lines of the watchdog (a restarted httpd
    # or trafmon) and of sendmsg are not part of it.
    tail -n +$((start_line + 1)) "$journal" | grep -Ev '^(sendmsg|httpd|trafmon|kinwatch)( |$)' |
      sed -e 's/^\(upnp .*\|inadyn .*\)$/\1 \&/' >"$SIM_TMP/router/replay.sh"
    lines=$(wc -l <"$SIM_TMP/router/replay.sh")
  fi
  t2=$(now_ms)
  sim_router sh /sim/replay.sh >/dev/null 2>&1
  t3=$(now_ms)
  fws+=($((t1 - t0))) runs+=($((t1 - tf))) shs+=($((t3 - t2)))
  ratios+=("$(awk -v a="$((t1 - tf))" -v b="$((t3 - t2))" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')")
  sleep 2  # the script's upnp and inadyn start
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf 'fwmgr WAN-up (WAN-down first) with 32 forwards, DMZ, 32 QoS records, DDNS, DNS proxy, UPnP: %d command lines\n' "$lines"
printf '  medians of %d rounds\n' "$ROUNDS"
printf '  fwmgr, sendmsg 203 2 to the last line: %d ms (includes the wait for the next one-second pass)\n' "$(median "${fws[@]}")"
printf '  fwmgr, first line to the last:         %d ms\n' "$(median "${runs[@]}")"
printf '  the same lines from a shell script:    %d ms\n' "$(median "${shs[@]}")"
printf '  ratio fwmgr (first to last line) / script: %.2f\n' "$(median "${ratios[@]}")"
printf '  rounds (fwmgr first to last / script, ms): '
for ((i = 0; i < ROUNDS; i++)); do printf '%s/%s ' "${runs[i]}" "${shs[i]}"; done
echo
