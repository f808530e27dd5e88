#!/bin/bash
# The real trafmon in the sandbox: a LAN bridge br0, the router kernel's
# files under ROUTER_KERNEL_ROOT (the page list, a sparse file standing in
# for /dev/mem with two accounting pages, the connection counts) and the
# stand-in tools. trafmon waits 6 s before its first cycle.
. "$(dirname "$0")/lib.sh"

K=$ROUTER_KERNEL_ROOT

# le32 N...: the numbers as 32-bit little-endian bytes.
le32() {
  local n
  for n in "$@"; do
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((n & 255)) $((n >> 8 & 255)) $((n >> 16 & 255)) $((n >> 24 & 255)))"
  done
}

# entry PHYS INDEX PSENT BSENT PRECV BRECV: one page entry, as the kernel writes it.
entry() {
  le32 "$3" "$4" "$5" "$6" | dd of="$K/dev/mem" bs=1 seek=$(($1 + 16 * $2)) conv=notrunc status=none
}

# A /16 LAN, two pages: physical 0x10000 for 192.168.0.x, 0x11000 for
# 192.168.5.x (listed first: trafmon sorts them).
setup_kernel() {
  make_br0 192.168.0.1/16
  ip neigh add 192.168.0.100 lladdr 02:00:00:00:01:0a dev br0 nud permanent || fail "ARP entry"
  truncate -s 1M "$K/dev/mem"
  printf 'addr=%d third=5 second=0\naddr=%d third=0 second=0\n' $((0x80011000 - 4294967296)) \
    $((0x80010000 - 4294967296)) >"$K/proc/vkproc/account"
  entry $((0x10000)) 100 10 1000 20 20000
  entry $((0x10000)) 8 0 0 5 500 # received only: no host
  entry $((0x11000)) 7 1 64 2 128
  { printf '\xc0\xa8\x00\x64'; le32 3 0 0; } >"$K/proc/vkproc/currconn"
  cat >/sbx/behave/free <<'SH'
#!/bin/sh
echo "              total        used        free      shared  buff/cache   available"
echo "Mem:          29000       12000       16384           0         600        9000"
SH
  chmod +x /sbx/behave/free
}


json() { routerstat --json 2>/dev/null; }
json_has() { json | grep -qF -- "$1"; }
# hexdump SIZE: segment 201's first SIZE bytes, hex, 16 a line.
hexdump201() { "$TESTBIN/shmdump" 201 "$1" | od -An -v -tx1 | sed 's/^ //'; }

H100='{"addr":"192.168.0.100","mac":"02:00:00:00:01:0a","pkts_sent":10,"pkts_recv":20,"bytes_sent":1000,"bytes_recv":20000,"up_rate":0,"down_rate":0,"conns":3}'
H5_7='{"addr":"192.168.5.7","mac":"00:00:00:00:00:00","pkts_sent":1,"pkts_recv":2,"bytes_sent":64,"bytes_recv":128,"up_rate":0,"down_rate":0,"conns":0}'

case_fills_host_table() {
  setup_kernel
  start_daemon trafmon /tmp/trafmon.out
  wait_for 20 json_has "\"hosts\":[$H100,$H5_7]"
  json_has '"system":{"cpu":' || fail "no system figures: $(json)"
  json | grep -q '"mem":50,"wan_up":0,"wan_down":0}}$' || fail "memory or WAN figures: $(json)"
  local cpu
  cpu=$(json | sed -n 's/.*"cpu":\([-0-9]*\).*/\1/p')
  [ "$cpu" -ge 0 ] && [ "$cpu" -le 100 ] || fail "CPU percent $cpu"

  # The same records byte by byte: N = 2, then the first record.
  expect_file <(hexdump201 56) '02 00 00 00 c0 a8 00 64 0a 00 00 00 14 00 00 00
e8 03 00 00 20 4e 00 00 00 00 00 00 00 00 00 00
03 00 00 00 30 32 3a 30 30 3a 30 30 3a 30 30 3a
30 31 3a 30 61 00 00 00
'
  # Traffic in the next second shows as that cycle's rate.
  entry $((0x10000)) 100 12 1400 25 25000
  wait_for 5 json_has '"bytes_recv":25000,"up_rate":400,"down_rate":5000'
  grep -qxF "iptables -t filter -F account" /sbx/journal || fail "no flush of chain account"
  grep -qxF "iptables -t filter -A account -j ACCOUNT --addr 192.168.0.0/16 --tname input_table" /sbx/journal ||
    fail "no accounting rule: $(cat /sbx/journal)"
  expect_eq "$(grep -c '^free$' /sbx/journal)" 1 "free runs (every 64th cycle)"
  [ -s /tmp/trafmon.out ] && fail "trafmon printed: $(cat /tmp/trafmon.out)"
  kill -KILL "$PID_trafmon"
}

case_only_sigkill_ends_it_and_a_restart_attaches() {
  setup_kernel
  start_daemon trafmon /tmp/trafmon.out
  wait_for 20 json_has "\"hosts\":[$H100,$H5_7]"
  local sig
  for sig in HUP INT QUIT TERM USR1 USR2 PIPE CHLD; do
    kill -"$sig" "$PID_trafmon" || fail "kill -$sig"
  done
  entry $((0x10000)) 100 11 1100 21 21000
  wait_for 5 json_has '"bytes_recv":21000'
  kill -0 "$PID_trafmon" || fail "trafmon ended on a catchable signal"
  local before
  before=$("$TESTBIN/shmdump" --id 201)
  kill -KILL "$PID_trafmon"
  wait "$PID_trafmon" 2>/dev/null

  # The segments outlive it; a new instance shows the old figures until it
  # overwrites them, in the same segment.
  entry $((0x10000)) 100 13 1300 23 23000
  start_daemon trafmon /tmp/trafmon.out
  json_has '"bytes_recv":21000' || fail "old figures gone after the restart: $(json)"
  wait_for 20 json_has '"bytes_recv":23000'
  expect_eq "$("$TESTBIN/shmdump" --id 201)" "$before" "segment 201 after the restart"
  kill -KILL "$PID_trafmon"
}

case_routerstat_without_monitor() {
  routerstat >/tmp/text 2>/tmp/err
  expect_eq "$?" 1 "routerstat status without the system log"
  expect_file /tmp/text 'routerstat: host table (segment 201) absent: the traffic monitor is not running
routerstat: system figures (segment 206) absent: the traffic monitor is not running
'
  expect_eq "$(routerstat --json 2>/dev/null)" '{"count":0,"next":0,"records":[],"hosts":"absent","system":"absent"}' "json"
}

run_case "$@"
