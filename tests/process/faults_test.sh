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

queue_made() { ipcs -q | grep -q "^$1 "; }
sessions() { grep -c '^QUIT' /sbx/transcript 2>/dev/null; }
# capture SECONDS COUNT: br0's announcements arriving on host0.
capture() { sim_arpcap host0 "$1" "$2" "ffffffffffff020000000701" 2>/dev/null; }
connlimit() { od -An -tx1 "$ROUTER_KERNEL_ROOT/proc/vkproc/connlimit" | tr -d ' \n'; }

# Every daemon on full file systems. netmgr, trafmon and kinwatch write /etc,
# /tmp and /var. fwmgr writes the connection-limit record (its kernel
# directory is full too), /etc/ddns (command 17) and, for the DNS override
# (WAN up, command 18), /etc/bakresolv.conf and /etc/resolv.conf. logmail
# and arpguard write no file: they start and take their commands.
case_full_filesystems() {
  make_flash
  configure
  nvram set dnsen=1 dns_dns1=9.9.9.9 dns_dns2=149.112.112.112 natlimit_enble=1 \
    'natlimit_list=192.168.0.10;192.168.0.20;100;200' upnpen=0 ddns_en=0 \
    email_en=1 email_server=127.0.0.1 email_from=router@isp.sim email_to=admin@isp.sim \
    email_user=router email_pwd=wrong email_num=1 email_timeen=0 email_time=60 timezone=12 \
    arp_defence=1,1,0,1 || fail "nvram set"
  make_br0 192.168.0.1/24 02:00:00:00:07:01
  make_lan_port
  make_wan 10.9.0.2/24
  mkdir -p /etc/ppp /var
  echo "nameserver 10.9.0.53" >/etc/resolv.conf
  rm -f /etc/ddns
  full /etc
  full /var
  full /tmp
  full "$ROUTER_KERNEL_ROOT/proc/vkproc"
  "$TESTBIN/smtpsink" 127.0.0.1 25 /sbx/transcript mailpass >/sbx/sink.out 2>&1 &
  local sink=$!
  netmgr >/sbx/netmgr.out 2>/sbx/netmgr.err &
  local netmgr=$!
  trafmon >/sbx/trafmon.out 2>&1 &
  local trafmon=$!
  fwmgr >/sbx/fwmgr.out 2>/sbx/fwmgr.err &
  local fwmgr=$!
  logmail >/sbx/logmail.out 2>&1 &
  local logmail=$!
  arpguard >/sbx/arpguard.out 2>&1 &
  local arpguard=$!
  kinwatch >/sbx/kinwatch.out 2>&1
  wait_for 20 grep -q "cannot \(create\|write\) /etc/udhcpd.conf: No space left on device" /sbx/netmgr.out ||
    { echo "netmgr said:"; tail -n 5 /sbx/netmgr.out /sbx/netmgr.err; }
  wait_for 10 grep -q "createLogFile: failed." /sbx/kinwatch.out
  # fwmgr: the record at its start, the backup on WAN up (resolv.conf keeps
  # the WAN's server, which the DNS proxy rule then takes), /etc/ddns.
  wait_for 20 grep -qxF "fwmgr: cannot write $ROUTER_KERNEL_ROOT/proc/vkproc/connlimit: No space left on device" \
    /sbx/fwmgr.out || tail -n 5 /sbx/fwmgr.out
  sendmsg 203 2 && sendmsg 203 17 || fail "sendmsg 203"
  wait_for 10 grep -qxF "fwmgr: cannot write /etc/bakresolv.conf: the copy of /etc/resolv.conf is incomplete; DNS servers left as they are" /sbx/fwmgr.out
  wait_for 10 grep -qxF "fwmgr: cannot write /etc/ddns: exit status 1" /sbx/fwmgr.out
  expect_file /etc/resolv.conf 'nameserver 10.9.0.53
'
  journal_has "iptables -t nat -A PREROUTING -i br0 -p udp -d 192.168.0.1 --dport 53 -j DNAT --to 10.9.0.53:53" ||
    fail "DNS proxy rule with the WAN's server"
  # logmail: the refused mail, then command 1 with the right password.
  wait_for 20 grep -q "next try in" /sbx/logmail.out
  nvram set email_pwd=mailpass || fail "nvram set"
  sendmsg 210 1 || fail "sendmsg 210 1"
  wait_for 20 eval '[ "$(sessions)" -ge 1 ]'
  # arpguard: started with announcements off; command 1 turns them on.
  wait_for 20 queue_made 0x000000cf
  nvram set arp_defence=1,1,1,1 || fail "nvram set"
  sendmsg 207 1 || fail "sendmsg 207 1"
  expect_eq "$(capture 20 1 | wc -l)" 1 "announcements after command 1"
  # trafmon's first cycle runs free into /tmp/free.txt; a command taken after
  # it means the cycle is over.
  wait_for 20 journal_has free
  sendmsg 201 3 || fail "sendmsg 201 3"
  wait_for 10 eval '[ "$(ipcs -q | awk '\''$1 == "0x000000c9" {print $6}'\'')" = 0 ]'
  local p
  for p in netmgr trafmon fwmgr logmail arpguard; do
    running ${!p} || fail "$p ended: $(tail -3 /sbx/$p.out)"
  done
  # Space returns: the next write succeeds.
  rm -f /etc/.filler /var/.filler /tmp/.filler "$ROUTER_KERNEL_ROOT/proc/vkproc/.filler"
  sendmsg 204 9 || fail "sendmsg 204 9"
  wait_for 10 grep -qP "^option\tlease\t3600$" /etc/udhcpd.conf
  pkill -KILL -x kinwatch
  kinwatch >/sbx/kinwatch.out 2>&1
  wait_for 10 test -s /var/url.log
  expect_eq "$(head -c 3 /var/url.log)" "000" "url.log after space returned"
  sendmsg 203 18 && sendmsg 203 17 || fail "sendmsg 203"
  # Command 17 comes after 18: /etc/ddns written means both were taken.
  wait_for 10 eval '[ "$(cat /etc/ddns 2>/dev/null)" = 0 ]'
  expect_file /etc/bakresolv.conf 'nameserver 10.9.0.53
