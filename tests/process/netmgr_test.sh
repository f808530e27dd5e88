#!/bin/bash
# The real netmgr in the sandbox, with stand-in tools, a flash image, the
# configuration store file and the kernel files under ROUTER_KERNEL_ROOT.
. "$(dirname "$0")/lib.sh"

configure_dhcp_wan() {
  nvram set lan_ip=192.168.0.1 lan_mask=255.255.255.0 wanparam=1 wan_connecttype=2 \
    dynamicMTU=1500 dhcps_en=1 dhcps_start=192.168.0.100 dhcps_end=192.168.0.200 \
    lease_time=60 dhcpStaticnum=0 || fail "nvram set"
}


case_startup_lines() {
  make_flash
  configure_dhcp_wan
  start_daemon netmgr
  wait_for 10 journal_has "udhcpd /etc/udhcpd.conf"
  sleep 0.2
  stop_daemon netmgr
  # The first lines netmgr prints: Ethernet, LAN, kernel settings.
  head -n 30 /tmp/netmgr.out >/tmp/head
  expect_file /tmp/head 'ifconfig eth2 hw ether 00:11:22:33:44:55 up
vconfig add eth2 1
vconfig add eth2 2
ifconfig eth2.1 hw ether 00:11:22:33:44:55 up
ifconfig eth2.2 hw ether 00:11:22:33:44:56 up
vconfig set_flag eth2.1 1 1
vconfig set_flag eth2.2 1 1
ifconfig eth2.1 0.0.0.0
ifconfig eth2.2 0.0.0.0
switch reg w 14 0x405555
switch reg w 98 0x7f3f
switch reg w e4 0x3f
switch reg w 40 0x1002
switch reg w 44 0x1001
switch reg w 48 0x1001
switch reg w 70 0xffff417e
ifconfig lo 127.0.0.1
brctl addbr br0
brctl setfd br0 1
brctl addif br0 eth2.1
ifconfig br0 192.168.0.1 netmask 255.255.255.0
arptables -A INPUT -i br0 -j ipfilter --ip 192.168.0.1 --netmask 255.255.255.0
echo 1 > /proc/sys/net/ipv4/ip_forward
echo 32768 > /proc/sys/net/nf_conntrack_max
echo 1800 > /proc/sys/net/ipv4/netfilter/ip_conntrack_tcp_timeout_established
echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_broadcasts
echo 1 > /proc/sys/net/ipv4/icmp_ignore_bogus_error_responses
echo "1024 65000" > /proc/sys/net/ipv4/ip_local_port_range
ifconfig lo up
route add -host 239.255.255.250 dev br0
'
  grep -qxF 'udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid &' /tmp/netmgr.out ||
    fail "udhcpc start line not printed"
  # The kernel's copy of the LAN address: address then mask, network order.
  expect_eq "$(od -An -tx1 "$ROUTER_KERNEL_ROOT/proc/vkproc/lanip" | tr -d ' \n')" \
    "c0a80001ffffff00" "/proc/vkproc/lanip"
}

case_dhcp_lease_brings_wan_up() {
  make_flash
  configure_dhcp_wan
  # The stand-in udhcpc runs the generated script with "bound" at once.
  printf 'ip=10.9.0.2\nsubnet=255.255.255.0\nrouter=10.9.0.1\ndns=10.9.0.53\n' >/sbx/lease
  start_daemon netmgr
  wait_for 15 journal_has "iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE"
  wait_for 10 journal_has "killall -9 udhcpd"
  # The DHCP server restart is command 2's last line.
  wait_for 10 eval '[ "$(grep -c "^udhcpd /etc/udhcpd.conf$" /sbx/journal)" = 2 ]'
  # What the script did through the stand-ins (with busybox's mask=24 and
  # subnet=255.255.255.0, the dotted mask).
  journal_has "ifconfig eth2.2 10.9.0.2 netmask 255.255.255.0" || fail "script ifconfig"
  journal_has "route add default gw 10.9.0.1 dev eth2.2" || fail "script route"
  expect_file /etc/resolv.conf 'nameserver 10.9.0.53
'
  # Command 2 told trafmon and fwmgr, and restarted the DHCP server.
  expect_eq "$("$TESTBIN/msgpeek" 201)" "2 0" "queue 201"
  expect_eq "$("$TESTBIN/msgpeek" 203)" "2 0" "queue 203"
  printf 'start\t192.168.0.100\nend\t192.168.0.200\ninterface\tbr0\nlease_file\t/etc/udhcpd.leases\nlanip\t192.168.0.1\noption\tsubnet\t255.255.255.0\noption\tdns\t\t\noption\trouter\t192.168.0.1\noption\tlease\t3600\noption\tmtu\t1500\n' >/tmp/want
  cmp -s /tmp/want /etc/udhcpd.conf || fail "udhcpd.conf: $(cat -A /etc/udhcpd.conf)"
  # Segment 205 holds the start record.
  routerstat >/tmp/log || fail "routerstat"
  grep -q '^[0-9-]* [0-9:]* 系统初始化完成$' /tmp/log || fail "start record missing: $(cat /tmp/log)"
  stop_daemon netmgr
}

