#!/bin/bash
# The real logmail in the sandbox: netmgr writes segment 205, logmail mails
# its records to a scripted SMTP server (smtpsink) on the sandbox's loopback.
. "$(dirname "$0")/lib.sh"

# netmgr with a static WAN (no lease to wait for) and the mail settings.
configure() {
  nvram set lan_ip=192.168.0.1 lan_mask=255.255.255.0 wan_connecttype=1 wan_ip=10.9.0.2 \
    wan_mask=255.255.255.0 wan_gateway=10.9.0.1 dhcps_en=0 email_en=1 email_server=127.0.0.1 \
    email_from=router@isp.sim email_to=admin@isp.sim email_user=router email_pwd=mailpass \
    email_num=1 email_timeen=0 email_time=60 timezone=12 "$@" || fail "nvram set"
}

start_all() {
  make_flash
  "$TESTBIN/smtpsink" 127.0.0.1 25 /tmp/transcript "$@" >/tmp/sink.out 2>&1 &
  wait_for 5 grep -q ready /tmp/sink.out
  start_daemon netmgr /tmp/netmgr.out
  wait_for 10 start_record
  start_daemon logmail /tmp/logmail.out
}

records() { routerstat | grep -a '^[0-9]\{4\}-'; }
start_record() { records | grep -q '系统初始化完成'; }
sessions() { grep -c '^QUIT' /tmp/transcript 2>/dev/null; }
sessions_at_least() { [ "$(sessions)" -ge "$1" ]; }
refusals_at_least() { [ "$(grep -c 'next try in' /tmp/logmail.out)" -ge "$1" ]; }

# The bytes a mail of one GBK record takes on the wire, Date left out.
expected_session() {
  printf 'EHLO testhost\r\nAUTH LOGIN cm91dGVy\r\nbWFpbHBhc3M=\r\nMAIL FROM:<router@isp.sim>\r\n'
  printf 'RCPT TO:<admin@isp.sim>\r\nDATA\r\nSubject: ORBEX K5 Router System Log\r\n'
  printf 'From: "router" <router@isp.sim>\r\nTo: admin@isp.sim\r\nDATE\r\n'
  printf 'Content-Type: text/plain; charset=GBK\r\n\r\n\r\n'
  printf '+------------------------------------------------------+\r\n'
  printf '|       \312\261\274\344        | \300\340\320\315 |      \304\332\310\335                 |\r\n'
  printf '+------------------------------------------------------+\r\n'
  local r
  for r in "$@"; do printf ' %s system %s\r\n' "${r:0:19}" "${r:20}"; done
  printf '\r\n.\r\nQUIT\r\n'
}

# The segment's records arrive in a mail; the next mail holds only the
# records written after it.
case_mails_new_records_of_the_ring() {
  configure
  start_all
  wait_for 30 sessions_at_least 1
  local first
  first=$(records | head -n 1 | iconv -f UTF-8 -t GBK)
  sed 's/^Date: [A-Z][a-z][a-z], [0-9][0-9] [A-Z][a-z][a-z] [0-9]\{4\} [0-9:]\{8\} +0000\r$/DATE\r/' \
    /tmp/transcript >/tmp/got
  expected_session "$first" >/tmp/want
  cmp -s /tmp/want /tmp/got || fail "first mail differs: $(diff <(cat -A /tmp/want) <(cat -A /tmp/got))"
  # Two attack events: one more mail with just those two records.
  printf '\012\000\000\007\000\000\000\000\000\000\000\001\300\250\001\144\000\000\000\000\000\000\000\002' \
    >"$ROUTER_KERNEL_ROOT/proc/vkproc/fwlog"
  wait_for 10 sh -c 'routerstat | grep -q 正在进行'
  : >"$ROUTER_KERNEL_ROOT/proc/vkproc/fwlog"
  wait_for 30 sessions_at_least 2
  sleep 1.5
  local all n
  n=$(records | wc -l)
  all=$(grep -ac ' system ' /tmp/transcript)
  expect_eq "$all" "$n" "records mailed (each once) against records in the ring"
  grep -a ' system ' /tmp/transcript | tail -n +2 | iconv -f GBK -t UTF-8 | grep -q '检测到192.168.1.100正在进行TCP SYN洪水攻击' ||
    fail "the SYN flood record was not mailed"
  kill "$PID_logmail"
}

# The server refuses the password: logmail backs off (1 s, then 2 s ...) and
# mails nothing; command 1 after the store has the right password brings
# every pending record in one mail.
case_command_one_after_refused_logins() {
  configure email_pwd=wrong
  start_all mailpass
  wait_for 30 refusals_at_least 3
  expect_eq "$(grep -o 'next try in [0-9]* s' /tmp/logmail.out | head -n 3 | tr '\n' ,)" \
    "next try in 1 s,next try in 2 s,next try in 4 s," "waits between tries"
  grep -qxF 'Autherntication error' /tmp/logmail.out || fail "no reply message: $(cat /tmp/logmail.out)"
  expect_eq "$(sessions)" 0 "mails sent with the wrong password"
  nvram set email_pwd=mailpass || fail "nvram set"
  sendmsg 210 1 || fail "sendmsg"
  wait_for 15 sessions_at_least 1
  expect_eq "$(grep -ac ' system ' /tmp/transcript)" "$(records | wc -l)" "records in the one mail"
  kill "$PID_logmail"
}

run_case "$@"
