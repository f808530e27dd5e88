#!/bin/bash
# The soak of the whole router: the simulation with every daemon under
# continuous load for SECONDS (default 600), then the checks, with the
# figures printed as a table.
#
#   sim/soak.sh [--pppoe] [SECONDS] [BUILD_DIR]     (as root; BUILD_DIR
#                                                   default build-sim, as
#                                                   ./simulate.sh builds it)
#
# The load, all of it between the simulation's own namespaces, each loop
# bounded in count and ended at the deadline:
#   - the LAN host downloads 1 MB files from the ISP host (its eth0 limited to
#     16 Mbit/s) and uploads 256 KB to it, one after the other;
#   - it looks names up through the router (a new site each time, so the URL
#     logger has lines to write);
#   - the WAN flaps every 20 s: DHCP release and renew (netmgr 5, 6), WAN
#     down and up (3, 2); with --pppoe disconnect and connect (7, 8);
#   - every 3 s one settings command, in turn on every settings queue:
#     fwmgr 203 4, 5, 7..18, netmgr 204 9 (DHCP server), logmail 210 1, arpguard
#     207 1 (trafmon's queue 201 has only WAN up and down, which netmgr
#     posts itself at each flap);
#   - every 15 s the router kernel reports an attack (a new address each
#     time), which netmgr logs into the ring and logmail mails (email_num 1).
# The checks: every daemon still runs under the pid it had after the first
# minute; no daemon's anonymous resident memory or open-descriptor count grew
# after the first minute (sampled every 10 s); no child left a zombie that
# outlived two samples; iptables-save holds no rule twice; /var/url.log
# parses; every record of the ring reached a mail; the LAN host still
# reaches the ISP host.
#
# Sourced by sim/tests/system_test.sh (with simnet.sh already sourced) for
# the functions soak_start, soak_wait_end, soak_check, soak_report; it sets
# SOAK_FLAP_FIRST/SOAK_FLAP_EVERY, SOAK_SETTING_EVERY, SOAK_EVENT_EVERY
# (seconds) for a denser short run, and SOAK_ANON_SLACK (kB, default 0), the
# anonymous memory a daemon may touch once after a short warm-up (-1: memory
# not judged, for sanitizer builds, whose allocator keeps freed memory in
# quarantine, so every allocation of a settings command shows as growth).

SOAK_DAEMONS="netmgr fwmgr trafmon httpd kinwatch logmail arpguard"

soak_now() { date +%s; }

# soak_loop NAME MAX_COUNT PAUSE COMMAND...: runs COMMAND until the deadline
# or MAX_COUNT runs, PAUSE seconds apart; counts runs and failures in
# $SOAK_DIR/NAME.ok and NAME.failed.
soak_loop() {
  local name=$1 max=$2 pause=$3 ok=0 failed=0 n=0
  shift 3
  while [ "$(soak_now)" -lt "$SOAK_END" ] && [ $n -lt "$max" ] && [ -d "$SOAK_DIR" ]; do
    n=$((n + 1))
    if "$@" >/dev/null 2>&1; then ok=$((ok + 1)); else failed=$((failed + 1)); fi
    echo $ok >"$SOAK_DIR/$name.ok"
    echo $failed >"$SOAK_DIR/$name.failed"
    sleep "$pause"
  done
}

# A download caught by a WAN flap hangs until its limit: 10 s (twenty times
# what 1 MB takes) keeps one flap from eating a third of the short soak.
soak_download() { sim_lan timeout 10 busybox wget -q -O /dev/null "http://$SIM_ISP_ADDR/soak1m"; }
soak_upload() {
  sim_lan timeout 30 busybox wget -q -O /dev/null --post-file "$SOAK_DIR/upload" \
    "http://$SIM_ISP_ADDR/cgi-bin/sink"
}
SOAK_SITE=0
soak_lookup() {
  SOAK_SITE=$((SOAK_SITE + 1))
  sim_lan timeout 3 busybox nslookup "www.site$SOAK_SITE.example." 192.168.0.1
  return 0 # the query only has to reach br0
}
# A flap: the WAN must be back (masquerade rule) within 60 s.
soak_flap() {
  local step=$((SOAK_FLAP % 2))
  SOAK_FLAP=$((SOAK_FLAP + 1))
  if [ "$SOAK_PPPOE" = 1 ]; then
    sim_router sendmsg 204 7 && sleep 2 && sim_router sendmsg 204 8
  elif [ $step = 0 ]; then
    sim_router sendmsg 204 5 && sleep 2 && sim_router sendmsg 204 6
  else
    sim_router sendmsg 204 3 && sleep 2 && sim_router sendmsg 204 2
  fi || return 1
  sim_wait_wan 60
}
SOAK_FLAP=0
SOAK_SETTINGS=(203:4 203:5 203:7 203:8 203:9 203:10 203:11 203:12 203:13 203:14 203:15
  203:16 203:17 203:18 204:9 210:1 207:1)
