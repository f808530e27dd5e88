#!/bin/bash
# End-to-end tests of trafmon in the router simulation (ctest label sim):
# real traffic between the LAN host and the ISP host through the router,
# counted by the accounting stand-in (sim/standins/sim_account.c) and
# published by the real trafmon in segments 201 and 206, read back with
# routerstat --json. The byte counts are checked against the LAN host's own
# interface counters.
#
#   bash sim/tests/trafmon_test.sh BUILD_DIR CASE
. "$(dirname "$0")/lib.sh"

TRANSFER=$((5 * 1024 * 1024))
BG_PIDS=()

stat_json() { sim_router routerstat --json 2>/dev/null; }
# host_record ADDR: the host table's record of ADDR as JSON ("" when absent).
host_record() { stat_json | grep -o "{\"addr\":\"$1\"[^}]*}"; }
# field RECORD NAME: a number of a record.
field() { sed -n "s/.*\"$2\":\([0-9-]*\).*/\1/p" <<<"$1"; }
host_field() { field "$(host_record "$1")" "$2"; }
sys_field() { stat_json | grep -o '"system":{[^}]*}' | sed -n "s/.*\"$1\":\([0-9-]*\).*/\1/p"; }
# lan_counter rx|tx bytes|packets: the LAN host's eth0 counter.
lan_counter() {
  sim_lan cat /proc/net/dev | awk -v w="$1_$2" '
    $1 == "eth0:" { if (w == "rx_bytes") print $2; if (w == "rx_packets") print $3;
                    if (w == "tx_bytes") print $10; if (w == "tx_packets") print $11 }'
}
# ip_bytes rx|tx: IP bytes through the LAN host's eth0 (frames less their
# 14-byte Ethernet headers).
ip_bytes() { echo $(($(lan_counter "$1" bytes) - 14 * $(lan_counter "$1" packets))); }

# within_2pct A B: A is within 2 % of B.
within_2pct() { [ $((($1 - $2) * 100)) -le $((2 * $2)) ] && [ $((($2 - $1) * 100)) -le $((2 * $2)) ]; }

# bg COMMAND...: runs a program (not a function: its pid is the program's)
# in the background; stopped at the end.
bg() {
  "$@" >/dev/null 2>&1 &
  BG_PIDS+=($!)
}
stop_bg() {
  local p
  for p in "${BG_PIDS[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${BG_PIDS[@]}"; do wait "$p" 2>/dev/null; done
  BG_PIDS=()
}

# Limits the rate out of a host's eth0 (ISP: downloads, LAN: uploads), so a
# transfer lasts a few seconds and its rate can be watched.
slow_isp() { sim_isp tc qdisc replace dev eth0 root tbf rate "$1" burst 64kb latency 400ms; }
slow_lan() { sim_lan tc qdisc replace dev eth0 root tbf rate "$1" burst 64kb latency 400ms; }

download() { sim_lan timeout 60 busybox wget -q -O /dev/null "http://$SIM_ISP_ADDR/$1"; }

# The router up with its WAN, the LAN host leased and known to the traffic
# monitor with its MAC address. The ARP table is read every 64th cycle, so a
# host the router had not yet heard of at trafmon's first cycle shows its MAC
# only after the next reading.
start_monitored() {
  start_sim
  wait_wan
  wait_lease
  LAN_IP=$(sim_lease_value ip)
  sim_lan busybox ping -c 1 -W 5 192.168.0.1 >/dev/null || fail "the LAN host cannot ping the router"
  wait_until 30 "the host table" eval 'stat_json | grep -q "\"hosts\":\["'
  sim_lan busybox ping -c 1 -W 5 "$SIM_ISP_ADDR" >/dev/null || fail "the LAN host cannot ping the ISP host"
  wait_until 80 "the LAN host with its MAC" eval '[ "$(host_record "$LAN_IP" | grep -o "\"mac\":\"[^\"]*\"")" = "\"mac\":\"$SIM_LAN_MAC\"" ]'
  dd if=/dev/zero of="$SIM_TMP/isp/www/big" bs=1M count=5 status=none
  mkdir -p "$SIM_TMP/isp/www/cgi-bin"
  printf '#!/bin/sh\ncat >/dev/null\nprintf "Content-Type: text/plain\\r\\n\\r\\nok\\n"\n' >"$SIM_TMP/isp/www/cgi-bin/sink"
  chmod +x "$SIM_TMP/isp/www/cgi-bin/sink"
}

