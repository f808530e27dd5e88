#!/bin/bash
# End-to-end tests of fwmgr in the router simulation (ctest label sim): the
# real fwmgr beside the real netmgr, real iptables, and traffic between the
# LAN host (page on port 80) and the ISP host (pages on ports 80 and 21).
#
#   bash sim/tests/fwmgr_test.sh BUILD_DIR CASE
. "$(dirname "$0")/lib.sh"

# The settings are changed as the web server does: store, then command.
set_and_post() {
  local cmd=$1
  shift
  sim_router nvram set "$@" || fail "nvram set $*"
  sim_router sendmsg 203 "$cmd" || fail "sendmsg 203 $cmd"
}

# The router up with the LAN host's lease and fwmgr's WAN rules in place;
# sets LAN (the LAN host's address) and WAN (the router's WAN address).
start_fw() {
  start_sim "$@"
  wait_wan
  wait_lease
  LAN=$(sim_lease_value ip)
  WAN=$(wan_addr_set eth2.2)
  WAN=${WAN%/*}
  [ -n "$LAN" ] && [ -n "$WAN" ] || fail "no LAN lease [$LAN] or WAN address [$WAN]"
  # fwmgr's WAN-up (netmgr's command 2, taken after fwmgr's 5 s start-up wait).
  wait_until 30 "fwmgr's WAN-up" journal_has "arptables -A INPUT -i eth2.2 -j ipfilter --ip $WAN --netmask 255.255.255.0"
}

# What a host gets for a URL ("" when it gets nothing within 5 s).
# fetch_from_isp/lan URL [SECONDS]: the page, or nothing within SECONDS (5).
fetch_from_isp() { sim_isp timeout "${2:-5}" busybox wget -q -O - "$1" 2>/dev/null; }
fetch_from_lan() { sim_lan timeout "${2:-5}" busybox wget -q -O - "$1" 2>/dev/null; }
# The negative checks give up after 2 s: between namespaces of this machine
# an open path answers in milliseconds, and a dropped one would otherwise
# cost the whole 5 s on every poll.
isp_gets() { [ "$(fetch_from_isp "$1")" = "$2" ]; }
isp_gets_nothing() { [ -z "$(fetch_from_isp "$1" 2)" ]; }
lan_gets() { [ "$(fetch_from_lan "$1")" = "$2" ]; }
lan_gets_nothing() { [ -z "$(fetch_from_lan "$1" 2)" ]; }
lan_reaches_isp() { [ -n "$(sim_whoami)" ]; }
lan_cut_off() { [ -z "$(sim_whoami "" 2)" ]; }
rules() { sim_rnet iptables -w -t "$1" -S "$2"; }
rule_count() { rules "$1" "$2" | grep -c -- "^-A $2 "; }
router_pid() { sim_router pgrep -x "$1" | head -n 1; }
# yields VALUE COMMAND...: the command prints VALUE (evaluated at each poll).
yields() { [ "$("${@:2}")" = "$1" ]; }
# runs_anew NAME OLD_PID: a process NAME runs, and it is not OLD_PID.
runs_anew() {
  local pid
  pid=$(router_pid "$1")
  [ -n "$pid" ] && [ "$pid" != "$2" ]
}

# 1. A forward of WAN port 8080 to the LAN host's port 80, set while the
# router runs: the ISP host gets the LAN host's page; disabled, it does not.
case_port_forward() {
  start_fw
  isp_gets_nothing "http://$WAN:8080/" || fail "port 8080 answers before any forward"
  set_and_post 4 "virtualser_list=1;8080;80;0;$LAN;1"
  wait_until 15 "the forwarded page" isp_gets "http://$WAN:8080/" "LAN host"
  expect_journal "iptables -t nat -A port_forward_pre -p tcp -d $WAN --dport 8080 -j DNAT --to $LAN:80"
  expect_journal "iptables -t nat -A port_forward_post -p tcp -d $LAN -s 192.168.0.0/24 --dport 80 -j SNAT --to 192.168.0.1"
  set_and_post 4 "virtualser_list=0;8080;80;0;$LAN;1"
  wait_until 15 "the forward to go" isp_gets_nothing "http://$WAN:8080/"
  expect_eq "$(rule_count nat port_forward_pre)" 0 "forward rules left"
}

# 2. The LAN host as DMZ host: port 80 of the WAN address is its page.
case_dmz() {
  start_fw
  isp_gets_nothing "http://$WAN/" || fail "port 80 of the WAN address answers before the DMZ"
  set_and_post 5 dmzen=1 "dmzip=$LAN"
  wait_until 15 "the DMZ host's page" isp_gets "http://$WAN/" "LAN host"
  expect_journal "iptables -t nat -A dmz_forward_pre -d $WAN -j DNAT --to $LAN"
  expect_journal "iptables -t nat -A dmz_forward_post -d $LAN -s 192.168.0.0/24 -j SNAT --to 192.168.0.1"
  set_and_post 5 dmzen=0
  wait_until 15 "the DMZ to go" isp_gets_nothing "http://$WAN/"
  expect_eq "$(rule_count nat dmz_forward_pre)" 0 "DMZ rules left"
}

# 3. FTP blocked: the LAN host's connection to port 21 of the ISP host fails;
# allowed again by the next command 7.
case_alg_ftp() {
  start_fw
  local ftp="http://$SIM_ISP_ADDR:21/"
  wait_until 15 "port 21 of the ISP host" lan_gets "$ftp" "ISP host $SIM_ISP_ADDR"
  set_and_post 7 alg_service=01111
  wait_until 15 "FTP to be blocked" lan_gets_nothing "$ftp"
  expect_eq "$(rules filter alg_filter | grep -c -- '-A alg_filter -p tcp -m tcp --dport 21 -j DROP')" 1 "FTP drop rule"
  lan_reaches_isp || fail "port 80 blocked with FTP"
  set_and_post 7 alg_service=11111
  wait_until 15 "FTP to pass again" lan_gets "$ftp" "ISP host $SIM_ISP_ADDR"
  expect_eq "$(rule_count filter alg_filter)" 0 "ALG rules left"
}

# 4. A client record for the LAN host, TCP port 80, all day, every day: its
# rule comes in the pass that takes command 8, and the page is cut off.
case_client_filter() {
  start_fw
  lan_reaches_isp || fail "the LAN host does not reach the ISP host at first"
  local rule="iptables -t filter -A ip_filter -p tcp --dport 80:80 -m iprange --src-range $LAN-$LAN -j DROP"
  set_and_post 8 client_filter_en=1 client_filter_num=1 "client_filter_0=0;$LAN-$LAN;80-80;0;0:0-0:0;1;1;1;1;1;1;1;"
  wait_until 10 "the client rule" journal_has "$rule"
  # The flush and the rule are one pass's lines: the rule came at once.
  grep -A1 -xF "iptables -t filter -F ip_filter" "$SIM_TMP/router/journal" | tail -n 1 | grep -qxF -- "$rule" ||
    fail "the client rule did not follow command 8's flush directly"
  wait_until 15 "the LAN host to be cut off" lan_cut_off
  set_and_post 8 client_filter_en=0
  wait_until 15 "the LAN host to reach the ISP host again" lan_reaches_isp
  expect_eq "$(rule_count filter ip_filter)" 0 "client rules left"
}

# 5. The LAN host's MAC address in deny mode drops its traffic to the ISP.
case_mac_filter() {
  start_fw
  lan_reaches_isp || fail "the LAN host does not reach the ISP host at first"
  set_and_post 10 mac_filter_en=1 mac_filter_num=1 "mac_filter_0=0;$SIM_LAN_MAC;0:0-0:0;1;1;1;1;1;1;1;"
  wait_until 15 "the LAN host to be cut off" lan_cut_off
  expect_journal "iptables -t filter -A mac_filter -m mac --mac-source $SIM_LAN_MAC -j DROP"
  set_and_post 10 mac_filter_en=0
  wait_until 15 "the LAN host to reach the ISP host again" lan_reaches_isp
  expect_eq "$(rule_count filter mac_filter)" 0 "MAC rules left"
}

# 6. Two commands 2 in a row: every rule once, one upnp.
case_wan_up_twice() {
  start_fw upnpen=1 "virtualser_list=1;8080;80;0;192.168.0.100;3" dmzen=1 dmzip=192.168.0.101 alg_service=00000
  wait_until 10 "upnp" yields 1 router_procs upnp
  # fwmgr's start deletes the rule when the lease came before it.
  local arp_del="arptables -D INPUT -i eth2.2 -j ipfilter --ip $WAN --netmask 255.255.255.0" removed
  removed=$(journal_count "$arp_del")
  sim_router sendmsg 203 2 && sim_router sendmsg 203 2 || fail "sendmsg"
  wait_until 15 "two more WAN-ups" yields 3 journal_count "upnp eth2.2"
  sleep 1
  local t dup
  for t in filter nat; do
    dup=$(sim_rnet iptables -w -t "$t" -S | sort | uniq -d)
    [ -z "$dup" ] || fail "duplicate $t rules: $dup"
  done
  expect_eq "$(rule_count nat port_forward_pre)" 2 "forward rules"
  expect_eq "$(rule_count nat dmz_forward_pre)" 1 "DMZ rules"
  expect_eq "$(rule_count filter alg_filter)" 11 "ALG rules"
  wait_until 10 "one upnp" yields 1 router_procs upnp
  # The WAN-down ran before each repeated WAN-up.
  expect_eq "$(journal_count "$arp_del")" $((removed + 2)) "arptables removals"
}

# 7. The watchdog: a killed httpd runs again; a trafmon killed while the WAN
# is up runs again and is told "201 2".
case_watchdog() {
  start_fw
  wait_until 20 "httpd" runs_anew httpd none
  wait_until 20 "trafmon" runs_anew trafmon none
  local old told
  old=$(router_pid httpd)
  sim_router kill -KILL "$old" || fail "kill httpd"
  wait_until 20 "a new httpd" runs_anew httpd "$old"
  told=$(journal_count "sendmsg 201 2")
  old=$(router_pid trafmon)
  sim_router kill -KILL "$old" || fail "kill trafmon"
  wait_until 20 "a new trafmon" runs_anew trafmon "$old"
  wait_until 5 "trafmon told the WAN is up" yields $((told + 1)) journal_count "sendmsg 201 2"
  grep -qxF "trafmon down, restart" "$SIM_TMP/router/fwmgr.log" || fail "no restart message"
  grep -qxF "httpd down, restart" "$SIM_TMP/router/fwmgr.log" || fail "no restart message"
}

# 8. Command 16 switching UPnP on starts upnp on the WAN; off kills it,
# flushes MINIUPNPD and removes /etc/upnpmap.
case_upnp() {
  start_fw
  expect_eq "$(router_procs upnp)" 0 "upnp before it is switched on"
  set_and_post 16 upnpen=1
  wait_until 10 "upnp" yields 1 router_procs upnp
  expect_journal "upnp eth2.2"
  # What upnp itself would leave: a mapping and its file.
  sim_rnet iptables -w -t nat -A MINIUPNPD -p tcp --dport 5555 -j DNAT --to "$LAN:80" || fail "mapping"
  sim_router sh -c 'echo mapping >/etc/upnpmap' || fail "/etc/upnpmap"
  wait_until 10 "the mapping to work" isp_gets "http://$WAN:5555/" "LAN host"
  set_and_post 16 upnpen=0
  wait_until 10 "upnp to stop" yields 0 router_procs upnp
  wait_until 5 "MINIUPNPD flushed" yields 0 rule_count nat MINIUPNPD
  wait_until 5 "/etc/upnpmap removed" sim_router test ! -e /etc/upnpmap
  isp_gets_nothing "http://$WAN:5555/" || fail "the mapping still forwards"
  expect_journal "killall -9 upnp"
  expect_journal "iptables -t nat -F MINIUPNPD"
}

# 9. WAN management access on port 8080: the ISP host gets the router's
# management page; not with another remote address allowed, nor after WAN down.
case_wan_management() {
  start_fw
  local page="http://$WAN:8080/"
  wait_until 20 "the management server" runs_anew httpd none
  isp_gets_nothing "$page" || fail "port 8080 answers before WAN management is on"
  set_and_post 13 wanweben=1 wanwebport=8080 wanwebip=0.0.0.0
  wait_until 15 "the management page from the WAN" isp_gets "$page" "Router management page"
  set_and_post 13 wanwebip=10.250.0.99
  wait_until 15 "the WAN management rule for another address" journal_has \
    "iptables -t nat -A web_wanadmin -p tcp -d $WAN -s 10.250.0.99 --dport 8080 -j DNAT --to 192.168.0.1:80"
  isp_gets_nothing "$page" || fail "the ISP host gets the page with another address allowed"
  set_and_post 13 wanwebip=
  wait_until 15 "the management page again" isp_gets "$page" "Router management page"
  sim_router sendmsg 203 3 || fail "sendmsg 203 3"
  wait_until 15 "the page to go with the WAN" isp_gets_nothing "$page"
}

# 10. LAN management access on port 8080 only, then for one other host only.
# The port-80 drop line lies in the nat table, which this iptables refuses
# ("the use of DROP is therefore inhibited"): it is checked in the journal.
case_lan_management() {
  start_fw
  local lanip=192.168.0.1
  wait_until 20 "the management page" lan_gets "http://$lanip/" "Router management page"
  set_and_post 14 webipen=1 webport=8080 webip=
  wait_until 15 "the page on port 8080" lan_gets "http://$lanip:8080/" "Router management page"
  expect_journal "iptables -t nat -A web_lanadmin -i br0 -d $lanip -p tcp --dport 80 -j DROP"
  set_and_post 14 webport=80 webip=192.168.0.99
  wait_until 15 "the LAN host to be shut out" lan_gets_nothing "http://$lanip/"
  lan_gets_nothing "http://$lanip:8080/" || fail "port 8080 still leads to the page"
  set_and_post 14 "webip=$LAN"
  wait_until 15 "the page for the allowed host" lan_gets "http://$lanip/" "Router management page"
}

# 11. The WAN ping rule: the ISP host's ping to the WAN address goes
# unanswered while it is in place.
case_wan_ping() {
  start_fw
  isp_pings() { sim_isp busybox ping -c 1 -W 1 "$WAN" >/dev/null 2>&1; }
  isp_ping_fails() { ! isp_pings; }
  isp_pings || fail "the WAN address does not answer ping at first"
  set_and_post 15 lan_attack_defence=0,0,0,0,0,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0
  wait_until 15 "ping to be blocked" isp_ping_fails
  expect_eq "$(rules filter ping | grep -c -- "-A ping -i eth2.2 -p icmp -m icmp --icmp-type 8 -j DROP")" 1 "WAN ping rule"
  set_and_post 15 lan_attack_defence=0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0
  wait_until 15 "ping to be answered again" isp_pings
}

# 12. The DNS proxy: the LAN host asks the router's LAN address and gets the
# ISP's answer; the override writes its servers and the rule follows the
# first; command 18 with the override off restores the file.
case_dns_proxy() {
  start_fw
  local net=${SIM_ISP_ADDR%.*}
  resolves() { sim_lan timeout 5 busybox nslookup www.simisp.test 192.168.0.1 2>/dev/null | grep -q "$net.80"; }
  proxy_to() { rules nat PREROUTING | grep -qxF -- "-A PREROUTING -d 192.168.0.1/32 -i br0 -p udp -m udp --dport 53 -j DNAT --to-destination $1:53"; }
  wait_until 15 "the proxy rule" proxy_to "$SIM_ISP_ADDR"
  wait_until 15 "the name through the router" resolves
  set_and_post 18 dnsen=1 "dns_dns1=$net.3" dns_dns2=1.1.1.1
  wait_until 15 "the proxy rule to follow the first server" proxy_to "$net.3"
  expect_eq "$(router_file /etc/resolv.conf)" "nameserver $net.3
nameserver 1.1.1.1" "resolv.conf with the override"
  resolves || fail "the name does not resolve through the overriding server"
  grep -q "query.*www.simisp.test from" "$SIM_TMP/isp/dnsmasq.log" || fail "no query at the ISP's DNS server"
  set_and_post 18 dnsen=0
  wait_until 15 "the proxy rule back to the ISP's server" proxy_to "$SIM_ISP_ADDR"
  expect_eq "$(router_file /etc/resolv.conf)" "nameserver $SIM_ISP_ADDR" "resolv.conf restored"
  expect_eq "$(rules nat PREROUTING | grep -c -- '--dport 53')" 1 "DNS proxy rules"
  resolves || fail "the name does not resolve after the restore"
}

# 13. A static route through the ISP's second gateway: 10.77.0.1 is reached
# only through it, once fwmgr has started with static_route_0 set.
case_static_route() {
  start_fw
  far_reached() { sim_lan busybox ping -c 1 -W 2 10.77.0.1 >/dev/null 2>&1; }
  far_unreached() { ! far_reached; }
  far_unreached || fail "10.77.0.1 reached without the route"
  sim_router nvram set "static_route_0=10.77.0.0;255.255.255.0;${SIM_ISP_ADDR%.*}.2" || fail "nvram set"
  # fwmgr reads the routes at its start: start it again.
  local old
  old=$(router_pid fwmgr)
  sim_router kill "$old" || fail "stop fwmgr"
  wait_until 10 "fwmgr to end" yields "" router_pid fwmgr
  sim_router sh -c 'fwmgr >>/sim/fwmgr.log 2>&1 &' || fail "start fwmgr"
  wait_until 20 "the route" journal_has "route add -net 10.77.0.0 netmask 255.255.255.0 gw ${SIM_ISP_ADDR%.*}.2"
  wait_until 15 "10.77.0.1 through the second gateway" far_reached
}

# 14. DDNS: each type starts its client with the expected arguments; user
# names and passwords with spaces, quotes and ";" arrive whole and run
# nothing; WAN down kills the client.
case_ddns() {
  start_fw
  argv_is() { [ "$(cat "$SIM_TMP/router/$1.argv" 2>/dev/null)" = "$2" ]; }
  local user="a b;touch /tmp/ddns-canary" pwd="it's \"x\""
  local t prog want
  for t in 0 1 2 3 4 5; do
    case $t in
      0) prog=3322ip want="-S
qdns
-u
$user:$pwd
-h
my.example.net" ;;
      1) prog=88ip want="$user
$pwd" ;;
      *) prog=inadyn
        local sys
        sys=$(echo "default@freedns.afraid.org default@zoneedit.com default@no-ip.com dyndns@dyndns.org" | cut -d' ' -f$((t - 1)))
        want="-u
$user
-p
$pwd
-a
my.example.net
--dyndns_system
$sys" ;;
    esac
    rm -f "$SIM_TMP/router/$prog.argv"
    set_and_post 17 ddns_en=1 "ddns_type=$t" "ddns_user=$user" "ddns_pwd=$pwd" ddns_domain=my.example.net
    wait_until 15 "the type $t client's arguments" argv_is "$prog" "$want"
    wait_until 10 "one $prog" yields 1 router_procs "$prog"
  done
  sim_router test ! -e /tmp/ddns-canary || fail "a credential ran a command"
  sim_router sendmsg 203 3 || fail "sendmsg 203 3"
  wait_until 15 "the client to be killed" yields 0 router_procs inadyn
}

# 15. QoS, IP-MAC binding, attack defence and application blocking need the
# router kernel's extensions: their lines are in the journal, and tc really
# runs the HTB lines this kernel takes.
case_kernel_extensions() {
  start_fw "ipbindenable=1" otherenable=1 ipbindnum=1 "ipbindlist0=192.168.0.50;02:00:00:00:0a:32;" \
    qos_enable=1 qos_num=1 "qoslist0=192.168.0.100-192.168.0.101;0-64;0-256;0;1" \
    lan_attack_defence=1,50,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,0,0
  wait_until 15 "the last QoS line" journal_has \
    "tc filter add dev eth2.2 parent 1:0 protocol ip handle 100101 fw classid 1:1101"
  expect_journal "arptables -A INPUT -i br0 -j ipmacbind --ipmac 192.168.0.50,02:00:00:00:0a:32"
  expect_journal "iptables -t mangle -A PREROUTING -i br0 -j IPMACBIND --flags 1 --ipmac 192.168.0.50,02:00:00:00:0a:32"
  expect_journal "iptables -t mangle -A PREROUTING -i br0 -j FIREWALL --flags 2 --ipscan 0 --portscan 50 --icmpflood 0 --udpflood 0 --synflood 0"
  expect_journal "iptables -t filter -A safe_filter -m layer7 --l7proto bittorrent -j DROP"
  expect_journal "iptables -A qos -m iprange --src-range 192.168.0.100-192.168.0.101 -j GROUPMARK --ip 0 --port 0 --dir 1 --net 0"
  expect_journal "tc qdisc add dev br0 root handle 1: htb"
  expect_journal "tc class add dev br0 parent 1:1 classid 1:1100 htb rate 256kbps ceil 256kbps"
  expect_journal "tc qdisc add dev eth2.2 parent 1:1101 handle 1101 sfq perturb 10"
  expect_journal "tc filter add dev eth2.2 parent 1:0 protocol ip handle 100101 fw classid 1:1101"
  # HTB roots on both sides; the classes under the missing parent 1:1 become
  # classes at the root (tc class show calls them "root").
  sim_rnet tc qdisc show dev br0 | grep -q "qdisc htb 1: root" || fail "no HTB root on br0"
  sim_rnet tc qdisc show dev eth2.2 | grep -q "qdisc htb 1: root" || fail "no HTB root on eth2.2"
  sim_rnet tc class show dev br0 | grep -q "class htb 1:1100 root .*rate 2048Kbit" ||
    fail "class 1:1100 on br0: $(sim_rnet tc class show dev br0)"
  sim_rnet tc class show dev eth2.2 | grep -q "class htb 1:1101 root .*rate 512Kbit" ||
    fail "class 1:1101 on eth2.2: $(sim_rnet tc class show dev eth2.2)"
  # WAN down takes both roots away.
  sim_router sendmsg 203 3 || fail "sendmsg 203 3"
  # (The journal has a line as its tool starts, so the state is polled for.)
  wait_until 15 "the roots to go" journal_has "tc qdisc del dev eth2.2 root"
  wait_until 15 "no HTB root left on br0" eval '! sim_rnet tc qdisc show dev br0 | grep -q htb'
  wait_until 15 "no HTB root left on eth2.2" eval '! sim_rnet tc qdisc show dev eth2.2 | grep -q htb'
  wait_eq 15 "qos rules left" 0 eval "rules filter qos | grep -c '^-A'"
}

run_case "$CASE"
