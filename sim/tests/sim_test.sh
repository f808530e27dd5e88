#!/bin/bash
# End-to-end tests of netmgr in the router simulation (ctest label sim): the
# real netmgr with real iptables, busybox udhcpc/udhcpd and the stand-ins, a
# LAN host and an ISP host.
#
#   bash sim/tests/sim_test.sh BUILD_DIR CASE
. "$(dirname "$0")/lib.sh"

# WAN type 2: the real udhcpc leases the WAN address from the ISP and runs
# the generated script, which posts command 2; netmgr adds masquerading.
case_dhcp_wan() {
  start_sim
  wait_wan
  wait_lease
  local wan
  wan=$(wan_addr_set eth2.2)
  case $wan in
    10.250.0.1[0-9][0-9]/24) ;; # the lease's prefix length, not the classful /8
    *) fail "WAN address from the ISP pool with the leased /24 expected, got [$wan]" ;;
  esac
  wan=${wan%/*}
  expect_journal "udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid"
  expect_journal "ifconfig eth2.2 0.0.0.0"
  expect_journal "ifconfig eth2.2 $wan netmask 255.255.255.0"
  expect_journal "route add default gw 10.250.0.1 dev eth2.2"
  expect_journal "iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE"
  grep -qF "sending ACK to $wan" "$SIM_TMP/isp/udhcpd.log" || fail "the ISP's udhcpd did not lease $wan"
  expect_eq "$(nat_rules | grep -c -- '-A POSTROUTING -o eth2.2 -j MASQUERADE')" 1 "masquerade rules"
  expect_eq "$(sim_rnet ip route show default)" "default via 10.250.0.1 dev eth2.2 " "router's default route"
  expect_eq "$(router_file /etc/resolv.conf)" "nameserver 10.250.0.1" "router's resolv.conf"
  expect_eq "$(sim_rnet cat /proc/sys/net/ipv4/ip_forward)" 1 "ip forwarding"
  # The LAN host's lease, from the pool of the default configuration.
  case $(sim_lease_value ip) in
    192.168.0.1[0-9][0-9] | 192.168.0.200) ;;
    *) fail "LAN lease outside the pool: $(sim_lease_value ip)" ;;
  esac
  expect_eq "$(sim_lease_value router)" 192.168.0.1 "LAN lease router"
  expect_eq "$(sim_lease_value dns)" 192.168.0.1 "LAN lease DNS"
  expect_eq "$(sim_lease_value lease)" 3600 "LAN lease time"
  expect_reaches_isp_as "$wan"
  wait_until 15 "the LAN host's ping to the ISP host's far address $SIM_ISP_FAR" \
    sim_lan busybox ping -c 1 -W 2 "$SIM_ISP_FAR"
  # The system log as the report shows it, then the traffic monitor's
  # segments, which it creates 5 s after its start.
  wait_until 20 "the traffic monitor's segments" eval 'sim_router routerstat | grep -q "^routerstat: system figures (segment 206): CPU"'
  local log
  log=$(sim_router routerstat)
  grep -q '^[0-9-]* [0-9:]* 系统初始化完成$' <<<"$log" || fail "no start record in: $log"
  grep -q '^routerstat: host table (segment 201): [0-9]* hosts$' <<<"$log" ||
    fail "segment 201 not shown: $log"
  sim_router routerstat --json | grep -q '^{"count":[0-9]*,"next":[0-9]*,"records":\[".*"\],"hosts":\[.*\],"system":{"cpu":[0-9]*,"mem":[0-9]*,"wan_up":[0-9]*,"wan_down":[0-9]*}}$' ||
    fail "routerstat --json: $(sim_router routerstat --json)"
}

# WAN type 1: the static address, gateway and masquerading; no DHCP client.
case_static_wan() {
  start_sim wan_connecttype=1
  wait_wan
  wait_lease
  expect_journal "ifconfig eth2.2 10.250.0.20 netmask 255.255.255.0"
  expect_journal "route add default gw 10.250.0.1"
  expect_journal "iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE"
  expect_journal "iptables -t mangle -A PREROUTING -i eth2.2 -d 192.168.0.0/24 -j DROP"
  grep -q '^udhcpc' "$SIM_TMP/router/journal" && fail "udhcpc started for a static WAN"
  wait_eq 10 "WAN address" 10.250.0.20/24 wan_addr eth2.2
  wait_until 10 "the drop rule for the LAN network arriving on the WAN" \
    eval 'mangle_rules | grep -qxF -- "-A PREROUTING -d 192.168.0.0/24 -i eth2.2 -j DROP"'
  wait_eq 10 "router's resolv.conf" "nameserver 10.250.0.1" router_file /etc/resolv.conf
  expect_reaches_isp_as 10.250.0.20
}

# WAN type 4: the lease posts 21, netmgr logs in at the ISP's login server,
# and on success restarts udhcpc with the plain script (commands 2 and 3).
case_dhcpplus_login() {
  start_sim wan_connecttype=4
  wait_wan
  wait_lease
  grep -q 'step=password .* pwd=ok .*answer=sent' "$SIM_TMP/isp/dhcpplus.log" ||
    fail "no accepted password step at the login server: $(cat "$SIM_TMP/isp/dhcpplus.log")"
  expect_eq "$(journal_count "udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid")" 2 "udhcpc starts"
  router_file /etc/udhcpc.script | grep -qxF '        sendmsg 204 2 &' || fail "the script is not the plain one"
  wait_eq 10 "udhcpc processes" 1 router_procs udhcpc
  local wan
  wan=$(wan_addr_set eth2.2)
  expect_reaches_isp_as "${wan%/*}"
}

# WAN type 4 with a wrong password: the login fails, the WAN stays down.
case_dhcpplus_wrong_password() {
  start_sim wan_connecttype=4 DHCP_plus_Pwd=not-the-password
  wait_until 60 "the login server's verdict" grep -q 'pwd=bad' "$SIM_TMP/isp/dhcpplus.log"
  wait_lease
  sleep 3 # netmgr's loop would act within a tick or two
  expect_eq "$(journal_count "udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid")" 1 "udhcpc starts"
  router_file /etc/udhcpc.script | grep -qxF '        sendmsg 204 21 &' || fail "the script is not the DHCP+ one"
  nat_rules | grep -q MASQUERADE && fail "masquerading without a login: $(nat_rules)"
  journal_has "iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE" && fail "command 2 ran"
  expect_eq "$(sim_whoami "" 2)" "" "what the ISP host sees from the LAN host"
}

# expect_ppp_traffic MSS: the LAN host reaches the ISP host through ppp0,
# masqueraded as the PPP address, and the far end of the link saw the
# LAN host's SYN carrying MSS.
expect_ppp_traffic() {
  expect_reaches_isp_as 10.64.0.2
  wait_until 10 "a SYN with MSS $1 over the PPP link" \
    grep -qE "^syn 10\.64\.0\.2:[0-9]+ > $SIM_ISP_FAR:80 mss $1\$" "$SIM_TMP/isp/ppp-peer.log"
}

# WAN type 3, always on: the pppd stand-in brings ppp0 up and runs ip-up,
# netmgr masquerades on ppp0 (and clamps the MSS for MTU 1400); command 7
# stops pppd and removes the rules, command 8 starts it again.
case_pppoe() {
  start_sim wan_connecttype=3 ppoe_mtu=1400
  wait_wan
  # Command 2 is still running (MTU, clamping) when masquerading shows up.
  wait_until 10 "both MSS clamping rules" eval '[ "$(mangle_rules | grep -c "TCPMSS --set-mss 1360")" = 2 ]'
  expect_journal "pppd file /etc/options.pppoe"
  expect_eq "$(nat_rules | grep -c -- '-A POSTROUTING -o ppp0 -j MASQUERADE')" 1 "masquerade on ppp0"
  expect_journal "ifconfig ppp0 mtu 1400"
  expect_journal "iptables -t mangle -A FORWARD -j TCPMSS -p tcp --syn --set-mss 1360"
  expect_journal "iptables -t mangle -A FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360"
  sim_rnet ip -4 -o addr show dev ppp0 | grep -q 'inet 10.64.0.2 peer 10.64.0.1/32' ||
    fail "ppp0 address: $(sim_rnet ip -4 -o addr show dev ppp0)"
  expect_eq "$(sim_rnet ip route show default)" "default dev ppp0 scope link " "default route"
  wait_until 10 "the connection stamp of ip-up" eval '! router_file /etc/at | grep -qx "0 0"'
  expect_eq "$(router_file /etc/resolv.conf)" "nameserver 10.64.0.1" "resolv.conf (link to ppp's)"
  expect_ppp_traffic 1360

  sim_router sendmsg 204 7 || fail "sendmsg 204 7"
  wait_until 15 "ppp0 to vanish" eval '! sim_rnet ip link show ppp0'
  wait_until 15 "the masquerade rule to go" eval '! sim_masquerading'
  wait_eq 10 "MSS clamping rules after command 7" 0 eval 'mangle_rules | grep -c TCPMSS'
  # The killed pppd is gone once the router's init has reaped it.
  wait_until 5 "pppd to end after command 7" eval '[ "$(router_procs pppd)" = 0 ]'
  wait_eq 10 "connection stamp after command 7" "0 0" router_file /etc/at

  sim_router sendmsg 204 8 || fail "sendmsg 204 8"
  wait_until 15 "the masquerade rule to return" sim_masquerading
  expect_eq "$(journal_count "pppd file /etc/options.pppoe")" 2 "pppd starts"
  sim_rnet ip link show ppp0 >/dev/null 2>&1 || fail "no ppp0 after command 8"
  # A second command 8 while pppd runs does nothing.
  sim_router sendmsg 204 8 || fail "sendmsg 204 8"
  sleep 2.5
  expect_eq "$(journal_count "pppd file /etc/options.pppoe")" 2 "pppd starts after a second command 8"
  expect_eq "$(router_procs pppd)" 1 "pppd processes"
  expect_reaches_isp_as 10.64.0.2
}

# WAN types 5 (PPTP) and 6 (L2TP) over a DHCP underlay: the tunnel's ppp0
# comes up, netmgr masquerades on it, and the LAN host's traffic to the
# ISP's far address goes through the tunnel. Only PPPoE clamps the MSS, so
# the LAN host's SYN keeps its own (1460 on its 1500-byte link).
case_pptp() {
  start_sim wan_connecttype=5
  wait_until 60 "masquerading on ppp0" eval 'nat_rules | grep -q -- "-o ppp0 -j MASQUERADE"'
  wait_lease
  expect_journal "pppd file /etc/options.pptp"
  expect_ppp_traffic 1460
}

case_l2tp() {
  start_sim wan_connecttype=6
  wait_until 60 "masquerading on ppp0" eval 'nat_rules | grep -q -- "-o ppp0 -j MASQUERADE"'
  wait_lease
  expect_journal "pppd file /etc/ppp/options.xl2tpd"
  expect_ppp_traffic 1460
}

# Command 4 switches a running router from DHCP to the static address.
case_dhcp_to_static() {
  start_sim
  wait_wan
  wait_lease
  local wan
  wan=$(wan_addr_set eth2.2)
  expect_reaches_isp_as "${wan%/*}"
  sim_router nvram set wan_connecttype=1 || fail "nvram set"
  sim_router sendmsg 204 4 || fail "sendmsg 204 4"
  wait_until 15 "the static WAN address" eval '[ "$(wan_addr eth2.2)" = 10.250.0.20/24 ]'
  expect_journal "ifconfig eth2.2 10.250.0.20 netmask 255.255.255.0"
  expect_journal "route add default gw 10.250.0.1"
  wait_eq 10 "udhcpc processes after command 4" 0 router_procs udhcpc
  # At least one: the DHCP tear-down stops udhcpc without a deconfig event,
  # so its rule stays and the static bring-up adds a second, equal one.
  sim_masquerading || fail "no masquerade rule after command 4"
  wait_eq 10 "default route" "default via 10.250.0.1 dev eth2.2 " sim_rnet ip route show default
  expect_reaches_isp_as 10.250.0.20
}

# The DHCP server restart when the WAN comes up (command 2) keeps the LAN
# host's lease: udhcpd writes its leases on SIGUSR1 before it is killed, the
# new udhcpd reads them, and the LAN host's renewal is acknowledged.
case_dhcp_server_restart_keeps_lease() {
  start_sim
  wait_wan
  wait_lease
  local ip starts renews deconfigs
  ip=$(sim_lease_value ip)
  starts=$(journal_count "udhcpd /etc/udhcpd.conf")
  # DHCP release and renew on the WAN: a new lease, command 2, the restart.
  sim_router sendmsg 204 5 || fail "sendmsg 204 5"
  wait_until 15 "the WAN address to go" eval '[ -z "$(wan_addr eth2.2)" ]'
  sim_router sendmsg 204 6 || fail "sendmsg 204 6"
  wait_until 30 "the DHCP server restart" eval '[ "$(journal_count "udhcpd /etc/udhcpd.conf")" -gt "$starts" ]'
  wait_until 10 "the new udhcpd" eval '[ "$(router_procs udhcpd)" = 1 ]'
  # It answers only once its socket is bound: a renewal sent earlier is lost.
  wait_until 10 "the new udhcpd to listen" eval '[ -n "$(sim_rnet ss -Hlun "sport = :67")" ]'
  expect_journal "killall -9 udhcpd"
  # The leases file (binary records) holds the LAN host's Ethernet address.
  router_file /etc/udhcpd.leases | od -An -tx1 | tr -d ' \n' | grep -q "$(echo "$SIM_LAN_MAC" | tr -d :)" ||
    fail "the leases file does not hold the LAN host"
  # The LAN host renews (SIGUSR1 to its udhcpc): the new server must know
  # it and acknowledge; a server without the lease would stay silent or
  # refuse, and the host would start over (deconfig, then a new bound).
  renews=$(grep -c "^renew $ip\$" "$SIM_TMP/lan/lease.log")
  deconfigs=$(grep -c "^deconfig" "$SIM_TMP/lan/lease.log")
  sim_lan_signal USR1 || fail "cannot signal the LAN host's udhcpc"
  wait_until 15 "the LAN host's renewal" eval '[ "$(grep -c "^renew $ip\$" "$SIM_TMP/lan/lease.log")" -gt "$renews" ]'
  expect_eq "$(sim_lease_value ip)" "$ip" "LAN address after the restart"
  expect_eq "$(grep -c "^deconfig" "$SIM_TMP/lan/lease.log")" "$deconfigs" "LAN host deconfigured"
  wait_wan
  local wan
  wan=$(wan_addr_set eth2.2)
  expect_reaches_isp_as "${wan%/*}"
}

run_case "$CASE"
