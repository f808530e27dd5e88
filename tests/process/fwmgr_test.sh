#!/bin/bash
# The real fwmgr in the sandbox: the stand-in tools journal its command
# lines; trafmon and kinwatch are stand-ins too (kinwatch at /bin/kinwatch,
# the path fwmgr starts it by).
. "$(dirname "$0")/lib.sh"

standins() {
  ln -s "$ROUTER_SOURCE_DIR/tests/standins/standin" /sbx/bin/trafmon || fail "trafmon stand-in"
  ln -sf "$ROUTER_SOURCE_DIR/tests/standins/standin" /bin/kinwatch || fail "kinwatch stand-in"
  touch /sbx/behave/trafmon.stay /sbx/behave/httpd.stay /sbx/behave/kinwatch.stay /sbx/behave/upnp.stay
}

out_has() { grep -qxF -- "$1" /tmp/fwmgr.out; }

# A static WAN: up from the start. The first lines fwmgr prints, the ALG
# rules, kinwatch restarted, and the watchdog's restarts on the 8th pass.
case_startup_lines() {
  standins
  nvram set lan_ip=192.168.0.1 lan_mask=255.255.255.0 wan_connecttype=1 wan_ip=10.0.0.2 \
    wan_mask=255.255.255.0 alg_service=10111 upnpen=0 || fail "nvram set"
  start_daemon fwmgr
  wait_for 30 out_has "httpd &"
  wait_for 5 journal_has "httpd"
  expect_file /tmp/fwmgr.out 'killall -9 kinwatch 1>/dev/null 2>&1
trafmon down, restart
trafmon &
httpd down, restart
httpd &
'
  journal_has "iptables -t filter -F alg_filter" || fail "alg_filter not flushed"
  journal_has "iptables -t filter -A alg_filter -p tcp --dport 69 -j DROP" || fail "TFTP drop line"
  journal_has "iptables -t filter -A alg_filter -p udp --dport 69 -j DROP" || fail "TFTP drop line (udp)"
  journal_has "killall -9 kinwatch" || fail "kinwatch not killed"
  wait_for 5 journal_has "kinwatch"
  # The static WAN is up: the restarted trafmon is told so.
  wait_for 5 test "$("$TESTBIN/msgpeek" 201)" = "2 0"
  # Both run now: the next watchdog pass (8 s later) restarts nothing.
  sleep 9
  stop_daemon fwmgr
  expect_eq "$(journal_count "trafmon")" 1 "trafmon starts"
  expect_eq "$(journal_count "httpd")" 1 "httpd starts"
  expect_eq "$(wc -l </tmp/fwmgr.out)" 5 "lines printed"
}

# A DHCP WAN on a veth interface of the sandbox: commands posted with
# sendmsg 203 N, one per second, in order.
case_answers_commands() {
  standins
  ip link add eth2.2 type veth peer name wanpeer && ip addr add 10.0.0.2/24 dev eth2.2 &&
    ip link set eth2.2 up || fail "eth2.2"
  echo "nameserver 10.0.0.53" >/etc/resolv.conf
  nvram set lan_ip=192.168.0.1 lan_mask=255.255.255.0 wan_connecttype=2 alg_service=11111 upnpen=1 \
    "virtualser_list=1;8080;80;0;192.168.0.10;3" dmzen=0 client_filter_en=1 client_filter_num=1 \
    "client_filter_0=0;192.168.0.100-192.168.0.120;6881-6889;0;0:0-0:0;1;1;1;1;1;1;1;" || fail "nvram set"
  start_daemon fwmgr
  wait_for 20 journal_has "iptables -t filter -A ip_filter -p tcp --dport 6881:6889 -m iprange --src-range 192.168.0.100-192.168.0.120 -j DROP"
  sendmsg 203 2 && sendmsg 203 12 && sendmsg 203 8 && sendmsg 203 3 || fail "sendmsg"
  wait_for 20 journal_has "killall -9 upnp"
  sleep 1.5
  stop_daemon fwmgr
  # The journal from the WAN-up on (stand-ins started in the background may
  # interleave with the next lines, so they are checked apart).
  sed -n '/^arptables -A/,$p' /sbx/journal | grep -vx 'upnp eth2.2\|kinwatch\|trafmon\|httpd' >/tmp/after
  expect_file /tmp/after 'arptables -A INPUT -i eth2.2 -j ipfilter --ip 10.0.0.2 --netmask 255.255.255.0
iptables -t nat -A port_forward_pre -p tcp -d 10.0.0.2 --dport 8080 -j DNAT --to 192.168.0.10:80
iptables -t nat -A port_forward_post -p tcp -d 192.168.0.10 -s 192.168.0.0/24 --dport 80 -j SNAT --to 192.168.0.1
iptables -t nat -A port_forward_pre -p udp -d 10.0.0.2 --dport 8080 -j DNAT --to 192.168.0.10:80
iptables -t nat -A port_forward_post -p udp -d 192.168.0.10 -s 192.168.0.0/24 --dport 80 -j SNAT --to 192.168.0.1
iptables -t nat -A PREROUTING -i br0 -p udp -d 192.168.0.1 --dport 53 -j DNAT --to 10.0.0.53:53
iptables -t filter -F ip_filter
iptables -t filter -A ip_filter -p tcp --dport 6881:6889 -m iprange --src-range 192.168.0.100-192.168.0.120 -j DROP
arptables -D INPUT -i eth2.2 -j ipfilter --ip 10.0.0.2 --netmask 255.255.255.0
iptables -t nat -F port_forward_pre
iptables -t nat -F port_forward_post
iptables -t nat -F web_wanadmin
iptables -t nat -D PREROUTING -i br0 -p udp -d 192.168.0.1 --dport 53 -j DNAT --to 10.0.0.53:53
killall -9 upnp
iptables -t nat -F MINIUPNPD
'
  expect_eq "$(journal_count "upnp eth2.2")" 1 "upnp starts"
  out_has "upnp eth2.2 &" || fail "upnp start line not printed"
  out_has "rm -f /etc/upnpmap" || fail "upnpmap removal not printed"
}

