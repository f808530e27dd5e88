#!/bin/bash
# The router's costs on the emulated MIPS board (docs/board.md), as root:
#
#   bench/board.sh [BUILD]        BUILD: the board's build directory
#                                 (default build-board; board_build makes
#                                 what is missing)
#   ROUNDS=3 SOAK_SECONDS=600 BOARD_RESULT=BUILD/bench.json   (environment)
#   BOARD_QEMU_OPTS="-icount shift=2"   the board's clock (see below)
#
# 1. The board boots with the configuration of bench/fwmgr_wanup.sh (32
#    forwards for TCP and UDP, DMZ, QoS with 32 records, DDNS, the DNS
#    proxy, UPnP) over the defaults (DHCP WAN). Once the WAN is up and
#    fwmgr has started upnp, each round times two sides, from the first line
#    of the pass to its last (upnp's start) in the board's uptimes in
#    /board/journal.timed: fwmgr's WAN-up after "sendmsg 203 2" in the board
#    (the WAN is up, so the WAN-down of the last WAN-up runs first), and the
#    same command lines, as the journal recorded fwmgr's first pass, from a
#    shell script in the router's PID and mount namespaces, from the same
#    state. A warm-up round is not counted; then ROUNDS rounds, the sides
#    taking turns at going first.
#    The script runs as /bin/sh (dash): the board's nsenter is busybox, which
#    would run a bare "sh" as its own ash, and ash runs its own tc and
#    killall, not the wrappers.
#    Both sides run every line through the journaling wrapper
#    /board/bin/wrap (or the stand-in), so both pay for it alike.
# 2. A soak of SOAK_SECONDS inside the board, every loop bounded in count
#    and ended at the deadline, all traffic between the board's own
#    namespaces: the WAN flaps every 20 s (netmgr's DHCP release and renew,
#    then WAN down and up), every 6 s one settings command in turn (fwmgr
#    4, 5, 7..18, netmgr 9, logmail 1, arpguard 1), the LAN host downloads
#    1 MB from the ISP host (20 s at most, 4 s apart) and looks up a new
#    name through br0. Every 60 s each daemon's RSS and PSS are sampled.
# 3. After the soak: each daemon's RSS and PSS (/proc/PID/smaps_rollup),
#    the seven together (the six daemons and httpd; memdump is a one-shot
#    tool and does not run), MemTotal and MemAvailable.
# Prints a table and the JSON object, which is also written to
# BOARD_RESULT (bench/run.sh shows it).
# The board's clock counts instructions (qemu's -icount shift=2: 4 ns an
# instruction, a 250 MIPS core), so its times are those of the work the
# board did, not of the PC's load: on qemu's own clock the same round gave
# 14 to 28 s for the script within one run, on this clock the sides repeat
# within 0.5 %. They are reported, never checked.
set -u
cd "$(dirname "$0")/.."
BUILD=${1:-build-board}
ROUNDS=${ROUNDS:-3}
SOAK_SECONDS=${SOAK_SECONDS:-600}
RESULT=${BOARD_RESULT:-$BUILD/bench.json}
[ "$(id -u)" = 0 ] || { echo "bench/board.sh: run as root" >&2; exit 2; }
export BOARD_QEMU_OPTS=${BOARD_QEMU_OPTS-"-icount shift=2"}
. board/board.sh
die() { echo "bench/board.sh: $*" >&2; exit 1; }

board_build "$BUILD" >&2 || die "the board's build failed"
trap 'board_stop >/dev/null 2>&1' EXIT
trap 'exit 1' INT TERM HUP

. bench/wanup_config.sh
board_up "$BUILD" "${WANUP_SETTINGS[@]}" ||
  die "the board did not start"
board_wait_ready 300 || die "no channel within 300 s"
board_wait_wan 600 || die "no WAN within 600 s of the boot"
wan_ms=$(board_ms)
board_poll 600 board_exec --timeout 10 "grep -qx 'upnp eth2.2' /board/journal" ||
  die "fwmgr's first WAN-up did not start upnp"
board_exec --timeout 30 sleep 5 >/dev/null
board_log "WAN up $((wan_ms / 1000)) s after qemu's start; timing fwmgr's WAN-up"

