#!/bin/bash
# The whole router in the simulation (ctest label sim): the start-up script
# and the staging root, a 60-second soak (sim/soak.sh), and convergence after
# trafmon, kinwatch, logmail, arpguard or fwmgr is killed with SIGKILL at a
# random moment and started again.
#
#   bash sim/tests/system_test.sh BUILD_DIR CASE
. "$(dirname "$0")/lib.sh"
. "$SIM_SRC/sim/soak.sh"

# Every daemon of the router with the URL logger and the ARP defence on.
WHOLE=(fmg_enable_manage=1 arp_defence=1,1,1,2)

# The pids of the live (not zombie) processes named NAME.
daemon_pids() { sim_daemons | awk -v n="$1" '$1 == n && $2 != "-" && $3 != "Z" {print $2}' | tr '\n' ' ' | sed 's/ $//'; }
runs_once() { [[ $(daemon_pids "$1") =~ ^[0-9]+$ ]]; }
all_run_once() {
  local d
  for d in $SIM_DAEMONS; do runs_once "$d" || return 1; done
}
# The rule set as iptables-save gives it, without counters and comments.
rules() { sim_rnet iptables-save | sed -e '/^#/d' -e 's/ \[[0-9]*:[0-9]*\]$//'; }
# settled: the rule set stays the same for 3 s; RULES holds it.
settled() {
  local a
  a=$(rules)
  sleep 3
  RULES=$(rules)
  [ "$a" = "$RULES" ]
}
same_rules() { [ "$(rules)" = "$RULES" ]; }
no_duplicates() { [ -z "$(soak_duplicates)" ]; }

start_whole() {
  start_sim "${WHOLE[@]}"
  wait_wan
  wait_lease
  LAN_IP=$(sim_lease_value ip)
  wait_until 40 "every daemon running once" all_run_once
}

# A random moment within the next 4 s, then SIGKILL for NAME.
kill_at_random() {
  local ms=$((RANDOM % 4000)) pid
  sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
  pid=$(daemon_pids "$1")
  [[ $pid =~ ^[0-9]+$ ]] || { fail "$1 is not running once before the kill: [$pid]"; return 1; }
  sim_router kill -KILL "$pid" || fail "kill -KILL $1"
  echo "$1 (pid $pid) killed $ms ms into its window"
  KILLED=$pid
  # Gone (or a zombie) before anyone looks for it again.
  wait_until 10 "$1 to end" eval '! sim_router grep -qE "^State:[[:space:]]*[^Z]" "/proc/$pid/status"'
}
restarted() { local p; p=$(daemon_pids "$1"); [[ $p =~ ^[0-9]+$ ]] && [ "$p" != "$KILLED" ]; }

stat_json() { sim_router routerstat --json 2>/dev/null; }
host_record() { stat_json | grep -o "{\"addr\":\"$1\"[^}]*}"; }
host_field() { sed -n "s/.*\"$2\":\([0-9-]*\).*/\1/p" <<<"$(host_record "$1")"; }
sys_field() { stat_json | grep -o '"system":{[^}]*}' | sed -n "s/.*\"$1\":\([0-9-]*\).*/\1/p"; }
download() { sim_lan timeout 30 busybox wget -q -O /dev/null "http://$SIM_ISP_ADDR/$1"; }
lookup() { sim_lan timeout 3 busybox nslookup "$1." 192.168.0.1 >/dev/null 2>&1; }
url_log() { sim_router cat /var/url.log 2>/dev/null; }

