#!/bin/bash
# The daemons' tick loop (common/tick) driven through the real sendmsg.
# The commands are queued before tickprobe starts, so the order of its lines
# does not depend on when the test process gets scheduled.
. "$(dirname "$0")/lib.sh"

# run_probe CMD...: posts the commands to queue 204, runs tickprobe until
# command 99 stops it, leaves its lines in /tmp/probe and, without the
# timestamps, in /tmp/lines.
run_probe() {
  local c
  for c in "$@"; do sendmsg 204 "$c" || fail "sendmsg 204 $c"; done
  timeout 30 "$TESTBIN/tickprobe" 204 >/tmp/probe
  expect_eq "$?" 0 "tickprobe status"
  sed -e 's/ t=[0-9]*$//' -e 's/ pending=[0-9]*$//' /tmp/probe >/tmp/lines
}

# ms_of LINE_PREFIX: the t= value of the first line starting with the prefix.
ms_of() {
  sed -n "s/^$1 .*t=\([0-9]*\)$/\1/p" /tmp/probe | head -n 1
}

case_one_command_per_tick() {
  run_probe 5 6 7 99
  expect_file /tmp/lines 'ready
cmd 5
tick 1
cmd 6
tick 2
cmd 7
tick 3
cmd 99
tick 4
stopped
'
  expect_eq "$("$TESTBIN/msgpeek" 204)" "" "queue 204 after the run"
}

case_keeps_ticking_during_a_long_command() {
  # Command 90 keeps its pass busy for 2.5 s; the expiries of that time stay
  # counted and the loop then runs the missed passes without waiting.
  run_probe 90 5 6 99
  expect_file /tmp/lines 'ready
cmd 90
slow done
tick 1
cmd 5
tick 2
cmd 6
tick 3
cmd 99
tick 4
stopped
'
  local pending
  pending=$(sed -n 's/^slow done pending=\([0-9]*\) .*/\1/p' /tmp/probe)
  [ "${pending:-0}" -ge 2 ] || fail "expiries counted during the 2.5 s command: ${pending:-none}, expected 2 or more"
  # Passes 2 and 3 are catch-up passes that follow pass 1 at once; pass 4
  # waits for a real expiry. Generous bounds: this only tells the two apart.
  local t1 t3 t4
  t1=$(ms_of "tick 1") t3=$(ms_of "tick 3") t4=$(ms_of "tick 4")
  [ $((t3 - t1)) -lt 400 ] || fail "catch-up passes took $((t3 - t1)) ms after pass 1"
  [ $((t4 - t3)) -ge 100 ] || fail "pass 4 came $((t4 - t3)) ms after pass 3, without waiting for the tick"
}

run_case "$@"
