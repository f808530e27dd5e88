#!/bin/bash
# The board tier (ctest label board): the router's shipping mipsel build on
# the emulated board (board/board.sh), one board per group serving its cases.
#
#   bash board/tests/board_test.sh --build | GROUP | CASE...
#
# Builds what is missing first (the board's build directory is build-board
# in the source tree, or BOARD_BUILD_DIR). Needs root; skipped (77) without.
# Waits are guards against hangs (generous: the board is an emulated
# 24Kc on a loaded PC), never speed checks.
set -u
cd "$(dirname "$0")/../.." || exit 1
if [ "$(id -u)" != 0 ]; then
  echo "board: needs root (apt-get, depmod, mke2fs -d); skipped" >&2
  exit 77
fi
. board/board.sh
BOARD_QUIET=1
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected [$2], got [$1]"; }
in_board() { board_exec --timeout 30 "$@"; }

# The DHCP WAN over the real 802.1Q switch: the VLAN devices netmgr's
# vconfig lines made, the lease the ISP's udhcpd gave eth2.2, masquerading,
# the LAN host's lease and its traffic reaching the ISP as the WAN address.
case_dhcp_wan_vlans() {
  board_wait_wan_lease
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
}

# The static WAN of the defaults (type 1): eth2.2's address and the route
# through the ISP, the LAN host reaching the ISP as that address.
case_static_wan() {
  board_wait_wan_lease
  expect_eq "$(in_board "ip -4 -o addr show dev eth2.2 | awk '{print \$4}'")" "10.250.0.20/24" "WAN address"
  expect_eq "$(in_board ip route show default)" "default via 10.250.0.1 dev eth2.2 " "default route"
  local who
  who=$(in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O - http://$BOARD_ISP_FAR/cgi-bin/whoami')
  expect_eq "$who" "10.250.0.20" "the ISP host sees the LAN host as"
}

# QoS for two LAN addresses on the board's real HTB, sfq and fw
# classifier: fwmgr's tc lines make the roots, classes, leaves and filters
# (the classes' parent 1:1 exists nowhere, so the kernel makes them root
# classes; "kbps" is kilobytes a second to tc; the fw handle 100101 is
# read as a decimal number); set and taken back at run time, with the LAN
# host's (.195) download held near 256 kB/s by the stood-in MARK rules.
case_qos() {
  board_wait_wan_lease
  expect_eq "$(board_lease_value ip)" 192.168.0.195 "the LAN host's address"
  in_board "nvram set otherenable=1 qos_enable=1 qos_num=2 'qoslist0=192.168.0.100-192.168.0.101;0-64;0-256;0;1' \
    'qoslist1=192.168.0.195-192.168.0.195;0-64;0-256;0;1'; sendmsg 203 12"
  board_poll 90 in_board 'grep -q "^tc filter add dev eth2.2 parent 1:0 protocol ip handle 100101" /board/journal' ||
    abort "fwmgr ran no QoS filter line within 90 s"
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
}

# The whole router's start-up: every program runs once, no zombie anywhere.
case_startup_no_zombies() {
  board_wait_wan_lease
  board_poll 90 in_board '/etc/init.d/router status | awk "NF != 2 || \$2 == \"stopped\" {exit 1}"' ||
    fail "after 90 s: $(in_board /etc/init.d/router status | tr -s ' \n' ' ')"
  local z='grep -l "^State:.*Z" /proc/[0-9]*/status 2>/dev/null | while read -r f; do echo "$f: $(grep PPid "$f")"; done'
  board_poll 60 in_board "[ -z \"\$($z)\" ]" || fail "zombies: $(in_board "$z" | tr '\n' ' ')"
}

# WAN port 8080 forwarded to the LAN host's port 80 and back, from the ISP host.
case_port_forward() {
  board_wait_wan_lease
  local wan url
  wan=$(board_wan_addr)
  url=http://${wan%/*}:8080/
  in_board 'mkdir -p /board/lan/www; echo LAN host >/board/lan/www/index.html
    nsenter --net=/run/netns/lan busybox httpd -f -p 80 -h /board/lan/www >/dev/null 2>&1 & echo $! >/board/lan/httpd.pid'
  expect_eq "$(board_isp_get "$url")" "" "port 8080 before the forward"
  in_board "nvram set 'virtualser_list=1;8080;80;0;$(board_lease_value ip);1'; sendmsg 203 4"
  board_poll 30 eval '[ "$(board_isp_get "$url")" = "LAN host" ]' || fail "no LAN host page at $url within 30 s"
  in_board "nvram set virtualser_list=; sendmsg 203 4"
  board_poll 30 eval '[ -z "$(board_isp_get "$url")" ]' || fail "$url answers 30 s after the forward went"
  in_board 'kill $(cat /board/lan/httpd.pid)'
}

# A 4 MB download at 4 Mbit/s: trafmon's records are whole meanwhile (40-64K
# a packet: GRO merges them) and end within 2 % of the LAN host's IP bytes.
case_trafmon_traffic() {
  board_wait_wan_lease
  local lan rx0 by0 p b pb=0 bb=0 n=0 moved got
  lan=$(board_lease_value ip)
  board_lan_get "" 10 >/dev/null
  board_poll 60 eval '[ -n "$(board_trafmon_rx "$lan")" ]' || abort "$lan not in trafmon's host table within 60 s"
  in_board "head -c 4194304 /dev/zero >/board/isp/www/blob; tc -n isp qdisc add dev eth0 root tbf rate 4mbit burst 64kb latency 400ms"
  rx0=$(board_lan_rx) by0=$(board_trafmon_rx "$lan" | cut -d' ' -f2)
  in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 120 busybox wget -q -O /dev/null \
    http://$BOARD_ISP_ADDR/blob >/dev/null 2>&1 & echo $! >/board/lan/wget.pid'
  while in_board 'kill -0 $(cat /board/lan/wget.pid) 2>/dev/null' && [ $n -lt 300 ]; do
    n=$((n + 1))
    read -r p b <<<"$(board_trafmon_rx "$lan")"
    [ -n "$b" ] || continue
    [ $((40 * p)) -le "$b" ] && [ "$b" -le $((65535 * p)) ] && [ "$p" -ge $pb ] && [ "$b" -ge $bb ] ||
      fail "trafmon's record went from $pb packets, $bb bytes to $p, $b"
    pb=$p bb=$b
  done
  in_board "rm /board/isp/www/blob; tc -n isp qdisc del dev eth0 root"
  moved=$(($(board_lan_rx) - rx0)) got=0
  board_poll 30 eval 'got=$(($(board_trafmon_rx "$lan" | cut -d" " -f2) - by0)); [ $((got * 100)) -ge $((moved * 98)) ]'
  [ "$moved" -ge 4194304 ] && [ $((got * 100)) -ge $((moved * 98)) ] && [ $((got * 100)) -le $((moved * 102)) ] ||
    fail "trafmon counted $got bytes, the LAN host received $moved ($n samples)"
}

# DHCP+ (type 4): the login accepted, udhcpc again with the plain script.
case_dhcpplus_login() {
  board_wait_wan_lease
  in_board grep -q "'step=password .* pwd=ok .*answer=sent'" /board/isp/dhcpplus.log || fail "no accepted login"
  expect_eq "$(in_board grep -c "'^udhcpc -i eth2.2 -s /etc/udhcpc.script'" /board/journal)" 2 "udhcpc starts"
  in_board grep -qxF "'        sendmsg 204 2 &'" /etc/udhcpc.script || fail "the script is not the plain one"
  expect_eq "$(board_whoami)/24" "$(board_wan_addr)" "the ISP host sees the LAN host as"
}

# PPPoE with the real pppd and the ISP's real pppoe-server (PAP with the
# store's account), with a service and concentrator name set (see
# docs/board.md for the empty ones): ppp0 with the ISP's addresses, the
# default route and masquerading on it, the LAN host reaching the ISP as
# the PPP address; commands 7 and 8 take the link down and up again.
case_pppoe() {
  board_wait_wan_lease
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
}

# ppp_case LOG AUTH USER: the ISP's pppd (/board/isp/LOG) agreed on AUTH
# and granted USER; the LAN host reaches the ISP through ppp0 as 10.64.0.2
# (the far address is routed only there); the ISP's DNS answers.
ppp_case() {
  local log=/board/isp/$1 auth=$2 user=$3
  board_wait_wan_lease
  in_board "grep -q 'rcvd \[LCP ConfAck .*<$auth>' $log && grep -q 'name = \"$user\"\]' $log &&
    grep -q 'sent \[CHAP Success' $log" || fail "no [$auth] success for $user in $log"
  expect_eq "$(in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O - http://$BOARD_ISP_FAR/cgi-bin/whoami')" \
    "10.64.0.2" "the ISP host sees the LAN host as"
  expect_eq "$(in_board "timeout 10 nslookup www.isp.test | sed -n 's/^Address: //p'")" "10.250.1.1" "the ISP's DNS"
}
case_pptp() { ppp_case pptpd-ppp.log "auth chap MS-v2" vpnuser; }
case_l2tp() { ppp_case pppd-lns.log "auth chap MD5" vpnuser; }
# PPPoE with CHAP and an MTU of 1400: the LAN host's SYN reaches the ISP
# host with the MSS clamped to 1360 (02 04 05 50 in the logged options).
case_pppoe_chap_mss() {
  ppp_case pppd-chap.log "auth chap MD5" pppuser
  board_poll 60 in_board 'iptables -w -t mangle -S FORWARD | grep -q "SYN,ACK SYN,ACK -j TCPMSS --set-mss 1360"' ||
    fail "no MSS clamp within 60 s"
  in_board '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O /dev/null http://$BOARD_ISP_FAR/'
  board_poll 30 in_board "dmesg | grep -q 'isp-syn .* SRC=10.64.0.2 DST=10.250.1.1 .* DPT=80 .* SYN .*OPT (02040550'" ||
    fail "no SYN with MSS 1360 (02 04 0550) within 30 s"
}

build=${BOARD_BUILD_DIR:-build-board}
mkdir -p "$build"
board_build "$build" >"$build/board-build.log" 2>&1 || { tail -n 20 "$build/board-build.log" >&2; exit 1; }
[ "${1:---build}" = --build ] || board_run board/tests/groups "$build" "$@"
