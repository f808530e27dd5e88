#!/bin/bash
# Resource faults: /etc, /var and /tmp on full file systems; a shared-memory
# segment that already exists with a smaller size; a command queue that
# cannot be created.
. "$(dirname "$0")/lib.sh"

configure() {
  nvram set lan_ip=192.168.0.1 lan_mask=255.255.255.0 wanparam=1 wan_connecttype=2 \
    dynamicMTU=1500 dhcps_en=1 dhcps_start=192.168.0.100 dhcps_end=192.168.0.200 \
    lease_time=60 dhcpStaticnum=0 fmg_enable_manage=1 email_en=0 arp_defence=1,1,1,1 ||
    fail "nvram set"
}

# full DIR: DIR on a small tmpfs of its own (holding a copy of what was
# there), filled up to the last byte.
full() {
  local dir=$1 size
  size=$(( $(du -sk "$dir" | cut -f1) + 2048 ))
  mkdir -p /sbx/copy$dir
  cp -a "$dir/." /sbx/copy$dir/ 2>/dev/null
  mount -t tmpfs -o size=${size}k,nr_inodes=100000 tmpfs "$dir" || { fail "tmpfs on $dir"; return 1; }
  cp -a /sbx/copy$dir/. "$dir/"
  dd if=/dev/zero of="$dir/.filler" bs=4k 2>/dev/null
  # The last partial page too.
  head -c 4096 /dev/zero >>"$dir/.filler" 2>/dev/null
  [ "$(df --output=avail "$dir" | tail -1)" -le 4 ] || fail "$dir is not full"
}

running() { kill -0 "$1" 2>/dev/null; }

case_full_filesystems() {
  make_flash
  configure
  mkdir -p /etc/ppp /var
  full /etc
  full /var
  full /tmp
  netmgr >/sbx/netmgr.out 2>/sbx/netmgr.err &
  local netmgr=$!
  trafmon >/sbx/trafmon.out 2>&1 &
  local trafmon=$!
  kinwatch >/sbx/kinwatch.out 2>&1
  wait_for 20 grep -q "cannot \(create\|write\) /etc/udhcpd.conf: No space left on device" /sbx/netmgr.out ||
    { echo "netmgr said:"; tail -n 5 /sbx/netmgr.out /sbx/netmgr.err; }
  wait_for 10 grep -q "createLogFile: failed." /sbx/kinwatch.out
  # trafmon's first cycle, 6 s after its start, writes /tmp/free.txt.
  sleep 8
  running $netmgr || fail "netmgr ended: $(tail -3 /sbx/netmgr.err)"
  running $trafmon || fail "trafmon ended: $(tail -3 /sbx/trafmon.out)"
  # Space returns: the next write succeeds.
  rm -f /etc/.filler /var/.filler /tmp/.filler
  sendmsg 204 9 || fail "sendmsg 204 9"
  wait_for 10 grep -qP "^option\tlease\t3600$" /etc/udhcpd.conf
  pkill -KILL -x kinwatch
  kinwatch >/sbx/kinwatch.out 2>&1
  wait_for 10 test -s /var/url.log
  expect_eq "$(head -c 3 /var/url.log)" "000" "url.log after space returned"
  running $netmgr || fail "netmgr ended after space returned"
  for p in $netmgr $trafmon; do kill -KILL $p; wait $p 2>/dev/null; done
  pkill -KILL -x kinwatch
  grep -q 'runtime error\|AddressSanitizer' /sbx/*.out /sbx/*.err && fail "sanitizer report"
  umount /tmp /var /etc
}

# Segments 205 (the system-log ring) and 201 (trafmon's hosts) exist with
# 16 bytes: the programs say "shmget failed", run on, and write nothing there.
case_small_segments() {
  make_flash
  configure
  "$TESTBIN/shmdump" --make 205 16 || fail "segment 205"
  "$TESTBIN/shmdump" --make 201 16 || fail "segment 201"
  netmgr >/tmp/netmgr.out 2>/tmp/netmgr.err &
  local netmgr=$!
  trafmon >/tmp/trafmon.out 2>&1 &
  local trafmon=$!
  logmail >/tmp/logmail.out 2>&1 &
  local logmail=$!
  wait_for 10 grep -qx "shmget failed" /tmp/netmgr.out
  wait_for 10 grep -qx "shmget failed" /tmp/trafmon.out
  wait_for 15 grep -qx "shmget failed" /tmp/logmail.out
  # Commands still work and nothing is written through the missing ring.
  sendmsg 204 9 || fail "sendmsg"
  wait_for 10 eval '[ "$(grep -c "^udhcpd /etc/udhcpd.conf$" /sbx/journal)" = 2 ]'
  sleep 7  # trafmon's first cycle
  for p in $netmgr $trafmon $logmail; do running $p || fail "pid $p ended"; done
  expect_eq "$("$TESTBIN/shmdump" 205 16 | od -An -tx1 | tr -d ' \n')" \
    00000000000000000000000000000000 "segment 205 untouched"
  expect_eq "$("$TESTBIN/shmdump" 201 16 | od -An -tx1 | tr -d ' \n')" \
    00000000000000000000000000000000 "segment 201 untouched"
  for p in $netmgr $trafmon $logmail; do kill -KILL $p; wait $p 2>/dev/null; done
  grep -q 'runtime error\|AddressSanitizer' /tmp/*.out /tmp/*.err && fail "sanitizer report"
}

# No queue can be created (msgmni 0 in the sandbox's IPC namespace): each
# daemon prints the msgget line and ends normally.
case_no_queue() {
  make_flash
  configure
  echo 0 >/proc/sys/kernel/msgmni || fail "msgmni"
  ip link add br0 type bridge && ip addr add 192.168.0.1/24 dev br0 && ip link set br0 up
  local prog
  for prog in netmgr trafmon logmail arpguard fwmgr; do
    timeout 30 $prog >/tmp/$prog.out 2>&1
    expect_eq $? 0 "$prog's exit status"
    grep -qx "msgget failed nmsgid=-1" /tmp/$prog.out || fail "$prog: no msgget line: $(tail -3 /tmp/$prog.out)"
    grep -q "^errno = 28 , errstr: No space left on device$" /tmp/$prog.out ||
      fail "$prog: no errno line: $(tail -3 /tmp/$prog.out)"
  done
}

run_case "$@"
