#!/bin/bash
# The injection sweep: every store key a program reads as text gets 200
# generated payloads (quotes, backticks, $(...), ; | & >, line breaks, tabs,
# very long values, bytes above 0x7f; tests/process/payloads.sh), through the
# program's start-up and the commands that read the key again, with the real
# programs and a real /bin/sh. No payload may ever run (no canary file), and
# no program may crash or report a sanitizer error.
#
# To stay quick, the tools the programs call are /bin/true here (the shell
# still parses every line), every key a start or command reads holds a
# payload at once, and each program runs as 200 instances side by side, each
# with its own store file and System V IPC namespace, taking their commands
# in step (tests/process/nsqueue posts and waits for all of them at once).
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/payloads.sh"

ROUNDS=${INJECT_ROUNDS:-200}

fast_tools() {
  mkdir -p /tmp/fastbin
  local tool
  for tool in iptables arptables tc ifconfig route brctl vconfig switch udhcpc udhcpd pppd xl2tpd \
    pptp killall free httpd upnp inadyn trafmon sendmsg; do
    ln -sf /bin/true /tmp/fastbin/$tool
  done
  export PATH=/tmp/fastbin:$PATH
}

# no_canary WHAT: fails when a payload ran.
no_canary() {
  if [ -e "$CANARY" ]; then
    fail "$1: an injected command ran"
    rm -f "$CANARY"
  fi
}

# sanitizer_reports FILE...: fails for each file holding a sanitizer report.
sanitizer_reports() {
  local f
  for f in $(grep -l 'runtime error\|AddressSanitizer\|LeakSanitizer' "$@"); do
    fail "$f: sanitizer report: $(grep -m3 'runtime error\|ERROR' "$f")"
  done
}

# clean_exit WHAT STATUS ERRFILE: the program ended by our signal (or
# normally) and printed no sanitizer report.
clean_exit() {
  case $2 in 0 | 137 | 143) ;; *) fail "$1: exit status $2: $(tail -5 "$3")" ;; esac
  sanitizer_reports "$3"
}

