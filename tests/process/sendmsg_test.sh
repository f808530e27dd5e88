#!/bin/bash
# sendmsg against real System V queues (private IPC namespace of the sandbox).
. "$(dirname "$0")/lib.sh"

case_order() {
  expect_status 0 sendmsg 204 2
  expect_status 0 sendmsg 204 9
  expect_eq "$("$TESTBIN/msgpeek" 204)" "2 0
9 0" "messages taken from queue 204"
}

case_creates_queue() {
  expect_status 1 "$TESTBIN/msgpeek" --stat 210 2>/dev/null
  expect_status 0 sendmsg 210 1
  expect_eq "$("$TESTBIN/msgpeek" --stat 210)" "mode=0666 qnum=1" "queue 210 after sendmsg"
  expect_status 0 sendmsg 2147483647 9223372036854775807
  expect_eq "$("$TESTBIN/msgpeek" 2147483647)" "9223372036854775807 0" "largest key and command"
}

case_full_queue() {
  expect_status 0 "$TESTBIN/msgpeek" --limit 203 2
  expect_status 0 sendmsg 203 4
  expect_status 0 sendmsg 203 5
  # A blocking send would hang here; timeout's 124 would show it.
  local err
  err=$(timeout 10 sendmsg 203 6 2>&1)
  expect_eq "$?" 1 "exit status of sendmsg to a full queue"
  expect_eq "$err" "sendmsg: queue 203 is full, command 6 not posted" "message for a full queue"
  expect_eq "$("$TESTBIN/msgpeek" 203)" "4 0
5 0" "queue 203 keeps the two earlier commands"
  expect_status 0 "$TESTBIN/msgpeek" --limit 201 0
  expect_status 1 timeout 10 sendmsg 201 2 2>/dev/null
}

case_bad_arguments() {
  local args
  # One argument list per line, fields separated by '|'.
  while IFS='|' read -r -a args; do
    expect_status 2 sendmsg "${args[@]}" 2>/dev/null
  done <<'LIST'

204
204|2|3
abc|2
204|two
204|0
204|-3
204|2x
 204|2
204|+2
204|0x10
|2
0|2
2147483648|2
204|9223372036854775808
LIST
  local usage
  usage=$(sendmsg 2>&1)
  expect_eq "$usage" "usage: sendmsg KEY COMMAND
  KEY      decimal System V key of the queue (not 0)
  COMMAND  decimal command number, 1 or more" "usage text"
  expect_status 1 "$TESTBIN/msgpeek" --stat 204 2>/dev/null
}

run_case "$@"
