#!/bin/bash
# The real kinwatch in the sandbox: the rule lines through the stand-in
# iptables, /proc/dns_log2 as a plain file under ROUTER_KERNEL_ROOT, and
# readers of /var/url.log that take the same fcntl lock while it writes.
. "$(dirname "$0")/lib.sh"

DNSLOG=$ROUTER_KERNEL_ROOT/proc/dns_log2

# record ADDRESS NAME: one 132-byte record (address, NUL-padded name).
record() {
  local a b c d
  IFS=. read -r a b c d <<<"$1"
  printf "\\x$(printf %02x "$a")\\x$(printf %02x "$b")\\x$(printf %02x "$c")\\x$(printf %02x "$d")"
  printf '%s' "$2"
  head -c $((128 - ${#2})) /dev/zero
}

kinwatch_running() { pgrep -x kinwatch >/dev/null; }
log_lines() { [ "$(($(wc -l </var/url.log) - 1))" -ge "$1" ]; }

case_logs_under_the_readers_lock() {
  nvram set fmg_enable_manage=1 || fail "nvram set"
  # 20 records from two hosts in turn: every record is logged; the first
  # pass writes six batches and leaves two lines waiting, the second seven.
  : >"$DNSLOG"
  for i in $(seq 1 10); do
    record 192.168.0.100 "www.site$i.com" >>"$DNSLOG"
    record 192.168.0.101 "www.site$i.com" >>"$DNSLOG"
  done
  expect_eq "$(stat -c %s "$DNSLOG")" 2640 "dns_log2 size"
  kinwatch >/tmp/kinwatch.out 2>&1
  expect_eq $? 0 "kinwatch's exit status (the logger runs on in the background)"
  wait_for 5 kinwatch_running
  wait_for 5 test -s /var/url.log
  expect_file /var/url.log '000
'
  # Two readers take the lock over and over while kinwatch writes two passes
  # (13 batches); each checks that the file holds still while it holds the
  # lock and is a whole log.
  local r pids=()
  for r in 1 2; do
    (
      end=$((SECONDS + 40))
      while [ $SECONDS -lt $end ] && ! log_lines 39; do
        "$TESTBIN/urllog_reader" /var/url.log 150 >>/tmp/reader$r.out || echo FAILED >>/tmp/reader$r.out
      done
    ) &
    pids+=($!)
  done
  wait_for 40 log_lines 39
  wait "${pids[@]}"
  for r in 1 2; do
    grep -v '^lines [0-9]*$' /tmp/reader$r.out | head -5 | while read -r l; do fail "reader $r: $l"; done
    grep -q '^lines 18$' /tmp/reader$r.out || fail "reader $r never saw the first pass: $(tail -n 3 /tmp/reader$r.out)"
  done
  expect_eq "$(head -n 1 /var/url.log)" 039 "counter line"
  grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2};192\.168\.0\.100;www\.site1\.com$' /var/url.log ||
    fail "first line: $(sed -n 2p /var/url.log)"
  expect_eq "$(sed -n '2,$p' /var/url.log | cut -d';' -f2,3 | head -n 4 | tr '\n' ' ')" \
    "192.168.0.100;www.site1.com 192.168.0.101;www.site1.com 192.168.0.100;www.site2.com 192.168.0.101;www.site2.com " \
    "first records"
  # SIGTERM ends the logger and leaves the rule in place.
  local pid
  pid=$(pgrep -x kinwatch)
  kill -TERM "$pid"
  wait_for 10 sh -c "! kill -0 $pid"
  expect_file /sbx/journal 'iptables -t mangle -D PREROUTING -p udp --dport 53 -i br0 -j ULOG
iptables -t mangle -A PREROUTING -p udp --dport 53 -i br0 -j ULOG
'
  expect_file /tmp/kinwatch.out 'iptables -t mangle -D PREROUTING -p udp --dport 53 -i br0 -j ULOG
iptables -t mangle -A PREROUTING -p udp --dport 53 -i br0 -j ULOG
'
}

case_setting_off_removes_the_rule() {
  nvram set fmg_enable_manage=0 || fail "nvram set"
  expect_status 0 kinwatch
  expect_file /sbx/journal 'iptables -t mangle -D PREROUTING -p udp --dport 53 -i br0 -j ULOG
killall -9 kinwatch
'
  [ ! -e /var/url.log ] || fail "url.log created with the setting off"
}

run_case "$@"
