#!/bin/bash
# End-to-end tests of logmail in the router simulation (ctest label sim):
# netmgr writes the system log, logmail mails it over the WAN to the ISP's
# real mail server (Postfix with AUTH LOGIN, refusing bare newlines), which
# delivers into the mailbox these checks read.
#
#   bash sim/tests/logmail_test.sh BUILD_DIR CASE
. "$(dirname "$0")/lib.sh"

mailbox() { echo "$SIM_TMP/isp/mail/mail/admin"; }
mail_count() {
  local n
  n=$(grep -c '^From router@isp.sim ' "$(mailbox)" 2>/dev/null)
  echo "${n:-0}"
}
mails_at_least() { [ "$(mail_count)" -ge "$1" ]; }
# The records of every mail so far, in order, as "time message" in UTF-8.
mailed_records() {
  LC_ALL=C grep -a '^ [0-9-]\{10\} [0-9:]\{8\} system ' "$(mailbox)" 2>/dev/null |
    iconv -c -f GBK -t UTF-8 | sed 's/^ \(.\{19\}\) system /\1 /'
}
# The records of the ring, oldest first, as routerstat shows them.
ring_records() { sim_router routerstat | grep -a '^[0-9]\{4\}-'; }
# Every record of the ring was mailed, once and in ring order.
all_mailed() {
  local ring
  ring=$(ring_records)
  [ -n "$ring" ] && [ "$(mailed_records)" = "$ring" ]
}
ring_has() { ring_records | grep -qF "$1"; }
logmail_out() { cat "$SIM_TMP/router/logmail.log"; }

# fw_events "A B C D KIND"...: the router kernel reports attack events;
# once netmgr has logged them the kernel file is emptied again.
fw_events() {
  local fwlog=$SIM_TMP/router/kernel/proc/vkproc/fwlog e a b c d kind bytes=
  for e in "$@"; do
    read -r a b c d kind <<<"$e"
    bytes+=$(printf '\\%03o' "$a" "$b" "$c" "$d" 0 0 0 0 0 0 0 "$kind")
  done
  printf "$bytes" >"$fwlog"
  wait_until 30 "netmgr to log the attack events" ring_has "正在进行"
  : >"$fwlog"
  sleep 1.5 # a read under way when the file was emptied has been logged
}

# The ISP's mail server: stop / start inside the ISP host's namespaces.
mail_server() {
  local init
  init=$(pgrep -P "$SIM_PID_isp" | head -n 1)
  nsenter -t "$init" -m -p -n -- bash "$SIM_SRC/sim/hosts/isp-mail.sh" "$1" "$SIM_TMP/isp/mail" \
    >>"$SIM_TMP/isp/mail.out" 2>&1
}
mail_server_up() { sim_isp bash -c "exec 3<>/dev/tcp/$SIM_ISP_ADDR/25" 2>/dev/null; }
mail_server_down() { ! mail_server_up; }
logmail_refused() { grep -q 'connect error' "$SIM_TMP/router/logmail.log"; }
auth_failures() { grep -c 'SASL LOGIN authentication failed' "$SIM_TMP/isp/mail/maillog" 2>/dev/null; }
auth_failures_at_least() { [ "$(auth_failures)" -ge "$1" ]; }

# The default settings: "email_num" 1. netmgr's start record arrives in one
# mail with the documented header and the GBK table heading; attack events
# logged later arrive in later mails holding only the newer records.
case_mail_delivers_ring_records() {
  start_sim
  wait_until 90 "the first mail" mails_at_least 1
  local box
  box=$(mailbox)
  local h
  for h in "Subject: ORBEX K5 Router System Log" 'From: "router" <router@isp.sim>' \
    "To: admin@isp.sim" "Content-Type: text/plain; charset=GBK" \
    "+------------------------------------------------------+"; do
    grep -qxF -- "$h" "$box" || fail "the mail lacks the line: $h"
  done
  grep -qE '^Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} \+0800$' "$box" ||
    fail "no Date header with the zone of timezone 20: $(grep '^Date:' "$box")"
  # The heading row in GBK: 时间 (time), 类型 (type), 内容 (content).
  LC_ALL=C grep -qxF "$(printf '|       \312\261\274\344        | \300\340\320\315 |      \304\332\310\335                 |')" "$box" ||
    fail "the GBK table heading is not in the mail"
  expect_eq "$(mailed_records | sed 's/^[0-9-]* [0-9:]* //')" "系统初始化完成" "records of the first mail"
  grep -q 'bare <LF>' "$SIM_TMP/isp/mail/maillog" && fail "the server saw bare newlines"

  fw_events "10 0 0 7 1" "192 168 1 100 2"
  wait_until 90 "the attack events by mail" all_mailed
  mails_at_least 2 || fail "the events did not come in a later mail"
  expect_eq "$(mailed_records | grep -c '系统初始化完成')" 1 "mails of the start record"
  mailed_records | grep -qF "检测到192.168.1.100正在进行TCP SYN洪水攻击" || fail "no SYN flood record mailed"
  mailed_records | grep -qF "检测到10.0.0.7正在进行UDP洪水攻击" || fail "no UDP flood record mailed"
}

