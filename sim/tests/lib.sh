# What the end-to-end test scripts of the simulation add to the shell test
# kit (tests/lib.sh; sourced, bash): the simulation's checks and waits, and
# the clean-up after each case. A script defines its cases as functions
# case_NAME and ends with run_case "$CASE".
#
#   bash sim/tests/SCRIPT BUILD_DIR CASE
#
# Each case builds its own network, and checks after tearing it down that no
# namespace, interface, process, mount or file is left behind. Waits are
# guards against hangs (generous), never speed checks.
. "$(dirname "${BASH_SOURCE[0]}")/../../tests/lib.sh"
BUILD=$1
CASE=${2:-}
CASE_ARGS="BUILD_DIR "
. "$(dirname "${BASH_SOURCE[0]}")/../simnet.sh"
# The daemons wait 1 s at start instead of 5 (a case that checks the real
# wait sets SIM_START_WAIT empty before start_sim).
SIM_START_WAIT=${SIM_START_WAIT-1}
SIM_QUIET=1

nat_rules() { sim_rnet iptables -w -t nat -S POSTROUTING; }
mangle_rules() { sim_rnet iptables -w -t mangle -S; }
wan_addr() { sim_rnet ip -4 -o addr show dev "$1" 2>/dev/null | awk '{print $4}'; }
# wan_addr_set IFACE: the address of IFACE once it has one (at most 15 s).
wan_addr_set() {
  poll 15 eval "[ -n \"\$(wan_addr $1)\" ]" || fail "no address on $1 within 15 s"
  wan_addr "$1"
}
router_file() { sim_router cat "$1"; }
# The router's processes by name (comm).
router_procs() { sim_router sh -c 'cat /proc/[0-9]*/comm 2>/dev/null' | grep -cx "$1"; }
# start_sim [FILE|KEY=VALUE]...: the simulation; the case fails at once if it cannot start.
start_sim() {
  sim_up "$BUILD" "$@" || { fail "the simulation did not start"; end_case; }
  JOURNAL=$SIM_TMP/router/journal
}
wait_wan() { sim_wait_wan 60 || fail "no masquerade rule within 60 s"; }
wait_lease() { sim_wait_lease 60 || fail "the LAN host got no lease within 60 s"; }

# Without root or tools the case ends here with sim_require's status and
# message: there is nothing to clean up yet.
before_case() {
  sim_require
  trap end_case EXIT
  trap 'exit 1' INT TERM HUP
}

# After each case: the logs when a check failed, then the network torn down
# and checked to leave nothing behind.
after_case() {
  if [ $FAILS -gt 0 ] && [ -n "${SIM_TMP:-}" ]; then
    echo "--- journal" >&2
    tail -n 40 "$SIM_TMP/router/journal" >&2
    echo "--- netmgr output" >&2
    tail -n 40 "$SIM_TMP/router/netmgr.log" >&2
    if [ -s "$SIM_TMP/router/logmail.log" ]; then
      echo "--- logmail output" >&2
      tail -n 40 "$SIM_TMP/router/logmail.log" >&2
    fi
    if [ -s "$SIM_TMP/router/fwmgr.log" ]; then
      echo "--- fwmgr output" >&2
      tail -n 40 "$SIM_TMP/router/fwmgr.log" >&2
    fi
  fi
  sim_down
  sim_check_clean || fail "the simulation left something behind"
}

# The LAN host reaches the ISP host, which sees the request come from ADDR.
expect_reaches_isp_as() { wait_eq 20 "source address seen by the ISP host" "$1" sim_whoami; }