# watch_start COMMAND...: in the background, every 0.2 s, keeps the highest
# number COMMAND prints. watch_stop ends that watch, waiting for its current
# round (so no routerstat is left running in the router), and sets WATCH_MAX.
WATCH_N=0
watch_start() {
  WATCH_N=$((WATCH_N + 1))
  local stop=$SIM_TMP/watch$WATCH_N.stop out=$SIM_TMP/watch$WATCH_N.max
  echo 0 >"$out"
  (
    max=0
    until [ -e "$stop" ] || [ ! -d "$SIM_TMP" ]; do
      v=$("$@")
      [ -n "$v" ] && [ "$v" -gt "$max" ] && max=$v && echo "$max" >"$out"
      sleep 0.2
    done
  ) &
  WATCHER=$!
}
watch_stop() {
  touch "$SIM_TMP/watch$WATCH_N.stop"
  wait "$WATCHER"
  WATCH_MAX=$(cat "$SIM_TMP/watch$WATCH_N.max")
}
wan_both() { echo $(($(sys_field wan_down) + $(sys_field wan_up))); }

# check_transfer rx|tx COUNTER RATE COMMAND...: runs the transfer COMMAND
# from the LAN host; the host's COUNTER must grow by the IP bytes that
# crossed its eth0 in that direction (within 2 %) within 3 s of the end, and
# RATE must have been above 0 while it ran.
check_transfer() {
  local dir=$1 counter=$2 rate=$3
  shift 3
  local before start crossed max
  before=$(host_field "$LAN_IP" "$counter")
  start=$(ip_bytes "$dir")
  watch_start host_field "$LAN_IP" "$rate"
  "$@" || fail "the transfer failed: $*"
  crossed=$(($(ip_bytes "$dir") - start))
  [ "$crossed" -ge "$TRANSFER" ] || fail "only $crossed bytes crossed the LAN host's eth0 ($dir)"
  wait_until 3 "$counter within 2 % of $crossed" \
    eval 'within_2pct $(($(host_field "$LAN_IP" "$counter") - before)) $crossed'
  watch_stop
  max=$WATCH_MAX
  [ "$max" -gt 0 ] || fail "no $rate seen while the transfer ran"
  echo "$counter: $crossed IP bytes crossed, $(($(host_field "$LAN_IP" "$counter") - before)) counted; highest $rate $max B/s"
}

# 1. A 5 MB download: received bytes within 2 % of what crossed, a download
#    rate while it ran, the LAN host's MAC.
case_traffic_download() {
  start_monitored
  slow_isp 16mbit
  check_transfer rx bytes_recv down_rate download big
  expect_journal "iptables -t filter -F account"
  expect_journal "iptables -t filter -A account -j ACCOUNT --addr 192.168.0.0/24 --tname input_table"
  host_record "$LAN_IP" | grep -qF "\"mac\":\"$SIM_LAN_MAC\"" || fail "MAC: $(host_record "$LAN_IP")"
}

# 2. A 5 MB upload: sent bytes within 2 %; a held TCP connection counts.
case_traffic_upload_and_connections() {
  start_monitored
  slow_lan 16mbit
  # busybox wget sends the file as a C string: no zero bytes in it.
  yes 0123456789abcdef | head -c "$TRANSFER" >"$SIM_TMP/lan/upload"
  check_transfer tx bytes_sent up_rate sim_lan timeout 60 busybox wget -q -O /dev/null \
    --post-file "$SIM_TMP/lan/upload" "http://$SIM_ISP_ADDR/cgi-bin/sink"

  # A TCP connection held open from the LAN host to the ISP host.
  bg nsenter --net="/run/netns/$SIM_ID-isp" timeout 30 busybox nc -l -p 5002
  sleep 0.5
  bg nsenter --net="/run/netns/$SIM_ID-lan" timeout 30 sh -c "sleep 25 | busybox nc $SIM_ISP_ADDR 5002"
  wait_until 10 "a connection count of at least 1" eval '[ "$(host_field "$LAN_IP" conns)" -ge 1 ]'
  sim_rnet grep -q "src=$LAN_IP dst=$SIM_ISP_ADDR .*dport=5002 " /proc/net/nf_conntrack ||
    fail "the held connection is not tracked"
  stop_bg
}

