#!/bin/bash
# The injection sweep: every store key a program reads as text gets 200
# generated payloads (quotes, backticks, $(...), ; | & >, line breaks, tabs,
# very long values, bytes above 0x7f; tests/process/payloads.sh), through the
# program's start-up and the commands that read the key again, with the real
# programs and a real /bin/sh. No payload may ever run (no canary file), and
# no program may crash or report a sanitizer error.
#
# To stay quick, the tools the programs call are /bin/true here (the shell
# still parses every line), keys are set together for each start, and the
# programs that wait 5 s before reading run many instances side by side, each
# with its own store file and System V IPC namespace.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/payloads.sh"

ROUNDS=${INJECT_ROUNDS:-200}

fast_tools() {
  mkdir -p /tmp/fastbin
  local tool
  for tool in iptables arptables tc ifconfig route brctl vconfig switch udhcpc udhcpd pppd xl2tpd \
    pptp killall free httpd upnp inadyn trafmon; do
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

# clean_exit WHAT STATUS ERRFILE: the program ended by our signal (or
# normally) and printed no sanitizer report.
clean_exit() {
  case $2 in 0 | 137 | 143) ;; *) fail "$1: exit status $2: $(tail -5 "$3")" ;; esac
  if grep -q 'runtime error\|AddressSanitizer\|LeakSanitizer' "$3"; then
    fail "$1: sanitizer report: $(grep -m3 'runtime error\|ERROR' "$3")"
  fi
}

ring_made() { ipcs -m | grep -q '^0x000000cd '; }

# netmgr's text keys by WAN type; the LAN, DHCP server and MAC keys are read
# by every start.
NETMGR_COMMON=(lan_ip lan_mask wan_mac_addr dhcps_start dhcps_end dhcps_dns1 dhcps_dns2 dns_dns1
               dns_dns2 lease_time dhcpStaticnum dhcpStaticip)
NETMGR_TYPE1=(wan_ip wan_mask wan_gateway wan_dns1 wan_dns2 staticMTU)
NETMGR_TYPE2=(dynamicMTU)
NETMGR_TYPE3=(ppoe_userid ppoe_pwd ppoe_sev ppoe_ac ppoe_mtu ppoe_idletime ppoe_h_s ppoe_m_s
              ppoe_h_e ppoe_m_e)
NETMGR_TYPE5=(pptpIP pptpPUN pptpPPW pptpMTU pptpAddrMode pptpMPPE pptpWANIP pptpWANMASK pptpWANGW)
NETMGR_TYPE6=(l2tpIP l2tpPUN l2tpPPW l2tpMTU l2tpAddrMode l2tpWANIP l2tpWANMASK l2tpWANGW)

# netmgr_rounds TYPE KEY...: ROUNDS starts of netmgr with WAN type TYPE, the
# keys holding payloads (key k gets payload round + k, so each key sees every
# payload).
netmgr_rounds() {
  local type=$1 r k i pid st args
  shift
  for r in $(seq 0 $((ROUNDS - 1))); do
    args=(wanparam=1 "wan_connecttype=$type" dhcps_en=1 dnsen=1 ppoe_conmode=$((r % 4)))
    i=0
    for k in "$@"; do
      payload $((r + i))
      args+=("$k=$P")
      i=$((i + 1))
    done
    nvram set "${args[@]}" || fail "type $type round $r: nvram set"
    netmgr >/tmp/netmgr.out 2>/tmp/netmgr.err &
    pid=$!
    wait_for 20 ring_made || fail "type $type round $r: netmgr did not finish its start"
    kill -0 $pid 2>/dev/null || fail "type $type round $r: netmgr ended during its start"
    kill -TERM $pid 2>/dev/null
    wait $pid
    st=$?
    clean_exit "netmgr type $type round $r" $st /tmp/netmgr.err
    no_canary "netmgr type $type round $r"
    ipcrm -a 2>/dev/null
  done
}