# --- 1. WAN-up: fwmgr against a script of its lines
# One side of a round in the board: SIDE=fwmgr sends "sendmsg 203 2",
# SIDE=script runs /board/replay.sh (dash, in the router's PID and mount
# namespaces); both then wait the same way for the pass's last line, and
# both are timed the same way, from the uptimes in /board/journal.timed:
# prints "FIRST_TO_LAST START_TO_LAST" in ms (START: sendmsg, or the
# script's start). The wait costs the board next to nothing: tail -f reads
# the journal once a second and grep wakes only for what it writes (the
# bench used to wait for fwmgr's side alone with a loop that started
# sleep, tail and grep every 2 s beside it).
side_sh='
j=/board/journal.timed
cs() { read -r u _ </proc/uptime; echo "${u%.*}${u#*.}"; }
s=$(wc -l <$j)
rm -f /tmp/pass.fifo
mkfifo /tmp/pass.fifo
tail -n +$((s + 1)) -f $j >/tmp/pass.fifo 2>/dev/null &
tp=$!
t0=$(cs)
if [ "$SIDE" = fwmgr ]; then
  sendmsg 203 2 || { kill $tp; exit 1; }
else
  fw=$(pidof fwmgr | cut -d" " -f1)
  PATH=/board/bin:$PATH nsenter -t "$fw" -p -m /bin/sh /board/replay.sh >/dev/null 2>&1 &
fi
timeout 900 grep -qx "[0-9.]* upnp eth2.2" </tmp/pass.fifo
ok=$?
kill $tp 2>/dev/null
wait
[ $ok = 0 ] || { echo "no upnp within 900 s"; exit 1; }
sleep 2
tail -n +$((s + 1)) $j >/tmp/pass.timed
first=$(awk "\$2 == \"arptables\" && \$3 == \"-D\" { print \$1; exit }" /tmp/pass.timed | tr -d .)
last=$(awk "\$2 == \"upnp\" && \$3 == \"eth2.2\" { print \$1; exit }" /tmp/pass.timed | tr -d .)
[ -n "$first" ] && [ -n "$last" ] || { echo "pass not found in the journal"; exit 1; }
if [ "$SIDE" = fwmgr ] && [ ! -s /board/replay.sh ]; then
  # The pass'"'"'s lines; what fwmgr starts in the background gets its "&"
  # back. The watchdog'"'"'s restarts (httpd, trafmon, kinwatch) are not
  # part of it.
  cut -d" " -f2- /tmp/pass.timed | grep -Ev "^(sendmsg|httpd|trafmon|kinwatch)( |\$)" |
    sed -E "s/^((upnp|inadyn) .*)\$/\\1 \\&/" >/board/replay.sh
fi
echo "$(((last - first) * 10)) $(((last - t0) * 10)) $(wc -l </board/replay.sh)"
'
# side fwmgr|script: one side's "FIRST_TO_LAST START_TO_LAST LINES".
side() {
  local out
  out=$(board_exec --timeout 1200 "SIDE=$1; $side_sh") || die "round $r, $1: $out"
  echo "$out" | tail -n 1
}
# Round 0 warms up (fwmgr's pass also records the script) and is not
# counted; then the sides take turns at going first, so that neither
# always runs on the state the other left.
fws=() runs=() shs=() lines=0
for ((r = 0; r <= ROUNDS; r++)); do
  if ((r % 2 == 0)); then
    read -r a b lines <<<"$(side fwmgr)"
    read -r c _ _ <<<"$(side script)"
    order="fwmgr first"
  else
    read -r c _ _ <<<"$(side script)"
    read -r a b lines <<<"$(side fwmgr)"
    order="script first"
  fi
  [ -n "$a" ] && [ -n "$c" ] || die "round $r did not finish"
  if ((r == 0)); then
    board_log "warm-up: fwmgr $a ms (sendmsg to the last line $b ms), script $c ms, $lines lines"
    continue
  fi
  board_log "round $r ($order): fwmgr $a ms (sendmsg to the last line $b ms), script $c ms"
  runs+=("$a") fws+=("$b") shs+=("$c")
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }'; }
ratios=()
for ((i = 0; i < ROUNDS; i++)); do ratios+=("$(ratio "${runs[i]}" "${shs[i]}")"); done
fw_med=$(median "${fws[@]}") run_med=$(median "${runs[@]}") sh_med=$(median "${shs[@]}")
ratio_med=$(median "${ratios[@]}")