# 3. Segment 206: the WAN download rate follows a transfer; CPU and memory
#    in 0..100; after "sendmsg 201 3" the WAN rates are 0.
case_traffic_system_figures() {
  start_monitored
  slow_isp 8mbit
  watch_start sys_field wan_down
  download big || fail "the download failed"
  watch_stop
  local max=$WATCH_MAX
  # 8 Mbit/s is 1,000,000 bytes a second; a late cycle may cover more than a second.
  [ "$max" -ge 300000 ] && [ "$max" -le 3000000 ] || fail "WAN download rate during the transfer: highest $max B/s"
  wait_until 5 "the WAN rate to fall back after the transfer" eval '[ "$(sys_field wan_down)" -lt 20000 ]'
  local cpu mem
  cpu=$(sys_field cpu)
  mem=$(sys_field mem)
  [ -n "$cpu" ] && [ "$cpu" -ge 0 ] && [ "$cpu" -le 100 ] || fail "CPU percent [$cpu]"
  [ -n "$mem" ] && [ "$mem" -ge 0 ] && [ "$mem" -le 100 ] || fail "memory percent [$mem]"

  sim_router sendmsg 201 3 || fail "sendmsg 201 3"
  wait_until 10 "trafmon to take command 3" eval 'sim_router "$SIM_BUILD/tests/msgpeek" --stat 201 | grep -q " qnum=0$"'
  watch_start wan_both
  download big || fail "the download after command 3 failed"
  watch_stop
  expect_eq "$WATCH_MAX" 0 "highest WAN rate (down + up) seen after command 3"
}

# The id of the router's segment KEY; the id of the segment named KEYHEX
# (SYSV000000c9 for 201) that process PID has attached.
segment_id() { sim_router cat /proc/sysvipc/shm | awk -v k="$1" '$1 == k {print $2}'; }
attached_id() { sim_router cat "/proc/$1/maps" 2>/dev/null | awk -v n="SYSV$2" 'index($0, n) {print $5; exit}'; }
trafmon_pid() { sim_router pgrep -x trafmon; }

# 4. trafmon killed with SIGKILL: fwmgr's watchdog starts it again within
#    its 8-second round (then "sendmsg 201 2" 50 ms later, the WAN being
#    up), the new instance attaches to the same segments, and the figures are live again
#    soon after. Its start-up waits 5 s before it attaches and 1 s more
#    before its first cycle, so the times count from the attach: the host
#    table moves within 3 s of it, and the rates, which take two cycles, are
#    live within 3 s of the table's first move.
case_traffic_monitor_restart() {
  start_monitored
  slow_isp 4mbit
  dd if=/dev/zero of="$SIM_TMP/isp/www/long" bs=1M count=12 status=none # about 25 s
  local hosts sys old
  hosts=$(segment_id 201)
  sys=$(segment_id 206)
  old=$(trafmon_pid)
  [ -n "$old" ] || fail "trafmon is not running"
  expect_eq "$(attached_id "$old" 000000c9)" "$hosts" "segment 201 attached by the first trafmon"
  bg nsenter --net="/run/netns/$SIM_ID-lan" timeout 60 busybox wget -q -O /dev/null "http://$SIM_ISP_ADDR/long"
  wait_until 5 "a download rate" eval '[ "$(host_field "$LAN_IP" down_rate)" -gt 0 ]'

  sim_router kill -KILL "$old" || fail "kill -KILL trafmon"
  wait_until 5 "trafmon to end" eval '[ -z "$(trafmon_pid)" ]'
  local frozen
  frozen=$(host_field "$LAN_IP" bytes_recv)
  sleep 1.2
  expect_eq "$(host_field "$LAN_IP" bytes_recv)" "$frozen" "host table while no monitor runs"
  # fwmgr's watchdog (every 8th pass) starts a new one and, the WAN being
  # up, tells it so 50 ms later.
  local new= told
  told=$(journal_count "sendmsg 201 2")
  wait_until 12 "fwmgr's watchdog to restart trafmon" eval 'new=$(trafmon_pid); [ -n "$new" ]'
  wait_until 5 "the new trafmon to be told that the WAN is up" \
    eval '[ "$(journal_count "sendmsg 201 2")" -gt "$told" ]'
  grep -qxF "trafmon down, restart" "$SIM_TMP/router/fwmgr.log" || fail "fwmgr did not report the restart"
  new=$(trafmon_pid)
  wait_until 15 "the new trafmon to attach segment 201" eval '[ -n "$(attached_id "$new" 000000c9)" ]'
  expect_eq "$(attached_id "$new" 000000c9)" "$hosts" "segment 201 attached by the new trafmon"
  expect_eq "$(attached_id "$new" 000000ce)" "$sys" "segment 206 attached by the new trafmon"
  expect_eq "$(segment_id 201)" "$hosts" "segment 201 id after the restart"
  wait_until 3 "the host table to move again" eval '[ "$(host_field "$LAN_IP" bytes_recv)" -gt "$frozen" ]'
  wait_until 3 "a download rate again" eval '[ "$(host_field "$LAN_IP" down_rate)" -gt 0 ]'
  wait_until 3 "a WAN download rate again" eval '[ "$(sys_field wan_down)" -gt 0 ]'
  expect_eq "$(sim_router pgrep -c -x trafmon)" 1 "trafmon processes"
  stop_bg
}

run_case "$CASE"
