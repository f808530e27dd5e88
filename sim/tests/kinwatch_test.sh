#!/bin/bash
# kinwatch in the router simulation (ctest label sim): the LAN host's real
# DNS queries reach br0, the ULOG rule (NFLOG in this kernel) hands them to
# the simulated DNS log module, kinwatch reads /proc/dns_log2 and writes
# /var/url.log.
#
#   bash sim/tests/kinwatch_test.sh BUILD_DIR CASE
. "$(dirname "$0")/lib.sh"

# What fwmgr's loadkinwatch does at fwmgr's start (kill, wait,
# /bin/kinwatch &), done again after the setting changed.
restart_kinwatch() {
  sim_router sh -c 'killall -9 kinwatch 1>/dev/null 2>&1; sleep 0.3; /bin/kinwatch >>/sim/kinwatch.log 2>&1 &'
}
dns_rule() { mangle_rules | grep -c -- '-A PREROUTING -i br0 -p udp -m udp --dport 53 -j NFLOG'; }
has_dns_rule() { [ "$(dns_rule)" = 1 ]; }
no_dns_rule() { [ "$(dns_rule)" = 0 ]; }
kinwatch_running() { [ "$(router_procs kinwatch)" = 1 ]; }
no_kinwatch() { [ "$(router_procs kinwatch)" = 0 ]; }
fresh_log() { [ "$(router_file /var/url.log)" = 000 ]; }
url_lines() { [ "$(router_file /var/url.log | wc -l)" -ge "$1" ]; }
dnslog_has() { grep -qxF "dnslog: $1" "$SIM_TMP/router/dnslog.log"; }
# lookup NAME: one lookup from the LAN host through the router. Nothing
# answers on the router yet; the query only has to reach br0.
lookup() { sim_lan timeout 3 busybox nslookup "$1." 192.168.0.1 >/dev/null 2>&1; }

case_kinwatch_logs_lan_lookups() {
  start_sim fmg_enable_manage=1
  wait_lease
  local lan
  lan=$(sim_lease_value ip)
  # fwmgr starts kinwatch 5 s after its own start (through the journaling
  # wrapper); a lookup before that would land in the log it then empties.
  wait_until 20 "fwmgr to start kinwatch" journal_has kinwatch
  wait_until 10 "the DNS logging rule" has_dns_rule
  wait_until 10 "kinwatch running" kinwatch_running
  wait_until 10 "a fresh url.log (000)" fresh_log
  # mail.example.com differs from www.example.com only in its leftmost
  # label: one line. The last lookup waits for a third line of its batch.
  local name
  for name in www.example.com mail.example.com www.example.org ftp.example.net www.example.com; do
    lookup "$name"
    wait_until 10 "the module to log $name" dnslog_has "$lan $name"
  done
  wait_until 30 "the first batch in url.log" url_lines 4
  sleep 6 # one more pass of kinwatch: the fourth line stays waiting
  local log
  log=$(router_file /var/url.log)
  expect_eq "$(sed -n 1p <<<"$log")" 003 "counter line"
  expect_eq "$(sed -n '2,$p' <<<"$log" | cut -d';' -f2,3 | tr '\n' ' ')" \
    "$lan;www.example.com $lan;www.example.org $lan;ftp.example.net " "logged lookups"
  expect_eq "$(grep -cE "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2};$lan;[a-z.]+\$" <<<"$log")" 3 \
    "lines of the form time;address;name"
  expect_journal "iptables -t mangle -D PREROUTING -p udp --dport 53 -i br0 -j ULOG"
  expect_journal "iptables -t mangle -A PREROUTING -p udp --dport 53 -i br0 -j ULOG"

  # Setting 0 and kinwatch started again: rule gone, no kinwatch left.
  sim_router nvram set fmg_enable_manage=0 || fail "nvram set"
  restart_kinwatch
  wait_until 10 "no kinwatch left" no_kinwatch
  wait_until 10 "the DNS logging rule to go" no_dns_rule
  grep -qxF "killall -9 kinwatch" "$SIM_TMP/router/kinwatch.log" || fail "kinwatch did not stop the others"
  # Without the rule a lookup is no longer logged.
  lookup www.unlogged.org
  sleep 1
  dnslog_has "$lan www.unlogged.org" && fail "a lookup was logged after the rule was removed"
}

run_case "$CASE"
