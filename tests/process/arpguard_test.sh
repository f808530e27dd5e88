#!/bin/bash
# The real arpguard in the sandbox's own network namespace: br0 is a bridge
# with one veth port, and the test listens on the far end of the pair with a
# packet socket (sim_arpcap) for the announcements.
. "$(dirname "$0")/lib.sh"

MAC=020000000701  # br0's MAC and address 192.168.7.1 (c0a80701)
FRAME=ffffffffffff${MAC}08060001080006040001${MAC}c0a80701${MAC}c0a80701$(printf '0%.0s' $(seq 1 44))

setup_lan() {
  make_br0 192.168.7.1/24 02:00:00:00:07:01
  make_lan_port
}


# capture SECONDS COUNT: the announcements from br0 that arrive on host0.
capture() { sim_arpcap host0 "$1" "$2" "ffffffffffff$MAC" 2>/dev/null; }

queue_empty() { [ "$(ipcs -q | awk '$1 == "0x000000cf" {print $6}')" = 0 ]; }

case_announces_on_br0() {
  setup_lan
  nvram set arp_defence=1,1,1,2 || fail "nvram set"
  start_daemon arpguard /tmp/arpguard.out
  # The first after the 5-second start wait, then one every 2 passes.
  capture 40 3 >/tmp/frames
  expect_eq "$(wc -l </tmp/frames)" 3 "announcements captured"
  local t frame prev=
  while read -r t frame; do
    expect_eq "$frame" "$FRAME" "announcement bytes"
    if [ -n "$prev" ] && [ $((t - prev)) -lt 1500 ]; then
      fail "announcements $((t - prev)) ms apart, expected one every 2 s"
    fi
    prev=$t
  done </tmp/frames
  kill "$PID_arpguard"
  expect_file /tmp/arpguard.out ''
}

case_command_one_turns_announcements_off() {
  setup_lan
  nvram set arp_defence=1,1,1,1 || fail "nvram set"
  start_daemon arpguard /tmp/arpguard.out
  expect_eq "$(capture 40 1 | wc -l)" 1 "announcement before the change"
  nvram set arp_defence=1,1,0,1 || fail "nvram set"
  sendmsg 207 1 || fail "sendmsg"
  wait_for 10 queue_empty
  sleep 0.2
  expect_eq "$(capture 4 | wc -l)" 0 "announcements after command 1"
  # Refused values keep the setting; turned on again, it announces.
  nvram set arp_defence=1,1 || fail "nvram set"
  sendmsg 207 1 || fail "sendmsg"
  wait_for 10 grep -qxF 'arpguard: arp_defence "1,1" has fewer than four fields; settings kept' /tmp/arpguard.out ||
    fail "refused value not reported: $(cat /tmp/arpguard.out)"
  nvram set arp_defence=1,1,1,1 || fail "nvram set"
  sendmsg 207 1 || fail "sendmsg"
  expect_eq "$(capture 20 1 | wc -l)" 1 "announcement after switching on again"
  kill "$PID_arpguard"
}

# The receive memory (Rmem of /proc/net/packet) of arpguard's packet socket,
# the one SOCK_PACKET (type 10) socket of the sandbox's network.
arpguard_rmem() { awk 'NR > 1 && $3 == 10 {print $7}' /proc/net/packet; }
rmem_is() { [ "$(arpguard_rmem)" = "$1" ]; }

# arpguard never reads its socket: the ARP frames arriving on the LAN
# (here the kernel's requests for absent hosts, out of br0 and in on host0)
# must not pile up in its receive queue.
case_received_frames_are_not_kept() {
  setup_lan
  nvram set arp_defence=1,1,0,1 || fail "nvram set"
  start_daemon arpguard /tmp/arpguard.out
  wait_for 30 rmem_is 0
  sim_arpcap host0 20 6 "ffffffffffff$MAC" >/tmp/frames 2>/tmp/capture.err &
  local cap=$! a
  wait_for 10 grep -q listening /tmp/capture.err
  for a in 11 12 13; do echo >/dev/udp/192.168.7.$a/9; done 2>/dev/null
  wait "$cap"
  expect_eq "$(wc -l </tmp/frames)" 6 "ARP requests that reached the LAN side"
  # Read again and again: the queue stays empty.
  for a in $(seq 1 20); do rmem_is 0 || break; sleep 0.05; done
  expect_eq "$(arpguard_rmem)" 0 "arpguard's receive memory"
  kill "$PID_arpguard"
  expect_file /tmp/arpguard.out ''
}

run_case "$@"
