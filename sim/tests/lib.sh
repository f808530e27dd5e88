# What every end-to-end test script of the simulation shares (sourced, bash):
# the checks, the waits and the clean-up after each case. A script defines
# its cases as functions case_NAME and ends with sim_run_case.
#
#   bash sim/tests/SCRIPT BUILD_DIR CASE
#
# Each case builds its own network, and checks after tearing it down that no
# namespace, interface, process, mount or file is left behind. Waits are
# guards against hangs (generous), never speed checks.
set -u
BUILD=$1
CASE=${2:-}
. "$(dirname "${BASH_SOURCE[0]}")/../simnet.sh"
# The daemons wait 1 s at start instead of 5 (a case that checks the real
# wait sets SIM_START_WAIT empty before start_sim).
SIM_START_WAIT=${SIM_START_WAIT-1}
SIM_QUIET=1
FAILS=0

fail() {
  echo "FAIL: $*" >&2
  FAILS=$((FAILS + 1))
}
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected [$2], got [$1]"; }
journal_has() { grep -qxF -- "$1" "$SIM_TMP/router/journal"; }
journal_count() { grep -cxF -- "$1" "$SIM_TMP/router/journal"; }
# expect_journal LINE: the journal has LINE, or gets it within 10 s (the
# daemons run their lines one by one, after the state a case waited for).
expect_journal() { sim_poll 10 journal_has "$1" || fail "journal lacks the line: $1"; }
nat_rules() { sim_rnet iptables -w -t nat -S POSTROUTING; }
mangle_rules() { sim_rnet iptables -w -t mangle -S; }
wan_addr() { sim_rnet ip -4 -o addr show dev "$1" 2>/dev/null | awk '{print $4}'; }
# wan_addr_set IFACE: the address of IFACE once it has one (at most 15 s).
wan_addr_set() {
  sim_poll 15 eval "[ -n \"\$(wan_addr $1)\" ]" || fail "no address on $1 within 15 s"
  wan_addr "$1"
}
router_file() { sim_router cat "$1"; }
# The router's processes by name (comm).
router_procs() { sim_router sh -c 'cat /proc/[0-9]*/comm 2>/dev/null' | grep -cx "$1"; }
# start_sim [FILE|KEY=VALUE]...: the simulation; the case fails at once if it cannot start.
start_sim() {
  sim_up "$BUILD" "$@" || { fail "the simulation did not start"; finish; }
}
wait_wan() { sim_wait_wan 60 || fail "no masquerade rule within 60 s"; }
wait_lease() { sim_wait_lease 60 || fail "the LAN host got no lease within 60 s"; }
# wait_eq SECONDS WHAT EXPECTED COMMAND...: polls until COMMAND prints
# EXPECTED; fails with the last output when the time is up.
wait_eq() {
  local s=$1 what=$2 want=$3 got tries
  shift 3
  tries=$((s * 10))
  while got=$("$@" 2>/dev/null); [ "$got" != "$want" ]; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || { fail "$what: expected [$want], got [$got] (after $s s)"; return 1; }
    sleep 0.1
  done
}
# wait_until SECONDS WHAT COMMAND...
wait_until() {
  local s=$1 what=$2
  shift 2
  sim_poll "$s" "$@" || fail "timed out after $s s waiting for $what"
}

finish() {
  trap - EXIT
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
  if [ $FAILS -gt 0 ]; then
    echo "$CASE: $FAILS check(s) failed" >&2
    exit 1
  fi
  echo "$CASE: passed"
  exit 0
}

# The LAN host reaches the ISP host, which sees the request come from ADDR.
expect_reaches_isp_as() { wait_eq 20 "source address seen by the ISP host" "$1" sim_whoami; }

# sim_run_case: runs case_$CASE of the sourcing script.
sim_run_case() {
  if ! declare -F "case_$CASE" >/dev/null; then
    echo "usage: $0 BUILD_DIR CASE (one of: $(declare -F | sed -n 's/^declare -f case_//p' | tr '\n' ' '))" >&2
    exit 2
  fi
  # Without root or tools the case ends here with sim_require's status and
  # message: there is nothing to clean up yet.
  sim_require
  trap finish EXIT
  trap 'exit 1' INT TERM HUP
  "case_$CASE"
  finish
}
