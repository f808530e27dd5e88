#!/bin/bash
# arpguard in the router simulation (ctest label sim): started after netmgr
# as on the board, it announces br0's address to the LAN host, which
# captures the frames with a packet socket (sim_arpcap).
#
#   bash sim/tests/arpguard_test.sh BUILD_DIR CASE
. "$(dirname "$0")/lib.sh"

# br0 takes eth2.1's MAC, the flash base address 02:52:54:00:00:01; its
# address is the default lan_ip 192.168.0.1 (c0a80001).
MAC=025254000001
FRAME=ffffffffffff${MAC}08060001080006040001${MAC}c0a80001${MAC}c0a80001$(printf '0%.0s' $(seq 1 44))

capture() { sim_lan "$SIM_BUILD/bin/sim_arpcap" eth0 "$1" "$2" "ffffffffffff$MAC" 2>/dev/null; }
queue_207_empty() { [ "$(sim_router ipcs -q | awk '$1 == "0x000000cf" {print $6}')" = 0 ]; }

case_arpguard_announces_to_the_lan() {
  start_sim arp_defence=1,1,1,2
  wait_lease
  # A LAN host whose ARP cache was pointed elsewhere.
  sim_lan ip neigh replace 192.168.0.1 lladdr 02:66:66:66:66:66 dev eth0 nud stale || fail "ip neigh"
  capture 40 4 >"$SIM_TMP/frames"
  # The frames' bytes and spacing are checked on br0 by the process tier;
  # here they cross the LAN to a host.
  expect_eq "$(wc -l <"$SIM_TMP/frames")" 4 "announcements captured by the LAN host"
  expect_eq "$(cut -d' ' -f2 "$SIM_TMP/frames" | sort -u)" "$FRAME" "announcement bytes"
  # The announcements put the router's MAC back into the LAN host's cache.
  sim_lan ip neigh show 192.168.0.1 | grep -qi "lladdr 02:52:54:00:00:01" ||
    fail "LAN host's neighbour entry: $(sim_lan ip neigh show 192.168.0.1)"

  # Turned off by the setting and command 1: nothing more arrives.
  sim_router nvram set arp_defence=1,1,0,2 || fail "nvram set"
  sim_router sendmsg 207 1 || fail "sendmsg 207 1"
  wait_until 10 "arpguard to take command 1" queue_207_empty
  sleep 0.2
  expect_eq "$(capture 6 | wc -l)" 0 "announcements after turning them off"
}

run_case "$CASE"