netmgr_sweep() {
  make_flash
  fast_tools
  rm -f "$CANARY"
  netmgr_rounds "$@"
}

case_netmgr_static() { netmgr_sweep 1 "${NETMGR_COMMON[@]}" "${NETMGR_TYPE1[@]}"; }
case_netmgr_dhcp() { netmgr_sweep 2 "${NETMGR_TYPE2[@]}" "${NETMGR_COMMON[@]}"; }
case_netmgr_pppoe() { netmgr_sweep 3 "${NETMGR_TYPE3[@]}"; }
case_netmgr_pptp() { netmgr_sweep 5 "${NETMGR_TYPE5[@]}"; }
case_netmgr_l2tp() { netmgr_sweep 6 "${NETMGR_TYPE6[@]}"; }

# store_with FILE FIRST KEY...: a store file in which key k holds payload
# FIRST + k, besides the settings FIXED that make the program use the keys.
FIXED=()
store_with() {
  local file=$1 n=$2 k args=()
  shift 2
  for k in "$@"; do
    payload "$n"
    args+=("$k=$P")
    n=$((n + 1))
  done
  NVRAM_FILE=$file nvram set "${FIXED[@]}" "${args[@]}" || fail "nvram set into $file"
}

queue_of() { nsenter -t "$1" --ipc ipcs -q 2>/dev/null | grep -q "^$2 "; }
queue_empty() {
  [ "$(nsenter -t "$1" --ipc "$TESTBIN/msgpeek" --stat "$3" 2>/dev/null)" = "mode=0666 qnum=0" ]
}

# post PID QUEUEKEY COMMAND...: the commands into the queue of PID's IPC
# namespace. taken PID QUEUEKEY: waits until that queue is empty.
post() {
  local pid=$1 qkey=$2 c
  shift 2
  for c in "$@"; do
    nsenter -t "$pid" --ipc sendmsg "$qkey" "$c" || fail "pid $pid: sendmsg $qkey $c"
  done
}
taken() { wait_for 30 queue_empty "$1" x "$2" || fail "pid $1 did not take its commands"; }

# parallel_sweep PROG QUEUEKEY HEXKEY KEY...: INSTANCES instances of PROG
# (default ROUNDS/2), BATCH at a time, each in its own IPC namespace with its
# own store file. Instance n reads payloads from 2n on at its start and takes
# the commands FIRST_CMDS; then its store gets payloads from 2n+1 on and it
# takes the commands CMDS (default 1), which read them again.
parallel_sweep() {
  local prog=$1 qkey=$2 hex=$3 batch=${INJECT_BATCH:-25} n base j pid st
  shift 3
  fast_tools
  rm -f "$CANARY"
  local total=${INSTANCES:-$(( (ROUNDS + 1) / 2 ))}
  for base in $(seq 0 "$batch" $((total - 1))); do
    local pids=()
    for n in $(seq "$base" $((base + batch - 1))); do
      [ "$n" -lt "$total" ] || break
      rm -f /tmp/store.$n
      store_with /tmp/store.$n $((2 * n)) "$@"
      NVRAM_FILE=/tmp/store.$n unshare --ipc "$prog" >/tmp/$prog.$n.out 2>/tmp/$prog.$n.err &
      pids+=($!)
    done
    # Started (the queue comes after the settings were read); the first
    # commands; the second payloads and the commands that read them again.
    j=0
    for pid in "${pids[@]}"; do
      n=$((base + j))
      wait_for 30 queue_of "$pid" "$hex" || fail "$prog $n did not start"
      post "$pid" "$qkey" ${FIRST_CMDS:-}
      j=$((j + 1))
    done
    j=0
    for pid in "${pids[@]}"; do
      n=$((base + j))
      taken "$pid" "$qkey"
      rm -f /tmp/store.$n
      store_with /tmp/store.$n $((2 * n + 1)) "$@"
      post "$pid" "$qkey" ${CMDS:-1}
      j=$((j + 1))
    done
    for pid in "${pids[@]}"; do taken "$pid" "$qkey"; done
    sleep 1
    j=0
    for pid in "${pids[@]}"; do
      n=$((base + j))
      kill -0 "$pid" 2>/dev/null || fail "$prog $n ended: $(tail -3 /tmp/$prog.$n.err)"
      kill -KILL "$pid" 2>/dev/null
      { wait "$pid"; } 2>/dev/null
      st=$?
      clean_exit "$prog $n" $st /tmp/$prog.$n.err
      j=$((j + 1))
    done
    no_canary "$prog instances from $base"
  done
}