# 1. The start-up script starts netmgr, fwmgr (which starts trafmon, httpd
#    and kinwatch), logmail and arpguard, in that order, each once, each
#    with its output file; a single start of a running program starts
#    nothing; the staging root holds the programs, the script, the
#    default configuration and the status page, which the router's httpd
#    serves from /www.
case_startup_and_staging_root() {
  SIM_START_WAIT= # the start-up as on the board, with the daemons' real waits
  start_whole
  expect_eq "$(sed -n 's/^router: \([a-z]*\) started (pid [0-9]*, output in \/var\/log\/\1.log)$/\1/p' \
    "$SIM_TMP/router/router-start.log" | tr '\n' ' ')" "netmgr fwmgr logmail arpguard " "programs started, in order"
  local d
  for d in netmgr fwmgr logmail arpguard; do
    [ -s "$SIM_TMP/router/$d.log" ] || fail "no output file $d.log"
  done
  expect_eq "$(sim_router busybox sh /etc/init.d/router start logmail)" \
    "router: logmail already runs (pid $(daemon_pids logmail))" "a second start of logmail"
  runs_once logmail || fail "logmail runs more than once: $(daemon_pids logmail)"
  sim_router busybox sh /etc/init.d/router start nosuch >/dev/null 2>&1
  expect_eq "$?" 2 "exit status for an unknown program"
  expect_eq "$(sim_router busybox sh /etc/init.d/router status | awk '{print $1, ($2 ~ /^[0-9]+$/)}' | tr '\n' ' ')" \
    "netmgr 1 fwmgr 1 logmail 1 arpguard 1 trafmon 1 kinwatch 1 httpd 1 " "status"

  local stage=$SIM_TMP/stage
  DESTDIR=$stage cmake --install "$BUILD" --prefix / >"$SIM_TMP/install.log" 2>&1 || fail "cmake --install: $(tail -n 5 "$SIM_TMP/install.log")"
  expect_eq "$(cd "$stage" && find . -type f | sort | tr '\n' ' ')" \
    "./bin/arpguard ./bin/fwmgr ./bin/kinwatch ./bin/logmail ./bin/memdump ./bin/netmgr ./bin/nvram ./bin/routerstat ./bin/sendmsg ./bin/trafmon ./etc/default.nvram ./etc/init.d/router ./usr/include/nvram.h ./usr/lib/libnvram.a ./www/cgi-bin/status ./www/status.css ./www/status.html ./www/status.js " \
    "files of the staging root"
  [ -x "$stage/etc/init.d/router" ] || fail "the staged start-up script is not executable"
  sim_router cat /etc/init.d/router | cmp -s - "$stage/etc/init.d/router" ||
    fail "the router did not run the staged start-up script"
  cmp -s "$stage/etc/default.nvram" "$SIM_SRC/config/default.nvram" || fail "staged default.nvram differs"
  for f in status.html status.css status.js; do
    sim_router cat "/www/$f" | cmp -s - "$stage/www/$f" || fail "the router's httpd home /www lacks the staged $f"
  done
}

# 2. The 60-second soaks, DHCP WAN and PPPoE WAN: dense load (a WAN flap
#    every 10 s: DHCP release/renew and WAN down/up, or PPPoE disconnect and
#    connect; a settings command every 1.5 s, an attack event every 7 s); the
#    checks count from the 30th second, when every kind of load has run at
#    least once (memory only in a build without sanitizers).
soak_60s() {
  start_whole
  SOAK_FLAP_FIRST=3 SOAK_FLAP_EVERY=10 SOAK_SETTING_EVERY=1.5 SOAK_EVENT_EVERY=7 SOAK_ANON_SLACK=8
  [ "$(sim_cache_value "$BUILD" ROUTER_SANITIZE)" != ON ] || SOAK_ANON_SLACK=-1
  soak_start 60 30
  soak_wait_end || fail "the WAN is not back after the soak"
  wait_until 120 "every ring record in a mail" soak_all_mailed
  local problems
  problems=$(soak_check)
  soak_report
  [ "$(soak_count flap ok)" -ge 4 ] || fail "only $(soak_count flap ok) WAN flaps"
  [ "$(soak_count download ok)" -ge 5 ] || fail "only $(soak_count download ok) downloads"
  [ "$(soak_count event ok)" -ge 4 ] || fail "only $(soak_count event ok) attack events logged"
  [ "$(soak_url_lines)" -ge 3 ] || fail "/var/url.log has $(soak_url_lines) lines"
  while IFS= read -r p; do [ -z "$p" ] || fail "soak: $p"; done <<<"$problems"
}
case_soak_60s() {
  SOAK_PPPOE=0
  soak_60s
}
case_soak_pppoe_60s() {
  WHOLE+=(wan_connecttype=3)
  SOAK_PPPOE=1
  soak_60s
}

