# Helpers for the process tests (sourced by bash scripts run in the sandbox).
# A script defines functions named case_<name> and ends with `run_case "$@"`;
# ctest runs one case per test.

set -u
FAILS=0
# The daemons wait 1 s at start instead of 5 (ROUTER_START_WAIT); a case
# that checks the real wait unsets it.
export ROUTER_START_WAIT=${ROUTER_START_WAIT-1}

# fail MESSAGE: records a failed check and goes on.
fail() {
  echo "FAIL: $*" >&2
  FAILS=$((FAILS + 1))
}

# expect_eq ACTUAL EXPECTED WHAT
expect_eq() {
  if [ "$1" != "$2" ]; then
    fail "$3: expected [$2], got [$1]"
  fi
}

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

# wait_for SECONDS COMMAND...: polls the command every 0.05 s until it
# succeeds; fails the check when the time is up. Only a guard against hangs.
wait_for() {
  local tries=$(($1 * 20))
  shift
  while ! "$@" 2>/dev/null; do
    tries=$((tries - 1))
    if [ $tries -le 0 ]; then
      fail "timed out waiting for: $*"
      return 1
    fi
    sleep 0.05
  done
}

# make_flash: a flash image with the base MAC address 00:11:22:33:44:55 at
# 0x40004, under the kernel root.
make_flash() {
  head -c $((0x40004)) /dev/zero >"$ROUTER_KERNEL_ROOT/dev/flash0"
  printf '\x00\x11\x22\x33\x44\x55' >>"$ROUTER_KERNEL_ROOT/dev/flash0"
}

# journal_has LINE / journal_count LINE: the stand-ins' journal holds LINE
# (how many times).
journal_has() { grep -qxF -- "$1" /sbx/journal; }
journal_count() { grep -cxF -- "$1" /sbx/journal; }

run_case() {
  if [ $# -ne 1 ] || ! declare -F "case_$1" >/dev/null; then
    echo "usage: $0 CASE (one of: $(declare -F | sed -n 's/^declare -f case_//p' | tr '\n' ' '))" >&2
    exit 2
  fi
  "case_$1"
  if [ $FAILS -gt 0 ]; then
    echo "$1: $FAILS check(s) failed" >&2
    exit 1
  fi
  echo "$1: passed"
}

TESTBIN=${ROUTER_BUILD_DIR:-.}/tests