# A wrong password: the server refuses every login and nothing is
# delivered; the tries come ever further apart. Once the password is put
# right and command 1 posted, every pending record arrives in one mail.
case_wrong_password_backs_off() {
  start_sim email_pwd=wrongpass
  wait_until 90 "four refused logins" auth_failures_at_least 4
  expect_eq "$(mail_count)" 0 "mails delivered with a wrong password"
  expect_eq "$(logmail_out | grep -o 'next try in [0-9]* s' | head -n 4 | tr '\n' ,)" \
    "next try in 1 s,next try in 2 s,next try in 4 s,next try in 8 s," "logmail's waits"
  # 1 + 2 + 4 s lie between the first and the fourth refused login.
  local first fourth
  first=$(grep 'SASL LOGIN authentication failed' "$SIM_TMP/isp/mail/maillog" | sed -n 1p | cut -c1-15)
  fourth=$(grep 'SASL LOGIN authentication failed' "$SIM_TMP/isp/mail/maillog" | sed -n 4p | cut -c1-15)
  [ $(($(date -d "$fourth" +%s) - $(date -d "$first" +%s))) -ge 6 ] ||
    fail "the tries did not back off: first $first, fourth $fourth"
  fw_events "10 0 0 9 3"
  expect_eq "$(mail_count)" 0 "mails before the correction"
  sim_router nvram set email_pwd=mailpass || fail "nvram set"
  sim_router sendmsg 210 1 || fail "sendmsg 210 1"
  wait_until 60 "the mail after the correction" mails_at_least 1
  sleep 2 # time for a second mail, which must not come
  expect_eq "$(mail_count)" 1 "mails after the correction"
  all_mailed || fail "not every pending record was mailed: ring [$(ring_records)] mailed [$(mailed_records)]"
}

# The mail server stops for a while: the records gathered meanwhile arrive
# once it is back.
case_server_down_then_back() {
  start_sim
  wait_until 90 "the first mail" mails_at_least 1
  mail_server stop
  wait_until 30 "the mail server to stop" mail_server_down
  fw_events "10 0 0 5 1" "10 0 0 6 3"
  wait_until 30 "a refused connection" logmail_refused
  expect_eq "$(mail_count)" 1 "mails while the server is down"
  mail_server start
  wait_until 120 "the gathered records by mail" all_mailed
}

# The interval rule: "email_timeen" 1, "email_time" 5 and fewer records than
# "email_num". The test shortens a minute to 2 s (LOGMAIL_MINUTE_SECONDS), so
# the mail is due 10 s after the counter started (at logmail's start wait's
# end, 1 s in the tests): at least 7 s after the router is up, while a mail
# sent at the start would come within 2 s.
case_interval_rule() {
  export LOGMAIL_MINUTE_SECONDS=2
  start_sim email_num=5 email_timeen=1 email_time=5
  local t0 t1 t2
  t0=$(date +%s)
  wait_until 90 "the mail at the end of the interval" mails_at_least 1
  t1=$(date +%s)
  [ $((t1 - t0)) -ge 7 ] || fail "mailed $((t1 - t0)) s after the start, before the interval ran out"
  all_mailed || fail "the first mail does not hold the start record"
  fw_events "10 0 0 8 1"
  wait_until 60 "the second interval's mail" mails_at_least 2
  t2=$(date +%s)
  [ $((t2 - t1)) -ge 5 ] || fail "the second mail came $((t2 - t1)) s after the first, within the interval"
  all_mailed || fail "the second mail does not hold the new record"
}

run_case "$CASE"