# 3. trafmon killed: fwmgr's watchdog starts it again (every 8th pass); the
#    rule set comes back the same, the host table keeps the LAN host and
#    its counters, and the figures move again.
case_converge_trafmon() {
  start_whole
  head -c 2097152 /dev/zero >"$SIM_TMP/isp/www/two"
  download two || fail "download"
  wait_until 30 "the LAN host in the host table" eval '[ -n "$(host_record "$LAN_IP")" ]'
  wait_until 30 "a settled rule set" settled
  local before
  before=$(host_field "$LAN_IP" bytes_recv)
  kill_at_random trafmon
  wait_until 40 "fwmgr's watchdog to start trafmon again" restarted trafmon
  grep -q "trafmon down, restart" "$SIM_TMP/router/fwmgr.log" || fail "fwmgr did not report the restart"
  wait_until 20 "the same rule set" same_rules
  no_duplicates || fail "rules held twice: $(soak_duplicates)"
  download two || fail "download after the restart"
  wait_until 15 "the host table to count again" \
    eval '[ "$(host_field "$LAN_IP" bytes_recv)" -ge $((before + 2097152)) ]'
  wait_until 15 "WAN figures again" eval '[ -n "$(sys_field cpu)" ]'
  runs_once trafmon || fail "trafmon processes: $(daemon_pids trafmon)"
}

# 4. kinwatch killed, started again by the start-up script: its one rule
#    replaced (not added twice), url.log afresh, new lookups logged. kinwatch
#    writes url.log three lines at a time, so the lookups before the kill
#    are three and are waited for in url.log: none is left in the kernel's
#    log for the new kinwatch to take ahead of the three after it.
case_converge_kinwatch() {
  start_whole
  wait_until 30 "a settled rule set" settled
  local n
  for n in a b c; do lookup "www.before-$n.example"; done
  wait_until 30 "three lines in url.log before the kill" \
    eval 'url_log | grep -c ";$LAN_IP;www\.before-[abc]\.example$" | grep -qx 3'
  kill_at_random kinwatch
  sim_router busybox sh /etc/init.d/router start kinwatch >/dev/null || fail "router start kinwatch"
  wait_until 15 "kinwatch running again" restarted kinwatch
  wait_until 15 "the same rule set" same_rules
  no_duplicates || fail "rules held twice: $(soak_duplicates)"
  for n in a b c; do lookup "www.after-$n.example"; done
  wait_until 30 "three new lines in url.log" eval 'url_log | grep -c ";$LAN_IP;www\.after-[abc]\.example$" | grep -qx 3'
  expect_eq "$(url_log | head -n 1)" "$(printf %03d $(($(url_log | wc -l) - 1)))" "url.log counter"
  runs_once kinwatch || fail "kinwatch processes: $(daemon_pids kinwatch)"
}

# 5. logmail killed, started again by the start-up script: it mails the
#    ring again from its first slot (it keeps no index across starts), so
#    no record is lost; records after the restart are mailed as before.
case_converge_logmail() {
  start_whole
  wait_until 60 "the first mail" soak_all_mailed
  soak_event || fail "attack event 1 not logged"
  wait_until 30 "the event mailed" soak_all_mailed
  wait_until 30 "a settled rule set" settled
  local mails
  mails=$(grep -c '^From router@isp.sim ' "$SIM_TMP/isp/mail/mail/admin")
  kill_at_random logmail
  sim_router busybox sh /etc/init.d/router start logmail >/dev/null || fail "router start logmail"
  wait_until 15 "logmail running again" restarted logmail
  soak_event || fail "attack event 2 not logged"
  # The mails after the restart hold the whole ring, in order.
  wait_until 60 "the ring mailed again after the restart" eval \
    '[ "$(soak_mailed | tail -n "$(soak_ring | wc -l)")" = "$(soak_ring)" ] &&
     [ "$(grep -c "^From router@isp.sim " "$SIM_TMP/isp/mail/mail/admin")" -gt "$mails" ]'
  same_rules || fail "the rule set changed"
  runs_once logmail || fail "logmail processes: $(daemon_pids logmail)"
}

