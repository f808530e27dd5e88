#!/bin/bash
# The configuration store under load and faults: writers at the same time as
# readers, writers killed in the middle of a write, and damaged store files
# handed to every program.
. "$(dirname "$0")/lib.sh"

store=$NVRAM_FILE

# Eight processes each set 500 keys, one atomic write per key, while two
# readers read the store over and over: every reading holds, for every
# writer, a gapless run of its keys that never shrinks (no lost update, no
# half file), and in the end all 4000 keys are there. (Each write rewrites
# the whole store, so the work grows with the square of the keys: 500 a
# writer is a quarter of the time of 1000, still 4000 contended writes.)
case_eight_writers() {
  rm -f "$store" /tmp/stop
  nvram set other=1
  local r1 r2 pids=() i
  "$TESTBIN/storeload" read /tmp/stop 8 >/tmp/reads1 2>/tmp/read1.err &
  r1=$!
  "$TESTBIN/storeload" read /tmp/stop 8 >/tmp/reads2 2>/tmp/read2.err &
  r2=$!
  for i in $(seq 0 7); do
    "$TESTBIN/storeload" write "$i" 500 2>/tmp/write$i.err &
    pids+=($!)
  done
  for i in $(seq 0 7); do
    wait "${pids[$i]}" || fail "writer $i: $(cat /tmp/write$i.err)"
  done
  touch /tmp/stop
  wait $r1 || fail "reader 1: $(cat /tmp/read1.err)"
  wait $r2 || fail "reader 2: $(cat /tmp/read2.err)"
  echo "readings: $(cat /tmp/reads1) and $(cat /tmp/reads2)"
  [ "$(cat /tmp/reads1)" -gt 10 ] || fail "reader 1 read only $(cat /tmp/reads1) times"
  "$TESTBIN/storeload" check 8 500 || fail "the final store lacks keys"
  expect_eq "$(nvram get other)" 1 "the key nobody wrote"
  expect_eq "$(grep -c . "$store")" 4001 "lines of the final store"
  [ ! -e "$store.tmp" ] || fail "temporary file left"
}

# A store of about 40 KB, so a slowed write takes ten chunks.
make_padded_store() {
  rm -f "$store" "$store.tmp"
  local pad i
  pad=$(head -c 4000 /dev/zero | tr '\0' p)
  for i in $(seq 0 9); do printf 'pad%d=%s\n' "$i" "$pad"; done >"$store"
}

# A writer killed with SIGKILL at 100 moments (before, during and after its
# write): the store always parses without a warning and holds the old or the
# new value of the key being written; the only temporary file is the one
# name the next write truncates, never larger than a whole store.
case_killed_writers() {
  make_padded_store
  nvram set victim=old-0
  local i old=old-0 new got pid delay size tmpsize kinds="" killed=0
  for i in $(seq 1 100); do
    new="new-$i-$(head -c $((RANDOM % 3000)) /dev/zero | tr '\0' n)"
    NVRAM_TEST_SLOW_WRITE=$((1000 + RANDOM % 3000)) nvram set "victim=$new" 2>/dev/null &
    pid=$!
    delay=$((RANDOM % 60))
    sleep "$(printf '0.%03d' "$delay")"
    kill -KILL $pid 2>/dev/null && killed=$((killed + 1))
    wait $pid 2>/dev/null
    nvram show >/dev/null 2>/tmp/show.err || fail "round $i: nvram show failed"
    [ -s /tmp/show.err ] && fail "round $i: the store has malformed lines: $(head -3 /tmp/show.err)"
    got=$(nvram get victim)
    if [ "$got" = "$new" ]; then kinds="${kinds}n"; old=$new
    elif [ "$got" = "$old" ]; then kinds="${kinds}o"
    else fail "round $i: victim holds neither value (${got:0:40}...)"; fi
    expect_eq "$(nvram get pad3 | wc -c)" 4001 "round $i: a key not written"
    ls "$(dirname "$store")" | grep -F "$(basename "$store")" |
      grep -vx "$(basename "$store")\(\.tmp\|\.lock\)\?" >/tmp/extra
    [ -s /tmp/extra ] && fail "round $i: other files beside the store: $(cat /tmp/extra)"
    if [ -e "$store.tmp" ]; then
      size=$(stat -c %s "$store")
      tmpsize=$(stat -c %s "$store.tmp")
      [ "$tmpsize" -le $((size + 4000)) ] || fail "round $i: temporary file of $tmpsize bytes"
    fi
  done
  echo "$killed writers killed; old/new seen: $kinds"
  case $kinds in *o*) ;; *) fail "no kill came before the write was complete" ;; esac
  expect_status 0 nvram set victim=last
  expect_eq "$(nvram get victim)" last "a write after the kills"
  [ ! -e "$store.tmp" ] || fail "temporary file left after a good write"
}