# --- memory of the router's daemons
# mem_sh prints "NAME PROCESSES RSS_KB PSS_KB" for each name (processes
# found by their comm, so the hosts' "busybox APPLET" servers never count).
DAEMONS="netmgr fwmgr trafmon kinwatch logmail arpguard httpd"
mem_sh='
for d in '"$DAEMONS"'; do
  n=0 r=0 p=0
  for c in /proc/[0-9]*/comm; do
    [ "$(cat $c 2>/dev/null)" = "$d" ] || continue
    f=${c%/comm}/smaps_rollup
    set -- $(awk "/^Rss:/ { r = \$2 } /^Pss:/ { p = \$2 } END { print r + 0, p + 0 }" $f 2>/dev/null)
    [ $# = 2 ] || continue
    n=$((n + 1)) r=$((r + $1)) p=$((p + $2))
  done
  echo "$d $n $r $p"
done'

board_log "memory before the soak; soak of $SOAK_SECONDS s"
before=$(board_exec --timeout 60 "$mem_sh") || die "no memory figures"

# --- 2. the soak, inside the board
soak_sh='
S='"$SOAK_SECONDS"'
end=$(($(date +%s) + S))
. /board/lab.conf
mkdir -p /board/soak
rm -f /board/soak/*
dd if=/dev/urandom of=/board/isp/www/soak1m bs=1024 count=1024 2>/dev/null
# loop NAME MAX PAUSE CMD: CMD until the deadline or MAX runs; counts.
loop() {
  name=$1 max=$2 pause=$3 n=0 ok=0 bad=0
  shift 3
  while [ "$(date +%s)" -lt $end ] && [ $n -lt $max ]; do
    n=$((n + 1))
    if eval "$*" >/dev/null 2>&1; then ok=$((ok + 1)); else bad=$((bad + 1)); fi
    echo "$ok $bad" >/board/soak/$name
    sleep $pause
  done
}
flap=0
flap() {
  flap=$((flap + 1))
  if [ $((flap % 2)) = 1 ]; then sendmsg 204 5 && sleep 2 && sendmsg 204 6
  else sendmsg 204 3 && sleep 2 && sendmsg 204 2; fi
}
set_i=0
setting() {
  set -- 203:4 203:5 203:7 203:8 203:9 203:10 203:11 203:12 203:13 203:14 203:15 203:16 203:17 203:18 204:9 210:1 207:1
  shift $((set_i % $#))
  set_i=$((set_i + 1))
  sendmsg ${1%%:*} ${1#*:}
}
site=0
download() {
  site=$((site + 1))
  nsenter --net=/run/netns/lan timeout 3 busybox nslookup www.site$site.example. 192.168.0.1
  nsenter --net=/run/netns/lan timeout 20 busybox wget -q -O /dev/null http://$BOARD_ISP_ADDR/soak1m
}
sample() {
  t=0
  while [ "$(date +%s)" -lt $end ] && [ $t -le $S ]; do
    sh /board/mem.sh | sed "s/^/$t /" >>/board/soak/memory
    sleep 60
    t=$((t + 60))
  done
}
(sleep 10; loop flap $((S / 20 + 1)) 18 flap) &
(loop setting $((S / 6 + 1)) 6 setting) &
(loop download $((S / 4 + 1)) 4 download) &
sample &
wait
touch /board/soak/done
'
board_exec --timeout 60 "cat >/board/mem.sh <<'EOF'
$mem_sh
EOF
cat >/board/soak.sh <<'EOF'
$soak_sh
EOF
(setsid sh /board/soak.sh </dev/null >/board/log/soak.log 2>&1 &)" >/dev/null ||
  die "the soak did not start"
# Waits without asking the board (each question is a shell in it).
sleep "$SOAK_SECONDS" &
wait $!
for ((i = 0; i < 60; i++)); do
  board_exec --timeout 30 test -e /board/soak/done >/dev/null 2>&1 && break
  kill -0 "$BOARD_QEMU" 2>/dev/null || die "qemu ended during the soak"
  sleep 5
done
[ $i -lt 60 ] || die "the soak did not end within $((SOAK_SECONDS + 300)) s"
board_wait_wan 300 || die "no WAN after the soak"
board_exec --timeout 30 sleep 10 >/dev/null
counts=$(board_exec --timeout 30 'cd /board/soak && for f in flap setting download; do echo "$f $(cat $f 2>/dev/null || echo 0 0)"; done')
samples=$(board_exec --timeout 30 cat /board/soak/memory)
after=$(board_exec --timeout 60 "$mem_sh") || die "no memory figures"
meminfo=$(board_exec --timeout 30 "awk '/^MemTotal:|^MemAvailable:/ { print \$1, \$2 }' /proc/meminfo")
memtotal=$(echo "$meminfo" | awk '$1 == "MemTotal:" { print $2 }')
memavail=$(echo "$meminfo" | awk '$1 == "MemAvailable:" { print $2 }')

# --- 3. the table and the JSON
{
  printf 'fwmgr WAN-up on the emulated board (WAN-down first), %d command lines, medians of %d rounds (qemu %s)\n' "$lines" "$ROUNDS" "${BOARD_QEMU_OPTS:-own clock}"
  printf '  fwmgr, sendmsg 203 2 to the last line: %8d ms\n' "$fw_med"
  printf '  fwmgr, first line to the last:         %8d ms\n' "$run_med"
  printf '  the same lines from a shell script:    %8d ms\n' "$sh_med"
  printf '  ratio fwmgr (first to last) / script:  %8s\n' "$ratio_med"
  printf '  rounds (fwmgr first to last / script, ms): '
  for ((i = 0; i < ROUNDS; i++)); do printf '%s/%s ' "${runs[i]}" "${shs[i]}"; done
  printf '\nsoak of %d s (ok failed): %s\n' "$SOAK_SECONDS" "$(echo "$counts" | tr '\n' ',' | sed 's/,$//; s/,/, /g')"
  printf '%-10s %5s %12s %12s %12s %12s\n' daemon procs "RSS before" "PSS before" "RSS after" "PSS after"
  join <(echo "$before" | sort) <(echo "$after" | sort) | while read -r d n r p n2 r2 p2; do
    printf '%-10s %5s %9s kB %9s kB %9s kB %9s kB\n' "$d" "$n2" "$r" "$p" "$r2" "$p2"
  done
  echo "$before" | awk '{ r += $3; p += $4 } END { printf "%-10s %5s %9d kB %9d kB", "the seven", "", r, p }'
  echo "$after" | awk '{ r += $3; p += $4 } END { printf " %9d kB %9d kB\n", r, p }'
  printf 'MemTotal %d kB, MemAvailable %d kB after the soak\n' "$memtotal" "$memavail"
  echo "PSS over the soak (kB, every 60 s):"
  echo "$samples" | awk '{ v[$2] = v[$2] " " $5 } END { for (d in v) printf "  %-10s%s\n", d, v[d] }' | sort
} >&2

mem_json() {
  echo "$1" | awk '{ printf "%s\"%s\": {\"processes\": %d, \"rss_kb\": %d, \"pss_kb\": %d}", (NR > 1 ? ", " : ""), $1, $2, $3, $4
    r += $3; p += $4 } END { printf ", \"the seven\": {\"rss_kb\": %d, \"pss_kb\": %d}", r, p }'
}
list() { local IFS=,; echo "$*"; }
{
  printf '{"date": "%s", "commit": "%s", "wan_up_after_boot_ms": %d,\n' "$(date -u +%FT%TZ)" "$(git rev-parse --short HEAD)" "$wan_ms"
  printf ' "qemu_options": "%s",\n' "$BOARD_QEMU_OPTS"
  printf ' "wanup": {"lines": %d, "rounds": %d, "fwmgr_sendmsg_to_last_ms": %d, "fwmgr_first_to_last_ms": %d, "script_ms": %d, "ratio": %s,\n' \
    "$lines" "$ROUNDS" "$fw_med" "$run_med" "$sh_med" "$ratio_med"
  printf '   "fwmgr_first_to_last_rounds_ms": [%s], "script_rounds_ms": [%s]},\n' "$(list "${runs[@]}")" "$(list "${shs[@]}")"
  printf ' "soak": {"seconds": %d, %s},\n' "$SOAK_SECONDS" \
    "$(echo "$counts" | awk '{ printf "%s\"%s\": {\"ok\": %d, \"failed\": %d}", (NR > 1 ? ", " : ""), $1, $2, $3 }')"
  printf ' "memory_before_soak": {%s},\n' "$(mem_json "$before")"
  printf ' "memory_after_soak": {%s},\n' "$(mem_json "$after")"
  printf ' "pss_over_soak_kb": {%s},\n' "$(echo "$samples" | awk '{ v[$2] = v[$2] (v[$2] == "" ? "" : ", ") $5 }
    END { for (d in v) printf "%s\"%s\": [%s]", (n++ ? ", " : ""), d, v[d] }')"
  printf ' "memtotal_kb": %d, "memavailable_kb": %d}\n' "$memtotal" "$memavail"
} >"$RESULT.tmp" && mv "$RESULT.tmp" "$RESULT"
cat "$RESULT"