# 6. arpguard killed, started again by the start-up script: the LAN host
#    hears the announcements again; the rule set is untouched.
case_converge_arpguard() {
  start_whole
  wait_until 30 "a settled rule set" settled
  local mac=025254000001
  kill_at_random arpguard
  sim_router busybox sh /etc/init.d/router start arpguard >/dev/null || fail "router start arpguard"
  wait_until 15 "arpguard running again" restarted arpguard
  # It waits at its start (ROUTER_START_WAIT here), then announces every 2 s.
  expect_eq "$(sim_lan "$SIM_BUILD/bin/sim_arpcap" eth0 30 2 "ffffffffffff$mac" 2>/dev/null | wc -l)" 2 \
    "announcements after the restart"
  same_rules || fail "the rule set changed"
  runs_once arpguard || fail "arpguard processes: $(daemon_pids arpguard)"
}

# 7. fwmgr killed at a random moment (often amid the WAN-up of a command 2
#    posted just before), started again by the start-up script; the DHCP
#    WAN's rules come back with the next command 2, posted as netmgr would:
#    the same rule set, nothing twice, one upnp and one DDNS client.
case_converge_fwmgr() {
  WHOLE+=(upnpen=1 "virtualser_list=1;8080;80;0;192.168.0.100;3" dmzen=1 dmzip=192.168.0.101 alg_service=01111
    client_filter_en=1 client_filter_num=1 "client_filter_0=0;192.168.0.100-192.168.0.120;6881-6889;2;0:0-0:0;1;1;1;1;1;1;1;"
    lan_attack_defence=0,0,0,0,0,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0 webipen=1 webip=192.168.0.50 wanweben=1
    ddns_en=1 ddns_type=2 ddns_user=me ddns_pwd=pw ddns_domain=my.example.net)
  start_whole
  one_each() { [ "$(router_procs upnp) $(router_procs inadyn)" = "1 1" ]; }
  wait_until 30 "fwmgr's WAN rules and services" eval 'sim_rnet iptables -w -t nat -S dmz_forward_pre | grep -q DNAT && one_each'
  wait_until 30 "a settled rule set" settled
  sim_router sendmsg 203 2 || fail "sendmsg 203 2"
  kill_at_random fwmgr
  local mark
  mark=$(wc -l <"$SIM_TMP/router/journal")
  sim_router busybox sh /etc/init.d/router start fwmgr >/dev/null || fail "router start fwmgr"
  wait_until 15 "fwmgr running again" restarted fwmgr
  sim_router sendmsg 203 2 || fail "sendmsg 203 2 after the restart"
  # The new instance's WAN-up ends with upnp, once queue 203 is empty.
  wait_until 40 "the restarted fwmgr's WAN-up" eval 'tail -n "+$((mark + 1))" "$SIM_TMP/router/journal" |
    grep -qx "upnp eth2.2" && sim_router awk '"'"'$1 == 203 && $5 == 0 {e = 1} END {exit !e}'"'"' /proc/sysvipc/msg'
  wait_until 20 "the same rule set" same_rules
  no_duplicates || fail "rules held twice: $(soak_duplicates)"
  wait_until 15 "one upnp and one DDNS client" one_each
  runs_once fwmgr || fail "fwmgr processes: $(daemon_pids fwmgr)"
}

run_case "$CASE"