'
  expect_file /etc/resolv.conf 'nameserver 9.9.9.9
nameserver 149.112.112.112
'
  kill -KILL $fwmgr
  wait $fwmgr 2>/dev/null
  fwmgr >>/sbx/fwmgr.out 2>>/sbx/fwmgr.err &
  fwmgr=$!
  wait_for 20 eval '[ "$(connlimit)" = 01000000c0a8000ac0a8001464000000c8000000 ]' ||
    fail "connlimit record: $(connlimit)"
  for p in netmgr trafmon fwmgr logmail arpguard; do
    running ${!p} || fail "$p ended after space returned"
    kill -KILL ${!p}
    wait ${!p} 2>/dev/null
  done
  kill $sink
  pkill -KILL -x kinwatch
  grep -q 'runtime error\|AddressSanitizer' /sbx/*.out /sbx/*.err && fail "sanitizer report"
  umount "$ROUTER_KERNEL_ROOT/proc/vkproc" /tmp /var /etc
}

# empty_queue KEY [PID]: queue KEY (of PID's IPC namespace) holds nothing.
empty_queue() {
  [ "$(nsenter -t "${2:-$$}" --ipc "$TESTBIN/msgpeek" --stat "$1")" = "mode=0666 qnum=0" ]
}
hex() { od -An -tx1 | tr -d ' \n'; }

# Segments 205 (the system-log ring) and 201 (trafmon's hosts) exist with
# 16 bytes: the programs say "shmget failed", run on, and write nothing there.
# A second trafmon, in an IPC namespace of its own, finds segment 206 (the
# 16-byte system figures) with 8 bytes of 0xa5: the same message once, its
# host table made as usual, and the 8 bytes left as they were.
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
  unshare --ipc sh -c '"$0" --make 206 8 0xa5 && exec trafmon' "$TESTBIN/shmdump" >/tmp/trafmon206.out 2>&1 &
  local trafmon206=$!
  wait_for 10 grep -qx "shmget failed" /tmp/netmgr.out
  wait_for 10 grep -qx "shmget failed" /tmp/trafmon.out
  wait_for 10 grep -qx "shmget failed" /tmp/trafmon206.out
  wait_for 15 grep -qx "shmget failed" /tmp/logmail.out
  # Commands still work and nothing is written through the missing ring.
  sendmsg 204 9 || fail "sendmsg"
  wait_for 10 eval '[ "$(grep -c "^udhcpd /etc/udhcpd.conf$" /sbx/journal)" = 2 ]'
  # Each trafmon's first cycle runs free; a command taken after that means
  # the cycle, and its writing of the segments, is over.
  wait_for 20 eval '[ "$(journal_count free)" = 2 ]'
  sendmsg 201 3 && nsenter -t $trafmon206 --ipc sendmsg 201 3 || fail "sendmsg 201 3"
  wait_for 10 empty_queue 201
  wait_for 10 empty_queue 201 $trafmon206
  local p
  for p in $netmgr $trafmon $logmail $trafmon206; do running $p || fail "pid $p ended"; done
  expect_eq "$("$TESTBIN/shmdump" 205 16 | hex)" 00000000000000000000000000000000 "segment 205 untouched"
  expect_eq "$("$TESTBIN/shmdump" 201 16 | hex)" 00000000000000000000000000000000 "segment 201 untouched"
  expect_eq "$(grep -c "^shmget failed$" /tmp/trafmon206.out)" 1 "shmget failures of the second trafmon"
  expect_eq "$(nsenter -t $trafmon206 --ipc "$TESTBIN/shmdump" --id 201 | sed 's/.* //')" size=53252 \
    "segment 201 beside the short 206"
  expect_eq "$(nsenter -t $trafmon206 --ipc "$TESTBIN/shmdump" --id 206 | sed 's/.* //')" size=8 "segment 206's size"
  expect_eq "$(nsenter -t $trafmon206 --ipc "$TESTBIN/shmdump" 206 8 | hex)" a5a5a5a5a5a5a5a5 "segment 206 untouched"
  for p in $netmgr $trafmon $logmail $trafmon206; do kill -KILL $p; wait $p 2>/dev/null; done
  grep -q 'runtime error\|AddressSanitizer' /tmp/*.out /tmp/*.err && fail "sanitizer report"
}

# No queue can be created (msgmni 0 in the sandbox's IPC namespace): each
# daemon prints the msgget line and ends normally.
case_no_queue() {
  make_flash
  configure
  echo 0 >/proc/sys/kernel/msgmni || fail "msgmni"
  make_br0 192.168.0.1/24
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