SOAK_SETTING=0
soak_setting() {
  local c=${SOAK_SETTINGS[$((SOAK_SETTING % ${#SOAK_SETTINGS[@]}))]}
  SOAK_SETTING=$((SOAK_SETTING + 1))
  sim_router sendmsg "${c%%:*}" "${c#*:}"
}
# An attack event from 10.77.X.Y; kept in the kernel file until netmgr has
# logged it (it reads the file every second), then taken away.
SOAK_EVENT=0
soak_event() {
  SOAK_EVENT=$((SOAK_EVENT + 1))
  local fwlog=$SIM_TMP/router/kernel/proc/vkproc/fwlog x=$((SOAK_EVENT / 250)) y=$((SOAK_EVENT % 250 + 1))
  printf "$(printf '\\%03o' 10 77 $x $y 0 0 0 0 0 0 0 1)" >"$fwlog"
  poll 10 eval "sim_router routerstat | grep -q '10\\.77\\.$x\\.$y'"
  local rc=$?
  : >"$fwlog"
  return $rc
}

# The samples: "SECONDS name pid state rss anon fds" every 10 s, and the
# zombies of the router ("SECONDS Z pid comm").
soak_sampler() {
  local t
  while [ "$(soak_now)" -le "$SOAK_END" ] && [ -d "$SOAK_DIR" ]; do
    t=$(($(soak_now) - SOAK_START))
    sim_daemons | sed "s/^/$t /" >>"$SOAK_DIR/samples"
    # Where each daemon's anonymous memory lies (heap, stack, data), at the
    # first sample after the first minute and at the latest one: a growth
    # is then reported with the mapping it happened in.
    if [ "$t" -ge "$SOAK_WARMUP" ]; then
      [ -e "$SOAK_DIR/maps.first" ] || soak_maps >"$SOAK_DIR/maps.first"
      soak_maps >"$SOAK_DIR/maps.last"
    fi
    sim_router sh -c 'for d in /proc/[0-9]*; do
        s=$(sed -n "s/^State:[[:space:]]*\(.\).*/\1/p" "$d/status" 2>/dev/null)
        [ "$s" = Z ] && echo "${d#/proc/} $(cat "$d/comm" 2>/dev/null)"; done' |
      sed "s/^/$t Z /" >>"$SOAK_DIR/zombies"
    sleep 10
  done
}

# "name mapping kB" for every mapping of every daemon that holds anonymous
# memory (the mapping is its path, [heap], [stack] or the address range of
# an unnamed one; the kB of a path's several mappings added up).
soak_maps() {
  sim_daemons | while read -r name pid _; do
    [ "$pid" = - ] && continue
    sim_router cat "/proc/$pid/smaps" 2>/dev/null |
      awk -v n="$name" '/^[0-9a-f]+-[0-9a-f]+ / { m = (NF >= 6) ? $6 : $1; next }
        /^Anonymous:/ && $2 > 0 { kb[m] += $2 } END { for (m in kb) print n, m, kb[m] }'
  done
}

# soak_start SECONDS [WARMUP]: the load and the sampler in the background
# (the simulation is up, the WAN up, the LAN host leased). The first WARMUP
# seconds (default 60) are the first minute the memory checks measure from.
soak_start() {
  SOAK_SECONDS=$1
  SOAK_WARMUP=${2:-60}
  SOAK_PPPOE=${SOAK_PPPOE:-0}
  SOAK_DIR=$SIM_TMP/soak
  mkdir -p "$SOAK_DIR" "$SIM_TMP/isp/www/cgi-bin"
  head -c 1048576 /dev/zero >"$SIM_TMP/isp/www/soak1m"
  printf '#!/bin/sh\ncat >/dev/null\nprintf "Content-Type: text/plain\\r\\n\\r\\nok\\n"\n' >"$SIM_TMP/isp/www/cgi-bin/sink"
  chmod +x "$SIM_TMP/isp/www/cgi-bin/sink"
  yes 0123456789abcdef | head -c 262144 >"$SOAK_DIR/upload" # busybox wget posts a C string
  sim_isp tc qdisc replace dev eth0 root tbf rate 16mbit burst 64kb latency 400ms
  sim_lan tc qdisc replace dev eth0 root tbf rate 16mbit burst 64kb latency 400ms
  SOAK_START=$(soak_now)
  SOAK_END=$((SOAK_START + SOAK_SECONDS))
  SOAK_PIDS=()
  # Counts bound each loop even if the clock misbehaves: at most one run a
  # second for the whole soak.
  local max=$((SOAK_SECONDS + 1))
  soak_loop download "$max" 0.5 soak_download &
  SOAK_PIDS+=($!)
  soak_loop upload "$max" 1 soak_upload &
  SOAK_PIDS+=($!)
  soak_loop lookup "$max" 1 soak_lookup &
  SOAK_PIDS+=($!)
  (sleep "${SOAK_FLAP_FIRST:-10}" && soak_loop flap "$max" "${SOAK_FLAP_EVERY:-20}" soak_flap) &
  SOAK_PIDS+=($!)
  soak_loop setting "$max" "${SOAK_SETTING_EVERY:-3}" soak_setting &
  SOAK_PIDS+=($!)
  (sleep 5 && soak_loop event "$max" "${SOAK_EVENT_EVERY:-15}" soak_event) &
  SOAK_PIDS+=($!)
  soak_sampler &
  SOAK_PIDS+=($!)
}

# soak_wait_end: waits for the load to end (every loop stops at the
# deadline; a flap may take 60 s more), then for the WAN and the mails.
soak_wait_end() {
  local p
  for p in "${SOAK_PIDS[@]}"; do wait "$p" 2>/dev/null; done
  SOAK_PIDS=()
  sim_router sh -c ': >/dev/null' # the router still answers
  sim_wait_wan 60
}
soak_stop() {
  local p
  for p in "${SOAK_PIDS[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${SOAK_PIDS[@]}"; do wait "$p" 2>/dev/null; done
  SOAK_PIDS=()
}

soak_count() { cat "$SOAK_DIR/$1.$2" 2>/dev/null || echo 0; }

# The records of the ring as routerstat shows them, and those of every mail.
soak_ring() { sim_router routerstat | grep -a '^[0-9]\{4\}-'; }
soak_mailed() {
  LC_ALL=C grep -a '^ [0-9-]\{10\} [0-9:]\{8\} system ' "$SIM_TMP/isp/mail/mail/admin" 2>/dev/null |
    iconv -c -f GBK -t UTF-8 | sed 's/^ \(.\{19\}\) system /\1 /'
}
soak_all_mailed() {
  local ring
  ring=$(soak_ring)
  [ -n "$ring" ] && [ "$(soak_mailed)" = "$ring" ]
}

# The rules iptables-save holds twice (table and rule), and the ones the
# design needs twice.
soak_duplicates() {
  sim_rnet iptables-save | awk '/^\*/ {t = $1} /^-A/ {print t " " $0}' | sort | uniq -d
}

# /var/url.log: the counter line, then "YYYY-mm-dd HH:MM:SS;address;name"
# lines; the counter is the number of lines after it.
soak_urllog_check() {
  sim_router cat /var/url.log >"$SOAK_DIR/url.log" || { echo "no /var/url.log"; return 1; }
  local first n bad
  first=$(head -n 1 "$SOAK_DIR/url.log")
  n=$(($(wc -l <"$SOAK_DIR/url.log") - 1))
  bad=$(sed 1d "$SOAK_DIR/url.log" |
    grep -cvE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2};[0-9]{1,3}(\.[0-9]{1,3}){3};[!-~]+$')
  [[ $first =~ ^[0-9]{3}$ ]] || { echo "/var/url.log: counter line [$first]"; return 1; }
  [ "$bad" = 0 ] || { echo "/var/url.log: $bad lines that do not parse"; return 1; }
  [ $((10#$first)) = "$n" ] || { echo "/var/url.log: counter $first, $n lines"; return 1; }
}
# The lines of /var/url.log after its counter line.
soak_url_lines() { sim_router sed 1d /var/url.log 2>/dev/null | wc -l; }

# soak_check: prints each failed check on a line of its own ("" when all
# passed); sets the figures soak_report prints.
soak_check() {
  local f=$SOAK_DIR/samples name base last
  # Every daemon runs, once, under the pid it had at the end of the first minute.
  for name in $SOAK_DAEMONS; do
    last=$(sim_daemons | awk -v n="$name" '$1 == n {print $2}' | tr '\n' ' ')
    base=$(awk -v n="$name" -v w="$SOAK_WARMUP" '$1 >= w && $2 == n {print $3; exit}' "$f")
    case $last in
      "- " | "") echo "$name does not run" ;;
      *" "*" "*) echo "$name runs more than once: $last" ;;
      *) [ "${last% }" = "$base" ] || echo "$name was restarted (pid $base after the first minute, now ${last% })" ;;
    esac
  done
  # Anonymous memory (beyond SOAK_ANON_SLACK kB; the highest sample) and
  # descriptors (in the last two samples: a mail's or a command's descriptor
  # open at one sample is not kept) after the first minute. Descriptors
  # count only in samples where the daemon had no child: while a command or
  # a batch shell runs, its pipe or socket is open.
  awk -v w="$SOAK_WARMUP" -v slack="${SOAK_ANON_SLACK:-0}" '
    $1 >= w && $3 != "-" {
      k = $2
      if (!(k in a0)) { a0[k] = $6; r0[k] = $5 }
      if ($6 > amax[k]) amax[k] = $6
      if ($9 == 0) {
        if (!(k in f0)) f0[k] = $7
        fprev[k] = flast[k]; flast[k] = $7
      }
    }
    END { for (k in a0) {
      if (slack >= 0 && amax[k] > a0[k] + slack) printf "%s: anonymous memory grew from %d to %d kB after the first minute\n", k, a0[k], amax[k]
      if (flast[k] > f0[k] && fprev[k] > f0[k]) printf "%s: open descriptors grew from %d to %d after the first minute\n", k, f0[k], flast[k]
    } }' "$f"
  # The mappings where a daemon's anonymous memory grew since the first minute.
  [ -s "$SOAK_DIR/maps.first" ] && awk 'FNR == NR { k[$1 " " $2] = $3; next }
    $3 > k[$1 " " $2] + 0 { printf "   (%s: %s holds %d kB of anonymous memory, %d kB after the first minute)\n", $1, $2, $3, k[$1 " " $2] }' \
    "$SOAK_DIR/maps.first" "$SOAK_DIR/maps.last" >"$SOAK_DIR/maps.grown"
  # Zombies seen in two samples (10 s apart): a parent that does not reap.
  awk '{ if (!(($3, $1) in seen)) { seen[$3, $1] = 1; n[$3]++; c[$3] = $4 } }
       END { for (p in n) if (n[p] > 1) printf "zombie %s (%s) outlived a sample\n", p, c[p] }' \
    "$SOAK_DIR/zombies" 2>/dev/null
  local dup
  while IFS= read -r dup; do
    [ -n "$dup" ] || continue
    soak_dup_required "$dup" || echo "iptables-save holds twice: $dup"
  done < <(soak_duplicates)
  soak_urllog_check
  soak_all_mailed || echo "ring and mails differ: $(diff <(soak_ring) <(soak_mailed) | head -n 8 | tr '\n' '|')"
  [ -n "$(sim_whoami)" ] || echo "the LAN host does not reach the ISP host after the soak"
}

# Duplicates the design needs: none so far.
soak_dup_required() { return 1; }

soak_report() {
  local f=$SOAK_DIR/samples
  echo "== soak: $SOAK_SECONDS s$([ "$SOAK_PPPOE" = 1 ] && echo ", PPPoE WAN"), first minute = first $SOAK_WARMUP s"
  [ "${SOAK_ANON_SLACK:-0}" -ge 0 ] || echo "   (memory growth not judged: a sanitizer build's allocator keeps freed memory in quarantine)"
  printf '   %-9s %8s %8s %10s %10s %6s %6s\n' daemon pid-end 'rss@1m' 'rss@end' 'anon@1m/max' 'fds@1m' 'fds@max'
  awk -v w="$SOAK_WARMUP" '
    $1 >= w && $3 != "-" {
      k = $2
      if (!(k in a0)) { a0[k] = $6; f0[k] = $7; r0[k] = $5; order[++n] = k }
      if ($6 > amax[k]) amax[k] = $6
      if ($7 > fmax[k]) fmax[k] = $7
      r1[k] = $5; p1[k] = $3
    }
    END { for (i = 1; i <= n; i++) { k = order[i]
      printf "   %-9s %8s %6d kB %7d kB %5d/%-5d %6d %6d\n", k, p1[k], r0[k], r1[k], a0[k], amax[k], f0[k], fmax[k] } }' "$f"
  cat "$SOAK_DIR/maps.grown" 2>/dev/null
  echo "   downloads $(soak_count download ok) ok / $(soak_count download failed) failed;" \
    "uploads $(soak_count upload ok) ok / $(soak_count upload failed) failed;" \
    "lookups $(soak_count lookup ok); WAN flaps $(soak_count flap ok) ok / $(soak_count flap failed) failed;" \
    "settings commands $(soak_count setting ok) ok / $(soak_count setting failed) failed;" \
    "attack events logged $(soak_count event ok) / $(soak_count event failed) not"
  echo "   ring records $(soak_ring | wc -l), mailed records $(soak_mailed | wc -l)," \
    "mails $(grep -c '^From router@isp.sim ' "$SIM_TMP/isp/mail/mail/admin" 2>/dev/null || echo 0);" \
    "/var/url.log lines $(soak_url_lines); zombie sightings $(wc -l <"$SOAK_DIR/zombies" 2>/dev/null || echo 0)"
  echo "   rules in iptables-save: $(sim_rnet iptables-save | grep -c '^-A'); held twice: $(soak_duplicates | grep -c .)"
  soak_duplicates | sed 's/^/      /'
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -u
  cd "$(dirname "$0")/.." || exit 1
  SOAK_PPPOE=0
  [ "${1:-}" = --pppoe ] && { SOAK_PPPOE=1; shift; }
  seconds=${1:-600}
  build=${2:-build-sim}
  . sim/simnet.sh
  sim_require
  trap 'exit 130' INT TERM HUP
  trap 'soak_stop; sim_down' EXIT
  # Every daemon at work: the URL logger and the ARP defence on.
  extra=(fmg_enable_manage=1 arp_defence=1,1,1,2)
  [ $SOAK_PPPOE = 1 ] && extra+=(wan_connecttype=3)
  sim_up "$build" "${extra[@]}" || { echo "soak: the simulation did not start" >&2; exit 1; }
  sim_wait_wan 60 && sim_wait_lease 60 || { echo "soak: no WAN or no lease within 60 s" >&2; exit 1; }
  echo "soak: $seconds s of load from $(date -u +%H:%M:%S) UTC"
  warm=60
  [ "$seconds" -lt 180 ] && warm=$((seconds / 3))
  soak_start "$seconds" "$warm"
  soak_wait_end || echo "soak: the WAN is not back at the end" >&2
  poll 120 soak_all_mailed
  problems=$(soak_check)
  soak_report
  [ "$(soak_url_lines)" -gt 0 ] || problems+=$'\n'"no line in /var/url.log"
  problems=$(sed '/^$/d' <<<"$problems")
  if [ -n "$problems" ]; then
    echo "soak: FAILED:"
    sed 's/^/   /' <<<"$problems"
    exit 1
  fi
  echo "soak: passed"
fi