# ESCAPED[n]: payload n as the store file holds it (the store library's
# format: \, newline and carriage return escaped), made once.
ESCAPED=()
escaped() {
  if [ -z "${ESCAPED[$1]+x}" ]; then
    payload "$1"
    local v=${P//\\/\\\\}
    v=${v//$'\n'/\\n}
    ESCAPED[$1]=${v//$'\r'/\\r}
  fi
}

# with_payloads FIRST KEY...: adds the store lines "KEY=payload" to LINES,
# key k holding payload FIRST + k.
with_payloads() {
  local n=$1 k
  shift
  for k in "$@"; do
    escaped $n
    LINES+=("$k=${ESCAPED[n]}")
    n=$((n + 1))
  done
}

# store_write FILE: LINES (fixed settings need no escapes) as the store file.
# Written in place: the programs read their store only at the start and on
# commands, and none is under way while the test writes.
store_write() { printf '%s\n' "${LINES[@]}" >"$1" || fail "writing $1"; }

# write_stores DIR S: the store files of stage S, DIR/S/N for instance N,
# as "settings N S" fills LINES.
write_stores() {
  local n
  mkdir -p $1/$2
  for n in $(seq 0 $((INSTANCES - 1))); do
    LINES=()
    settings "$n" "$2"
    store_write $1/$2/$n
  done
}

# sweep PROG QUEUEKEY MARKER: INSTANCES instances of PROG side by side, each
# in an IPC namespace of its own (started by "launch N", by default
# "unshare --ipc PROG"). Instance N's store is /tmp/stage.PROG/N, that link
# pointing to the stores of stage 0 for the start (the queue appears once the
# start has read the store), then to those of each stage S of STAGES (the
# commands, comma-separated, that read the keys again). "settings N S" fills
# LINES with instance N's store for stage S. MARKER follows each stage's
# commands: a command the program ignores, taken only once the last one is
# carried out, so an empty queue means the stage is over. "before_stage S"
# runs before stage S's commands are posted.
sweep() {
  local prog=$1 qkey=$2 marker=$3 n s
  local pids=() last=$((INSTANCES - 1)) stores=/tmp/stores.$prog stage=/tmp/stage.$prog
  rm -rf "$CANARY" $stores
  write_stores $stores 0
  ln -sfn $stores/0 $stage
  for n in $(seq 0 $last); do
    NVRAM_FILE=$stage/$n launch "$n" >/tmp/$prog.$n.out 2>/tmp/$prog.$n.err &
    pids+=($!)
  done
  # The later stages' stores are written while the instances start.
  for s in $(seq 1 ${#STAGES[@]}); do write_stores $stores "$s"; done
  "$TESTBIN/nsqueue" "$qkey" wait 300 "${pids[@]}" || fail "$prog: not every instance started"
  for s in $(seq 1 ${#STAGES[@]}); do
    ln -sfn $stores/$s $stage.new && mv -T $stage.new $stage || fail "stage $s stores"
    before_stage "$s"
    local cmds=${STAGES[s - 1]}
    "$TESTBIN/nsqueue" "$qkey" post "$cmds,$marker" "${pids[@]}" || fail "$prog: posting stage $s"
    "$TESTBIN/nsqueue" "$qkey" wait $((120 + 10 * $(tr -cd , <<<"$cmds" | wc -c))) "${pids[@]}" ||
      fail "$prog: stage $s ($cmds) not carried out"
  done
  for n in $(seq 0 $last); do
    kill -0 "${pids[n]}" 2>/dev/null || fail "$prog $n ended: $(tail -3 /tmp/$prog.$n.err)"
  done
  local sts=()
  {
    kill -KILL "${pids[@]}"
    for n in $(seq 0 $last); do
      wait "${pids[n]}"
      sts[n]=$?
    done
  } 2>/dev/null
  for n in $(seq 0 $last); do
    case ${sts[n]} in 0 | 137) ;; *) fail "$prog $n: exit status ${sts[n]}: $(tail -5 /tmp/$prog.$n.err)" ;; esac
  done
  sanitizer_reports /tmp/$prog.*.err
  no_canary "$prog"
  rm -rf $stores
}

# (Run in a background subshell: exec keeps the pid the test waits on.)
launch() { exec unshare --ipc "$PROG"; }
before_stage() { :; }

# netmgr's text keys: those every start reads (LAN, DHCP server, MAC
# address) and those of each WAN type, which the start and command 4 (WAN
# settings changed) read; command 21 (the ISP login after a lease) reads the
# login name and password.
NETMGR_COMMON=(lan_ip lan_mask wan_mac_addr dhcps_start dhcps_end dhcps_dns1 dhcps_dns2 dns_dns1
               dns_dns2 lease_time dhcpStaticnum dhcpStaticip)
NETMGR_TYPE1=(wan_ip wan_mask wan_gateway wan_dns1 wan_dns2 staticMTU)
NETMGR_TYPE2=(dynamicMTU)
NETMGR_TYPE3=(ppoe_userid ppoe_pwd ppoe_sev ppoe_ac ppoe_mtu ppoe_idletime ppoe_h_s ppoe_m_s
              ppoe_h_e ppoe_m_e)
NETMGR_TYPE4=(DHCP_plus_mtu)
NETMGR_TYPE5=(pptpIP pptpPUN pptpPPW pptpMTU pptpAddrMode pptpMPPE pptpWANIP pptpWANMASK pptpWANGW)
NETMGR_TYPE6=(l2tpIP l2tpPUN l2tpPPW l2tpMTU l2tpAddrMode l2tpWANIP l2tpWANMASK l2tpWANGW)
NETMGR_LOGIN=(DHCP_plus_Name DHCP_plus_Pwd)
WAN_TYPES=(1 2 3 5 6 4)

# Instance n starts with WAN type WAN_TYPES[n % 6] and goes through the
# other five with command 4, so each type is applied ROUNDS times, the n-th
# time with its keys holding payloads from n on. The first three commands 4
# are each followed by command 21 (the ISP login), which a login server on
# the sandbox's loopback answers the first two times: the login name and
# password hold payloads from n on (the server refuses the name), then the
# name the server takes and a payload password (n + ROUNDS/2), and the third
# time, with the server stopped, payloads from n + ROUNDS/2 on.
netmgr_settings() {
  local n=$1 s=$2 type=${WAN_TYPES[$(( ($1 + $2) % 6 ))]}
  local keys=NETMGR_TYPE$type[@]
  LINES=(wanparam=1 "wan_connecttype=$type" dhcps_en=1 dnsen=1 ppoe_conmode=$((n % 4)))
  # Command 4 reads no common key but the user's name servers (static WAN).
  if [ "$s" = 0 ]; then
    with_payloads "$n" "${NETMGR_COMMON[@]}"
  elif [ "$type" = 1 ]; then
    with_payloads "$n" dns_dns1 dns_dns2
  fi
  with_payloads "$n" "${!keys}"
  case $s in
    1) with_payloads "$n" "${NETMGR_LOGIN[@]}" ;;
    2) LINES+=(DHCP_plus_Name=subscriber) && with_payloads $((n + ROUNDS / 2)) DHCP_plus_Pwd ;;
    3) with_payloads $((n + ROUNDS / 2)) "${NETMGR_LOGIN[@]}" ;;
  esac
}

case_netmgr() {
  make_flash
  fast_tools
  local port
  LOGIN_SERVER=$(sed -n 's/^DHCPPLUS_SERVER:STRING=//p' "$ROUTER_BUILD_DIR/CMakeCache.txt")
  port=$(sed -n 's/^DHCPPLUS_PORT:STRING=//p' "$ROUTER_BUILD_DIR/CMakeCache.txt")
  ip addr add "$LOGIN_SERVER/32" dev lo || fail "address $LOGIN_SERVER on lo"
  dhcpplus_server --listen "$LOGIN_SERVER" --port "$port" --user subscriber --password right-pw \
    >/tmp/login.out 2>&1 &
  local server=$!
  wait_for 5 grep -q ready /tmp/login.out
  settings() { netmgr_settings "$@"; }
  # The logins reached the server (each tries a refused step three times).
  before_stage() {
    [ "$1" = 3 ] || return 0
    local step
    for step in user password; do
      [ "$(grep -c "^step=$step " /tmp/login.out)" -ge "$ROUNDS" ] ||
        fail "fewer than $ROUNDS $step steps reached the server: $(tail -3 /tmp/login.out)"
    done
    { kill "$server" && wait "$server"; } 2>/dev/null
  }
  STAGES=(4,21 4,21 4,21 4 4)
  PROG=netmgr INSTANCES=$ROUNDS sweep netmgr 204 1
}

# logmail and arpguard read their settings at the start and on command 1:
# instance n has payloads from n on at its start, from n + ROUNDS/2 on for
# command 1.
two_stage_settings() {
  LINES=("${FIXED[@]}")
  with_payloads $(($1 + $2 * ROUNDS / 2)) "${KEYS[@]}"
}

case_arpguard() {
  make_br0 192.168.0.1/24
  fast_tools
  settings() { two_stage_settings "$@"; }
  FIXED=() KEYS=(arp_defence) STAGES=(1)
  PROG=arpguard INSTANCES=$ROUNDS sweep arpguard 207 2
}

case_logmail() {
  fast_tools
  # The server is the sandbox's own loopback, where nothing listens.
  settings() { two_stage_settings "$@"; }
  FIXED=(email_en=1 email_timeen=1 email_time=1 email_num=1)
  KEYS=(email_from email_to email_server email_user email_pwd) STAGES=(1)
  PROG=logmail INSTANCES=$ROUNDS sweep logmail 210 2
}

# fwmgr reads every list at its start, loads the rules on command 2 (WAN up)
# and reads each feature again on its own command: instance n has payloads
# from n on at its start, from n + ROUNDS/2 on for command 2 and the feature
# commands after it. (natlimit_list and the static routes are read only at
# the start.)
FWMGR_KEYS=(virtualser_list dmzip alg_service client_filter_0 client_filter_1 url_filter_0
            url_filter_1 mac_filter_0 mac_filter_1 qoslist0 ipbindlist0 natlimit_list static_route_0
            static_route_1 lan_attack_defence qqip msnip webip webport wanwebip wanwebport ddns_user
            ddns_pwd ddns_domain lan_ip lan_mask wan_ip wan_mask dns_dns1 dns_dns2)
case_fwmgr() {
  make_br0 192.168.0.1/24
  make_wan 10.0.0.2/24
  fast_tools
  FIXED=(wan_connecttype=1 client_filter_en=1 client_filter_num=2 url_filter_en=1 url_filter_num=2
         mac_filter_en=1 mac_filter_num=2 ipbindenable=1 ipbindnum=1 qos_enable=1 qos_num=1
         natlimit_enble=1 dmzen=1 webipen=1 wanweben=1 ddns_en=1 ddns_type=1 dnsen=1 upnpen=0)
  settings() {
    LINES=("${FIXED[@]}")
    with_payloads $(($1 + $2 * ROUNDS / 2)) "${FWMGR_KEYS[@]}"
  }
  STAGES=(2,4,5,7,8,9,10,11,12,13,14,15,17,18)
  PROG=fwmgr INSTANCES=$ROUNDS sweep fwmgr 203 1
}

# arpguard, logmail and kinwatch, which spend most of their time waiting,
# side by side (each in a bash of its own, with a canary of its own).
case_arpguard_logmail_kinwatch() {
  local prog pids=() n=0
  for prog in arpguard logmail kinwatch; do
    CANARY=/tmp/canary.$prog bash "$0" $prog &
    pids+=($!)
  done
  for prog in arpguard logmail kinwatch; do
    wait "${pids[n]}" || fail "the $prog sweep failed (above)"
    n=$((n + 1))
  done
}

# kinwatch reads its one setting at each start.
case_kinwatch() {
  fast_tools
  rm -f "$CANARY"
  mkdir -p /var
  local r st
  for r in $(seq 0 $((ROUNDS - 1))); do
    LINES=()
    with_payloads "$r" fmg_enable_manage
    store_write "$NVRAM_FILE"
    kinwatch >/tmp/kinwatch.out 2>/tmp/kinwatch.err
    st=$?
    clean_exit "kinwatch round $r" $st /tmp/kinwatch.err
    no_canary "kinwatch round $r"
  done
  # The setting 1 followed by payloads: kinwatch reads it as 1 and logs.
  for r in $(seq 0 9); do
    escaped "$r"
    LINES=("fmg_enable_manage=1${ESCAPED[r]}")
    store_write "$NVRAM_FILE"
    kinwatch >/tmp/kinwatch.out 2>/tmp/kinwatch.err
    clean_exit "kinwatch 1+payload $r" $? /tmp/kinwatch.err
    pkill -KILL -x kinwatch
    no_canary "kinwatch 1+payload $r"
  done
}

run_case "$@"