# The settings every program needs to start, in a file with damage in the
# middle: a line of 1 MB, NUL bytes, or a file cut off inside a line.
write_damaged_store() {
  local kind=$1
  {
    printf 'lan_ip=192.168.0.1\nlan_mask=255.255.255.0\nwanparam=1\nwan_connecttype=2\n'
    printf 'dynamicMTU=1500\ndhcps_en=1\ndhcps_start=192.168.0.100\ndhcps_end=192.168.0.200\n'
    case $kind in
      mb_line) printf 'big='; head -c $((1 << 20)) /dev/zero | tr '\0' b; printf '\n' ;;
      nul) printf 'nul=a\0b\n\0\0\0\nnul2=\0\n' ;;
      truncated) ;;
    esac
    printf 'lease_time=60\ndhcpStaticnum=0\nfmg_enable_manage=1\narp_defence=1,1,1,2\n'
    printf 'email_en=0\nemail_server=mail.isp.sim\n'
    [ "$kind" = truncated ] && printf 'wan_connecttype_cut'
  } >"$store"
}

running() { kill -0 "$1" 2>/dev/null; }

case_damaged_files() {
  make_flash
  ip link add br0 type bridge 2>/dev/null && ip link set br0 up
  local kind prog pid
  for kind in mb_line nul truncated; do
    write_damaged_store $kind
    : >/sbx/journal
    declare -A pids=()
    for prog in netmgr trafmon logmail arpguard fwmgr; do
      $prog >/tmp/$prog.out 2>/tmp/$prog.err &
      pids[$prog]=$!
    done
    kinwatch >/tmp/kinwatch.out 2>/tmp/kinwatch.err
    expect_eq $? 0 "$kind: kinwatch's start"
    # netmgr read past the damage: the DHCP server of the settings after it.
    wait_for 15 grep -qxF "udhcpd /etc/udhcpd.conf" /sbx/journal
    grep -qP "^option\tlease\t3600$" /etc/udhcpd.conf ||
      fail "$kind: udhcpd.conf lacks the lease time"
    wait_for 10 eval "pgrep -x kinwatch >/dev/null"
    sleep 1
    # logmail, arpguard and fwmgr read their settings after a 5-second
    # wait; trafmon reads no setting.
    for prog in netmgr logmail arpguard fwmgr; do
      wait_for 15 grep -q 'line skipped' /tmp/$prog.err ||
        fail "$kind: $prog did not report the skipped line"
    done
    for prog in netmgr trafmon logmail arpguard fwmgr; do
      running "${pids[$prog]}" || fail "$kind: $prog ended: $(tail -3 /tmp/$prog.out /tmp/$prog.err)"
    done
    grep -q 'line skipped' /tmp/kinwatch.err || fail "$kind: kinwatch did not report the skipped line"
    for prog in netmgr trafmon logmail arpguard fwmgr; do
      kill -KILL "${pids[$prog]}" 2>/dev/null
      wait "${pids[$prog]}" 2>/dev/null
    done
    pkill -KILL -x kinwatch
    wait_for 5 eval '! pgrep -x kinwatch'
    ipcrm -a 2>/dev/null
  done
}

run_case "$@"
