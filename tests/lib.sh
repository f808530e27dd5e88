# The shell test kit of the process and sim tiers (sourced, bash): checks,
# polls, the stand-ins' journal, daemons started and stopped, br0, and the
# case runner. tests/process/lib.sh and sim/tests/lib.sh add what their tier
# needs. A test script defines its cases as functions case_NAME and ends with
# `run_case NAME`; a tier may define the hooks before_case (before the case)
# and after_case (after it, also when the case ends early through end_case).
set -u
FAILS=0
CASE=

# fail MESSAGE: records a failed check and goes on.
fail() {
  echo "FAIL: $*" >&2
  FAILS=$((FAILS + 1))
}

# expect_eq ACTUAL EXPECTED WHAT
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected [$2], got [$1]"; }

# expect_status EXPECTED COMMAND...: runs the command, compares its status.
expect_status() {
  local want=$1
  shift
  "$@"
  local got=$?
  [ "$got" = "$want" ] || fail "exit status of '$*': expected $want, got $got"
}

# expect_file FILE EXPECTED_TEXT: the file holds exactly the text (printf %s).
expect_file() {
  if ! printf '%s' "$2" | cmp -s - "$1"; then
    fail "content of $1 differs (- expected, + got):"
    printf '%s' "$2" | diff -u - "$1" | tail -n +3 | head -40 >&2
  fi
}

. "$(dirname "${BASH_SOURCE[0]}")/poll.sh"

# wait_for SECONDS COMMAND...: poll, and a failed check when the time is up.
wait_for() {
  local s=$1
  shift
  poll "$s" "$@" || { fail "timed out waiting for: $*"; return 1; }
}

# wait_until SECONDS WHAT COMMAND...: the same, the failure naming WHAT.
wait_until() {
  local s=$1 what=$2
  shift 2
  poll "$s" "$@" || { fail "timed out after $s s waiting for $what"; return 1; }
}

# wait_eq SECONDS WHAT EXPECTED COMMAND...: polls until COMMAND prints
# EXPECTED; fails with the last output when the time is up.
wait_eq() {
  local s=$1 what=$2 want=$3 got tries
  shift 3
  tries=$((s * 20))
  while got=$("$@" 2>/dev/null); [ "$got" != "$want" ]; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || { fail "$what: expected [$want], got [$got] (after $s s)"; return 1; }
    sleep 0.05
  done
}

# The stand-ins' journal ($JOURNAL, set by the tier): whether it holds LINE,
# how many times, and expect_journal LINE: it has LINE or gets it within
# 10 s (the daemons run their lines one by one, after the state a case
# waited for).
journal_has() { grep -qxF -- "$1" "$JOURNAL"; }
journal_count() { grep -cxF -- "$1" "$JOURNAL"; }
expect_journal() { poll 10 journal_has "$1" || fail "journal lacks the line: $1"; }

# start_daemon NAME [ERRFILE]: starts the program in the background, its
# output in /tmp/NAME.out (written afresh), its errors in ERRFILE (default
# /tmp/NAME.err; /tmp/NAME.out puts both in one file); its pid in PID_NAME.
start_daemon() {
  local name=$1 out=/tmp/$1.out err=${2:-/tmp/$1.err}
  if [ "$err" = "$out" ]; then
    "$name" >"$out" 2>&1 &
  else
    "$name" >"$out" 2>"$err" &
  fi
  printf -v "PID_$name" %s $!
}

# stop_daemon NAME: ends what start_daemon NAME started (SIGTERM) and reaps it.
stop_daemon() {
  local pid_var=PID_$1
  [ -n "${!pid_var:-}" ] || return 0
  kill "${!pid_var}" 2>/dev/null
  wait "${!pid_var}" 2>/dev/null
  printf -v "$pid_var" %s ''
}

# make_br0 ADDR/PREFIX [MAC]: the LAN bridge br0, up, with the address (and
# the MAC address); make_lan_port: a veth pair, lan0 a port of br0 and host0
# the LAN side outside it; make_wan ADDR/PREFIX: eth2.2 as a veth pair with
# wanpeer, up, with the address.
make_br0() {
  ip link add br0 type bridge &&
    { [ -z "${2:-}" ] || ip link set br0 address "$2"; } &&
    ip link set br0 up && ip addr add "$1" dev br0 || fail "cannot build br0"
}
make_lan_port() {
  ip link add lan0 type veth peer name host0 && ip link set lan0 master br0 &&
    ip link set lan0 up && ip link set host0 up || fail "cannot add lan0 to br0"
}
make_wan() {
  ip link add eth2.2 type veth peer name wanpeer && ip addr add "$1" dev eth2.2 &&
    ip link set eth2.2 up && ip link set wanpeer up || fail "cannot build eth2.2"
}

# run_case CASE: runs case_CASE of the sourcing script and exits with the
# verdict.
run_case() {
  if [ $# -ne 1 ] || ! declare -F "case_$1" >/dev/null; then
    echo "usage: $0 ${CASE_ARGS:-}CASE (one of: $(declare -F | sed -n 's/^declare -f case_//p' | tr '\n' ' '))" >&2
    exit 2
  fi
  CASE=$1
  if declare -F before_case >/dev/null; then before_case; fi
  "case_$CASE"
  end_case
}

# end_case: the tier's clean-up (after_case), then the verdict; exits.
end_case() {
  trap - EXIT
  if declare -F after_case >/dev/null; then after_case; fi
  if [ $FAILS -gt 0 ]; then
    echo "$CASE: $FAILS check(s) failed" >&2
    exit 1
  fi
  echo "$CASE: passed"
  exit 0
}