case_arpguard() {
  ip link add br0 type bridge && ip addr add 192.168.0.1/24 dev br0 && ip link set br0 up ||
    fail "br0"
  parallel_sweep arpguard 207 0x000000cf arp_defence
}

case_logmail() {
  # The server is the sandbox's own loopback, where nothing listens.
  FIXED=(email_en=1 email_timeen=1 email_time=1 email_num=1)
  parallel_sweep logmail 210 0x000000d2 email_from email_to email_server email_user email_pwd
}

# fwmgr reads every list at its start, loads the rules on command 2 (WAN up)
# and reads each feature again on its own command.
case_fwmgr() {
  ip link add br0 type bridge && ip addr add 192.168.0.1/24 dev br0 && ip link set br0 up &&
    ip link add eth2.2 type veth peer name wanpeer && ip addr add 10.0.0.2/24 dev eth2.2 &&
    ip link set eth2.2 up && ip link set wanpeer up ||
    fail "interfaces"
  FIXED=(wan_connecttype=1 client_filter_en=1 client_filter_num=2 url_filter_en=1 url_filter_num=2
         mac_filter_en=1 mac_filter_num=2 ipbindenable=1 ipbindnum=1 qos_enable=1 qos_num=1
         natlimit_enble=1 dmzen=1 webipen=1 wanweben=1 ddns_en=1 ddns_type=1 dnsen=1 upnpen=0)
  INSTANCES=$ROUNDS INJECT_BATCH=${INJECT_BATCH:-50} FIRST_CMDS=2 \
    CMDS="4 5 7 8 9 10 11 12 13 14 15 17 18" parallel_sweep fwmgr 203 0x000000cb \
    virtualser_list dmzip alg_service client_filter_0 client_filter_1 url_filter_0 url_filter_1 \
    mac_filter_0 mac_filter_1 qoslist0 ipbindlist0 natlimit_list static_route_0 static_route_1 \
    lan_attack_defence qqip msnip webip webport wanwebip wanwebport ddns_user ddns_pwd \
    ddns_domain lan_ip lan_mask wan_ip wan_mask dns_dns1 dns_dns2
}

# kinwatch reads its one setting at each start.
case_kinwatch() {
  fast_tools
  rm -f "$CANARY"
  mkdir -p /var
  local r st
  for r in $(seq 0 $((ROUNDS - 1))); do
    payload "$r"
    nvram set "fmg_enable_manage=$P" || fail "round $r: nvram set"
    kinwatch >/tmp/kinwatch.out 2>/tmp/kinwatch.err
    st=$?
    clean_exit "kinwatch round $r" $st /tmp/kinwatch.err
    no_canary "kinwatch round $r"
  done
  # The setting 1 followed by payloads: kinwatch reads it as 1 and logs.
  for r in $(seq 0 9); do
    payload "$r"
    nvram set "fmg_enable_manage=1$P" || fail "nvram set"
    kinwatch >/tmp/kinwatch.out 2>/tmp/kinwatch.err
    clean_exit "kinwatch 1+payload $r" $? /tmp/kinwatch.err
    pkill -KILL -x kinwatch
    no_canary "kinwatch 1+payload $r"
  done
}

run_case "$@"
