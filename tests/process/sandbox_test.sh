#!/bin/bash
# The sandbox itself and the stand-in tools, checked from inside.
. "$(dirname "$0")/lib.sh"

case_inside() {
  local pid
  pid=$(sh -c 'echo $$')
  [ "$pid" -ge 12 ] || fail "a new process got pid $pid, expected 12 or more"
  expect_eq "$NVRAM_FILE" /sbx/nvram.conf "NVRAM_FILE"
  expect_eq "$ROUTER_KERNEL_ROOT" /sbx/kernel "ROUTER_KERNEL_ROOT"
  expect_eq "${PATH%%:*}" /sbx/bin "first PATH entry"
  expect_eq "$(command -v iptables)" /sbx/bin/iptables "iptables found first"
  expect_eq "$(command -v nvram)" "$ROUTER_BUILD_DIR/bin/nvram" "nvram from the build"
  [ -d /sbx/kernel/proc/vkproc ] || fail "no /sbx/kernel/proc/vkproc"
  expect_eq "$(cat /proc/1/comm)" bash "pid 1 of the sandbox's own /proc"
  ip -o link show lo | grep -q 'LOOPBACK,UP' || fail "loopback is not up"
  expect_eq "$(ls /sys/class/net)" lo "interfaces of the new network namespace"
  expect_status 0 sh -c 'echo x >/etc/sandbox-write-test'
  expect_status 1 "$TESTBIN/msgpeek" --stat 204 2>/dev/null
}

case_standins() {
  local nl=$'\n'
  : >/sbx/journal
  local tool
  for tool in iptables arptables tc ifconfig route brctl vconfig switch udhcpc udhcpd pppd xl2tpd pptp \
    killall free httpd upnp inadyn; do
    [ "$(readlink -f "/sbx/bin/$tool")" = "$ROUTER_SOURCE_DIR/tests/standins/standin" ] ||
      fail "$tool is not the stand-in"
  done
  expect_status 0 iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE
  expect_status 0 tc qdisc add dev br0 root handle 1: htb "default 10" "two${nl}lines" ''
  expect_status 0 sh -c 'killall -9 udhcpd; free'
  expect_file /sbx/journal 'iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE
tc qdisc add dev br0 root handle 1: htb default 10 two\nlines 
killall -9 udhcpd
free
'
  # A hook runs after journaling, with the arguments; its status is the tool's.
  printf '#!/bin/sh\necho "hook $STANDIN_NAME: $*"\nexit 3\n' >/sbx/behave/route
  chmod +x /sbx/behave/route
  expect_eq "$(route add default gw 10.0.0.1)" "hook route: add default gw 10.0.0.1" "hook output"
  expect_status 3 route del default
  expect_eq "$(tail -n 2 /sbx/journal)" "route add default gw 10.0.0.1
route del default" "journal of hooked tool"
  # With <tool>.stay the stand-in runs until signalled, named as the tool.
  touch /sbx/behave/pppd.stay
  pppd plugin rp-pppoe.so eth2.2 &
  local p=$!
  wait_for 10 grep -q '^pppd plugin' /sbx/journal
  expect_eq "$(cat /proc/$p/comm)" pppd "name of the staying stand-in"
  kill -TERM $p
  wait $p
  expect_eq "$?" 0 "status of a stand-in stopped with SIGTERM"
}

case_udhcpc() {
  cat >/tmp/ev.sh <<'SCRIPT'
#!/bin/sh
echo "$1 if=$interface ip=$ip mask=$mask subnet=$subnet router=$router dns=$dns" >>/tmp/events
SCRIPT
  chmod +x /tmp/ev.sh
  # Without a lease file udhcpc only journals.
  expect_status 0 udhcpc -i eth2.2 -s /tmp/ev.sh -p /var/run/udhcpc.pid
  [ ! -e /tmp/events ] || fail "the script ran without a lease"
  expect_eq "$(tail -n 1 /sbx/journal)" "udhcpc -i eth2.2 -s /tmp/ev.sh -p /var/run/udhcpc.pid" "journal line"
  [ -s /var/run/udhcpc.pid ] || fail "no pid file"
  printf 'ip=10.1.2.3\nsubnet=255.255.0.0\nrouter=10.1.0.1\ndns=10.1.0.2 10.1.0.3\nevents=deconfig bound\n' >/sbx/lease
  expect_status 0 udhcpc -i eth2.2 -s /tmp/ev.sh -p /var/run/udhcpc.pid
  expect_file /tmp/events 'deconfig if=eth2.2 ip=10.1.2.3 mask=16 subnet=255.255.0.0 router=10.1.0.1 dns=10.1.0.2 10.1.0.3
bound if=eth2.2 ip=10.1.2.3 mask=16 subnet=255.255.0.0 router=10.1.0.1 dns=10.1.0.2 10.1.0.3
'
  # Later events, fired by a test.
  printf 'ip=10.9.9.9\nmask=24\ninterface=wan9\n' >/sbx/lease
  expect_status 0 udhcpc-event renew
  expect_eq "$(tail -n 1 /tmp/events)" "renew if=wan9 ip=10.9.9.9 mask=24 subnet= router= dns=" "renew event"
}

run_case "$@"
