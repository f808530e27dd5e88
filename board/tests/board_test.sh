#!/bin/bash
# The board tier (ctest label board): the router's shipping mipsel build on
# the emulated board (board/board.sh), one booted board per case.
#
#   bash board/tests/board_test.sh CASE
#
# Builds what is missing first (the board's build directory is build-board
# in the source tree, or BOARD_BUILD_DIR). Needs root; skipped (77) without.
# Waits are guards against hangs (generous: the board is an emulated
# 24Kc on a loaded PC), never speed checks.
set -u
CASE=${1:-}
cd "$(dirname "$0")/../.." || exit 1
if [ "$(id -u)" != 0 ]; then
  echo "board: needs root (apt-get, depmod, mke2fs -d); skipped" >&2
  exit 77
fi
. board/board.sh
BOARD_QUIET=1
FAILS=0
fail() {
  echo "FAIL: $*" >&2
  FAILS=$((FAILS + 1))
}
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected [$2], got [$1]"; }
in_board() { board_exec --timeout 30 "$@"; }
finish() {
  trap - EXIT
  if [ $FAILS -gt 0 ] && [ -n "${BOARD_TMP:-}" ]; then
    echo "--- the lab's log, netmgr's output, the refused lines" >&2
    in_board 'cat /board/log/lab.log; tail -n 30 /var/log/netmgr.log; cat /board/refused' >&2
    echo "--- console" >&2
    tail -n 20 "$BOARD_TMP/console.log" >&2
  fi
  local qemu=${BOARD_QEMU:-} tmp=${BOARD_TMP:-}
  board_down
  [ -z "$qemu" ] || ! kill -0 "$qemu" 2>/dev/null || fail "left behind: qemu (pid $qemu)"
  [ -z "$tmp" ] || [ ! -e "$tmp" ] || fail "left behind: $tmp"
  [ $FAILS = 0 ] || { echo "$CASE: $FAILS failed" >&2; exit 1; }
  echo "$CASE: passed"
  exit 0
}

# start_board [FILE|KEY=VALUE]...: builds, boots and waits for the channel.
start_board() {
  local build=${BOARD_BUILD_DIR:-build-board}
  mkdir -p "$build"
  board_build "$build" >"$build/board-build.log" 2>&1 ||
    { tail -n 20 "$build/board-build.log" >&2; fail "the board's build failed"; finish; }
  trap finish EXIT
  board_up "$build" "$@" || { fail "the board did not start"; finish; }
  board_wait_ready 120 || { fail "no answer on the board's channel within 120 s"; finish; }
}

# The DHCP WAN over the real 802.1Q switch: the VLAN devices netmgr's
# vconfig lines made, the lease the ISP's udhcpd gave eth2.2, masquerading,
# the LAN host's lease and its traffic reaching the ISP as the WAN address.
case_dhcp_wan_vlans() {
  start_board
  board_wait_wan 180 || fail "no masquerade rule within 180 s"
  board_wait_lease 120 || fail "the LAN host got no lease within 120 s"
  expect_eq "$(in_board grep '^eth2.1 ' /proc/net/vlan/config)" "eth2.1         | 1  | eth2" "VLAN 1"
  expect_eq "$(in_board grep '^eth2.2 ' /proc/net/vlan/config)" "eth2.2         | 2  | eth2" "VLAN 2"
  expect_eq "$(in_board 'ip -d -o link show eth2.1 | grep -o "vlan protocol 802.1Q id 1"')" \
    "vlan protocol 802.1Q id 1" "eth2.1 is an 802.1Q device"
  expect_eq "$(in_board 'ip -o link show eth2.1 | grep -o "master br0"')" "master br0" "eth2.1 in br0"
  expect_eq "$(in_board ip route show default)" "default via 10.250.0.1 dev eth2.2 " "default route"
  expect_eq "$(in_board 'iptables -w -t nat -S POSTROUTING | grep MASQUERADE')" \
    "-A POSTROUTING -o eth2.2 -j MASQUERADE" "masquerading"
  expect_eq "$(in_board sed -n 's/^router=//p' /board/lan/lease)" "192.168.0.1" "LAN host's gateway"
  local wan who
  wan=$(in_board "ip -4 -o addr show dev eth2.2 | awk '{print \$4}'")
  case $wan in
    10.250.0.1[0-9][0-9]/24) ;;
    *) fail "WAN address: expected one of the ISP's pool 10.250.0.100-199/24, got [$wan]" ;;
  esac
  who=$(in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O - http://$BOARD_ISP_FAR/cgi-bin/whoami')
  expect_eq "$who" "${wan%/*}" "the ISP host sees the LAN host as"
  expect_eq "$(in_board 'od -An -tx1 -N20 /bin/netmgr | tr -d " \n"')" \
    "7f454c4601010100010000000000000002000800" "netmgr is a 32-bit little-endian MIPS ELF"
  finish
}

