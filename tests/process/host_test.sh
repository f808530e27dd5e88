#!/bin/bash
# host_test.sh SANDBOX BUILD_DIR: what a sandboxed command writes, kills or
# creates stays inside the sandbox.
. "$(dirname "$0")/lib.sh"
sandbox=$1 build=$2

marker=/etc/sandbox-marker-$$
# Key 0x5a17 (23063): a queue the host is unlikely to hold.
had_queue=$(ipcs -q | grep -c '^0x00005a17 ')
out=$("$sandbox" "$build" sh -c "echo inside >$marker && cat $marker && sendmsg 23063 2 && echo posted")
rc=$?
[ $rc = 77 ] && { echo "$out"; exit 77; }
expect_eq "$rc" 0 "sandbox status"
expect_eq "$out" "inside
posted" "output from inside"
[ ! -e "$marker" ] || { fail "$marker reached the host"; rm -f "$marker"; }
expect_eq "$(ipcs -q | grep -c '^0x00005a17 ')" "$had_queue" "host queues with key 23063"
expect_status 3 "$sandbox" "$build" sh -c 'exit 3'
expect_status 2 "$sandbox" 2>/dev/null
expect_status 2 "$sandbox" /nonexistent-build true 2>/dev/null
# Without root the sandbox reports a skip (77) with a reason; it never runs
# the command outside.
if command -v setpriv >/dev/null; then
  msg=$(setpriv --reuid=65534 --regid=65534 --clear-groups "$sandbox" "$build" sh -c 'echo ran' 2>&1)
  expect_eq "$?" 77 "sandbox status without root"
  expect_eq "$msg" "SKIPPED: process tests need root for namespaces, overlay and chroot (running as uid 65534)" \
    "message without root"
fi
if [ $FAILS -gt 0 ]; then exit 1; fi
echo "host_untouched: passed"
