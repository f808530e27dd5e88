#!/bin/bash
# memdump in the router simulation (ctest label sim): run in the router on a
# crafted sparse image in place of /dev/mem (under ROUTER_KERNEL_ROOT).
#
#   bash sim/tests/memdump_test.sh BUILD_DIR CASE
. "$(dirname "$0")/lib.sh"

# mark OFFSET: the marker 1F 2E 3D 4C at OFFSET of the image.
mark() { printf '\x1f\x2e\x3d\x4c' | dd of="$SIM_TMP/router/kernel/dev/mem" bs=1 seek="$1" conv=notrunc status=none; }

case_memdump_finds_the_markers() {
  start_sim
  # 27 MiB and one chunk more, holes but for the markers: one at 0x400, one
  # 1020 bytes into chunk 0, one across the border of chunks 1 and 2, one at
  # the end of the last chunk searched and one beyond it.
  truncate -s $((27 * 1024 * 1024 + 1024)) "$SIM_TMP/router/kernel/dev/mem"
  local at
  for at in 0x3fc 0x400 0x7ff 0x1affffc 0x1b00000; do mark $((at)); done
  sim_router memdump >"$SIM_TMP/memdump.out" 2>&1
  expect_eq "$?" 0 "exit status"
  expect_eq "$(od -c "$SIM_TMP/memdump.out" | tail -n 2 | head -n 1 | awk '{print $(NF-1), $NF}')" '\n \n' "final empty line"
  expect_eq "$(cat "$SIM_TMP/memdump.out")" 'i=0 j=1020 mem=3fc
i=1 j=0 mem=400
i=1 j=1023 mem=7ff
i=27647 j=1020 mem=1affffc' "memdump's lines"
  rm -f "$SIM_TMP/router/kernel/dev/mem"
  expect_eq "$(sim_router memdump)" "open /dev/mem error" "without the memory file"
}

run_case "$CASE"
