# What the process tests add to the shell test kit (tests/lib.sh): the
# sandbox's journal and test programs, the flash image, and the daemons'
# short start wait. Sourced by bash scripts run in the sandbox; a script
# defines functions named case_<name> and ends with `run_case "$@"`; ctest
# runs one case per test.
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

JOURNAL=/sbx/journal
TESTBIN=${ROUTER_BUILD_DIR:-.}/tests
# The daemons wait 1 s at start instead of 5 (ROUTER_START_WAIT); a case
# that checks the real wait unsets it.
export ROUTER_START_WAIT=${ROUTER_START_WAIT-1}

# make_flash: a flash image with the base MAC address 00:11:22:33:44:55 at
# 0x40004, under the kernel root.
make_flash() {
  head -c $((0x40004)) /dev/zero >"$ROUTER_KERNEL_ROOT/dev/flash0"
  printf '\x00\x11\x22\x33\x44\x55' >>"$ROUTER_KERNEL_ROOT/dev/flash0"
}