# The static WAN of the defaults (type 1): eth2.2's address and the route
# through the ISP, the LAN host reaching the ISP as that address.
case_static_wan() {
  start_board wan_connecttype=1
  board_wait_wan 180 || fail "no masquerade rule within 180 s"
  board_wait_lease 120 || fail "the LAN host got no lease within 120 s"
  expect_eq "$(in_board "ip -4 -o addr show dev eth2.2 | awk '{print \$4}'")" "10.250.0.20/24" "WAN address"
  expect_eq "$(in_board ip route show default)" "default via 10.250.0.1 dev eth2.2 " "default route"
  local who
  who=$(in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O - http://$BOARD_ISP_FAR/cgi-bin/whoami')
  expect_eq "$who" "10.250.0.20" "the ISP host sees the LAN host as"
  finish
}

# QoS for two LAN addresses on the board's real HTB, sfq and fw
# classifier: fwmgr's tc lines make the roots, classes, leaves and filters
# (the classes' parent 1:1 exists nowhere, so the kernel makes them root
# classes; "kbps" is kilobytes a second to tc; the fw handle 100101 is
# read as a decimal number).
case_qos() {
  start_board otherenable=1 qos_enable=1 qos_num=1 "qoslist0=192.168.0.100-192.168.0.101;0-64;0-256;0;1"
  board_wait_wan 180 || fail "no masquerade rule within 180 s"
  board_poll 90 in_board 'grep -q "^tc filter add dev eth2.2 parent 1:0 protocol ip handle 100101" /board/journal' ||
    fail "fwmgr ran no QoS filter line within 90 s"
  expect_eq "$(in_board 'tc qdisc show dev eth2.2 | grep -o "qdisc htb 1: root"')" "qdisc htb 1: root" "HTB root on eth2.2"
  expect_eq "$(in_board 'tc qdisc show dev br0 | grep -o "qdisc htb 1: root"')" "qdisc htb 1: root" "HTB root on br0"
  expect_eq "$(in_board 'tc class show dev eth2.2 classid 1:1101')" \
    "class htb 1:1101 root leaf 1101: prio 0 rate 512Kbit ceil 512Kbit burst 1600b cburst 1600b " "upload class"
  expect_eq "$(in_board 'tc class show dev br0 classid 1:1101')" \
    "class htb 1:1101 root leaf 1101: prio 0 rate 2048Kbit ceil 2048Kbit burst 1599b cburst 1599b " "download class"
  expect_eq "$(in_board 'tc qdisc show dev eth2.2 parent 1:1101')" \
    "qdisc sfq 1101: parent 1:1101 limit 127p quantum 1514b depth 127 divisor 1024 perturb 10sec " "sfq leaf"
  expect_eq "$(in_board 'tc filter show dev eth2.2 | grep "classid 1:1101"')" \
    "filter parent 1: protocol ip pref 49151 fw chain 0 handle 0x18705 classid 1:1101 " "fw filter"
  finish
}

# PPPoE with the real pppd and the ISP's real pppoe-server (PAP with the
# store's account), with a service and concentrator name set (see
# docs/board.md for the empty ones): ppp0 with the ISP's addresses, the
# default route and masquerading on it, the LAN host reaching the ISP as
# the PPP address; commands 7 and 8 take the link down and up again.
case_pppoe() {
  start_board wan_connecttype=3 ppoe_sev=isp ppoe_ac=isp-ac
  board_wait_wan 180 || fail "no masquerade rule within 180 s"
  board_wait_lease 120 || fail "the LAN host got no lease within 120 s"
  expect_eq "$(in_board "ip -4 -o addr show dev ppp0 | awk '{print \$4, \$5, \$6}'")" \
    "10.64.0.2 peer 10.64.0.1/32" "ppp0's addresses"
  expect_eq "$(in_board ip route show default)" "default dev ppp0 scope link " "default route"
  expect_eq "$(in_board 'iptables -w -t nat -S POSTROUTING | grep MASQUERADE')" \
    "-A POSTROUTING -o ppp0 -j MASQUERADE" "masquerading"
  local who
  who=$(in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O - http://$BOARD_ISP_FAR/cgi-bin/whoami')
  expect_eq "$who" "10.64.0.2" "the ISP host sees the LAN host as"
  # Command 7 hangs up (pppd ends, ppp0 goes), command 8 dials again: the
  # ISP's pppoe-server gives the new session its next address.
  in_board sendmsg 204 7 >/dev/null
  board_poll 60 in_board '! ip link show ppp0' || fail "ppp0 still there 60 s after command 7"
  in_board sendmsg 204 8 >/dev/null
  board_poll 90 in_board 'ip -4 -o addr show dev ppp0 | grep -q " peer 10.64.0.1/32"' ||
    fail "no PPP session 90 s after command 8"
  who=$(in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O - http://$BOARD_ISP_FAR/cgi-bin/whoami')
  expect_eq "$who" "$(in_board "ip -4 -o addr show dev ppp0 | awk '{print \$4}'")" \
    "after commands 7 and 8 the ISP host sees the LAN host as the new PPP address"
  finish
}

# ppp_case LOG AUTH USER SETTING...: the ISP's pppd (/board/isp/LOG) agreed on
# AUTH and granted USER; the LAN host reaches the ISP through ppp0 as
# 10.64.0.2 (the far address is routed only there); the ISP's DNS answers.
ppp_case() {
  local log=/board/isp/$1 auth=$2 user=$3 && shift 3
  start_board "$@"
  board_wait_wan 240 || fail "no masquerade rule within 240 s"
  board_wait_lease 120 || fail "the LAN host got no lease within 120 s"
  in_board "grep -q 'rcvd \[LCP ConfAck .*<$auth>' $log && grep -q 'name = \"$user\"\]' $log &&
    grep -q 'sent \[CHAP Success' $log" || fail "no [$auth] success for $user in $log"
  expect_eq "$(in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O - http://$BOARD_ISP_FAR/cgi-bin/whoami')" \
    "10.64.0.2" "the ISP host sees the LAN host as"
  expect_eq "$(in_board "timeout 10 nslookup www.isp.test | sed -n 's/^Address: //p'")" "10.250.1.1" "the ISP's DNS"
}
case_pptp() { ppp_case pptpd-ppp.log "auth chap MS-v2" vpnuser wan_connecttype=5; finish; }
case_l2tp() { ppp_case pppd-lns.log "auth chap MD5" vpnuser wan_connecttype=6; finish; }
case_pppoe_chap_mss() {
  ppp_case pppd-chap.log "auth chap MD5" pppuser wan_connecttype=3 ppoe_sev=isp-chap ppoe_mtu=1400
  board_poll 60 in_board 'iptables -w -t mangle -S FORWARD | grep -q "SYN,ACK SYN,ACK -j TCPMSS --set-mss 1360"' ||
    fail "no MSS clamp within 60 s"
  in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O /dev/null http://$BOARD_ISP_FAR/'
  in_board "dmesg | grep -q 'isp-syn .* SRC=10.64.0.2 DST=10.250.1.1 .* DPT=80 .* SYN .*OPT (02040550'" || fail "no SYN with MSS 1360 (02 04 0550)"
  finish
}

type "case_$CASE" >/dev/null 2>&1 || { echo "board: no case $CASE" >&2; exit 2; }
"case_$CASE"