# Every feature configured: the start-up's lines in their order, the printed
# lines, and the connection-limit record in the kernel's file.
case_startup_every_feature() {
  standins
  nvram set lan_ip=192.168.0.1 lan_mask=255.255.255.0 wan_connecttype=2 alg_service=01111 \
    ipbindenable=1 otherenable=1 ipbindnum=1 "ipbindlist0=192.168.0.10;00:11:22:33:44:55;" \
    qos_enable=1 qos_num=1 "qoslist0=192.168.0.100-192.168.0.110;0-64;0-256;1;1" \
    lan_attack_defence=1,50,0,0,0,0,0,0,0,1,0,0,0,0,0,0,0,1,0,0 \
    webipen=1 webport=8080 webip= wanweben=1 wanwebport=8080 ddns_en=1 ddns_type=5 ddns_user=me \
    ddns_pwd=pw ddns_domain=my.example.net natlimit_enble=1 "natlimit_list=192.168.0.2;192.168.0.3;100;300" \
    "static_route_0=10.20.0.0;255.255.0.0;192.168.0.254" upnpen=0 || fail "nvram set"
  echo "nameserver 10.0.0.53" >/etc/resolv.conf
  start_daemon fwmgr
  wait_for 20 journal_has "kinwatch"
  wait_for 5 journal_has "iptables -t nat -A web_lanadmin -i br0 -d 192.168.0.1 -p tcp --dport 8080 -j DNAT --to 192.168.0.1:80"
  stop_daemon fwmgr
  grep -vx 'kinwatch' /sbx/journal >/tmp/start
  # What a killed instance may have left goes first.
  expect_file /tmp/start 'route add -net 10.20.0.0 netmask 255.255.0.0 gw 192.168.0.254
iptables -t filter -F ip_filter
iptables -t filter -F url_filter
iptables -t filter -F mac_filter
iptables -t filter -F qos
iptables -t filter -F web_access
iptables -t nat -F port_forward_pre
iptables -t nat -F port_forward_post
iptables -t nat -F dmz_forward_pre
iptables -t nat -F dmz_forward_post
iptables -t nat -F web_wanadmin
iptables -t nat -F web_lanadmin
iptables -t filter -F ping
iptables -t mangle -D PREROUTING -i br0 -j FIREWALL --flags 2097154 --ipscan 0 --portscan 50 --icmpflood 0 --udpflood 0 --synflood 0
iptables -t filter -F safe_filter
arptables -D INPUT -i br0 -j ipmacbind --ipmac 192.168.0.10,00:11:22:33:44:55
iptables -t mangle -D PREROUTING -i br0 -j IPMACBIND --flags 1 --ipmac 192.168.0.10,00:11:22:33:44:55
iptables -t nat -D PREROUTING -i br0 -p udp -d 192.168.0.1 --dport 53 -j DNAT --to 10.0.0.53:53
iptables -t filter -F alg_filter
iptables -t filter -A alg_filter -p tcp --dport 21 -j DROP
arptables -A INPUT -i br0 -j ipmacbind --ipmac 192.168.0.10,00:11:22:33:44:55
iptables -t mangle -A PREROUTING -i br0 -j IPMACBIND --flags 1 --ipmac 192.168.0.10,00:11:22:33:44:55
iptables -t filter -A ping -i br0 -p icmp --icmp-type 8 -j DROP
iptables -t mangle -A PREROUTING -i br0 -j FIREWALL --flags 2097154 --ipscan 0 --portscan 50 --icmpflood 0 --udpflood 0 --synflood 0
iptables -t filter -A safe_filter -m layer7 --l7proto bittorrent -j DROP
killall -9 kinwatch
iptables -t nat -A web_lanadmin -i br0 -d 192.168.0.1 -p tcp --dport 80 -j DROP
iptables -t nat -A web_lanadmin -i br0 -d 192.168.0.1 -p tcp --dport 8080 -j DNAT --to 192.168.0.1:80
'
  expect_file /tmp/fwmgr.out 'route add -net 10.20.0.0 netmask 255.255.0.0 gw 192.168.0.254
killall -9 kinwatch 1>/dev/null 2>&1
'
  expect_eq "$(od -An -tx1 "$ROUTER_KERNEL_ROOT/proc/vkproc/connlimit" | tr -d ' \n')" \
    "01000000c0a80002c0a80003640000002c010000" "/proc/vkproc/connlimit"
}

run_case "$@"