case_injected_values_run_nothing() {
  make_flash
  configure_dhcp_wan
  local evil='x$(touch /tmp/canary)`touch /tmp/canary`;touch /tmp/canary'
  nvram set wan_connecttype=3 ppoe_conmode=0 "ppoe_userid=$evil" "ppoe_pwd=$evil'\"" \
    "ppoe_sev=$evil" "ppoe_ac=$evil" "lan_ip=192.168.0.1;touch /tmp/canary" || fail "nvram set"
  start_daemon netmgr
  wait_for 10 journal_has "pppd file /etc/options.pppoe"
  sleep 0.3
  stop_daemon netmgr
  [ ! -e /tmp/canary ] || fail "an injected command ran"
  grep -q 'is not an IPv4 address' /tmp/netmgr.out || fail "bad lan_ip not reported"
  grep -qxF "user \"$evil\"" /etc/options.pppoe || fail "user name not kept whole: $(grep user /etc/options.pppoe)"
}

# The option files holding a PPP password are private (mode 0600) from the
# first byte, also when an older, readable file was there.
case_password_files_are_private() {
  make_flash
  configure_dhcp_wan
  local type file started
  for type in 3:/etc/options.pppoe:"pppd file /etc/options.pppoe &" \
    5:/etc/options.pptp:"udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid &" \
    6:/etc/ppp/options.xl2tpd:"udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid &"; do
    file=${type#*:}
    started=${file#*:}
    file=${file%%:*}
    type=${type%%:*}
    mkdir -p /etc/ppp
    echo old >"$file" && chmod 0644 "$file"
    nvram set wan_connecttype="$type" ppoe_pwd=pw-3 pptpPPW=pw-5 l2tpPPW=pw-6 || fail "nvram set"
    rm -f /tmp/netmgr.out # the previous round's output holds the same line
    start_daemon netmgr
    wait_for 10 grep -qxF -- "$started" /tmp/netmgr.out
    stop_daemon netmgr
    expect_eq "$(stat -c %a "$file")" 600 "mode of $file (type $type)"
    grep -q "pw-$type" "$file" || fail "$file lacks the password: $(cat "$file")"
  done
}

# A message too long for the command buffer is taken off queue 204 and
# ignored; the command posted after it is carried out.
case_oversized_message_does_not_block_the_queue() {
  make_flash
  configure_dhcp_wan
  start_daemon netmgr
  wait_for 10 journal_has "udhcpd /etc/udhcpd.conf"
  "$TESTBIN/msgpeek" --send 204 9 2000 || fail "posting the oversized message"
  sendmsg 204 9 || fail "sendmsg 204 9"
  wait_for 10 eval '[ "$(grep -c "^udhcpd /etc/udhcpd.conf$" /sbx/journal)" = 2 ]'
  wait_for 10 grep -q "ignored an oversized message (type 9) on queue" /tmp/netmgr.out
  expect_eq "$("$TESTBIN/msgpeek" --stat 204)" "mode=0666 qnum=0" "queue 204 afterwards"
  stop_daemon netmgr
}

# The ISP login server on the deployment's server address, on loopback of the
# sandbox's own network namespace.
start_login_server() {
  local server port
  server=$(sed -n 's/^DHCPPLUS_SERVER:STRING=//p' "$ROUTER_BUILD_DIR/CMakeCache.txt")
  port=$(sed -n 's/^DHCPPLUS_PORT:STRING=//p' "$ROUTER_BUILD_DIR/CMakeCache.txt")
  ip addr add "$server/32" dev lo || fail "address $server on lo"
  dhcpplus_server --listen "$server" --port "$port" --user subscriber --password right-pw \
    >/tmp/login.out 2>&1 &
  LOGIN_PID=$!
  wait_for 5 grep -q ready /tmp/login.out
}

# WAN type 4: the first lease posts 21 and netmgr logs in.
login_case() {
  make_flash
  configure_dhcp_wan
  nvram set wan_connecttype=4 DHCP_plus_mtu=1500 DHCP_plus_Name=subscriber "DHCP_plus_Pwd=$1" ||
    fail "nvram set"
  start_login_server
  printf 'ip=10.9.0.2\nsubnet=255.255.255.0\nrouter=10.9.0.1\ndns=10.9.0.53\n' >/sbx/lease
  start_daemon netmgr
}

case_login_accepted_restarts_plain_dhcp() {
  login_case right-pw
  # After the login the client is restarted with the plain script, whose
  # "bound" then posts command 2.
  wait_for 20 journal_has "iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE"
  stop_daemon netmgr
  kill "$LOGIN_PID"
  expect_eq "$(grep -c '^udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid$' /sbx/journal)" 2 \
    "udhcpc starts"
  grep -qxF "        sendmsg 204 2 &" /etc/udhcpc.script || fail "plain bound command missing"
  grep -qxF "        sendmsg 204 3 &" /etc/udhcpc.script || fail "plain deconfig command missing"
  grep -q '^step=password .* pwd=ok ' /tmp/login.out || fail "server did not accept: $(cat /tmp/login.out)"
}

case_login_refused_keeps_login_script() {
  login_case wrong-pw
  # Three password tries and the exchange gives up; nothing more happens.
  wait_for 20 grep -q '^step=password ' /tmp/login.out
  sleep 3
  grep -q '^step=password .* pwd=ok ' /tmp/login.out && fail "server accepted a wrong password"
  stop_daemon netmgr
  kill "$LOGIN_PID"
  expect_eq "$(grep -c '^udhcpc ' /sbx/journal)" 1 "udhcpc starts"
  grep -qxF "        sendmsg 204 21 &" /etc/udhcpc.script || fail "login bound command replaced"
  grep -qxF "        sendmsg 204 22 &" /etc/udhcpc.script || fail "login deconfig command replaced"
  journal_has "iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE" && fail "WAN came up without login"
}

run_case "$@"
