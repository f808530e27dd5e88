# The emulated board (./simulate.sh --board runs this): builds what is
# missing (Debian's Malta kernel and mipsel packages, the mipsel staging
# root, the root disk; see board/board.sh), boots the board in
# qemu-system-mipsel with config/default.nvram and the given settings,
# waits until the WAN is up and the LAN host has its lease, prints how long
# that took from qemu's start and a report, and keeps the board running
# until Ctrl-C.
#
#   ./simulate.sh --board [--report-only] [--keep] [FILE | KEY=VALUE]...
#
# Sourced by ./simulate.sh, which has read the options into report_only,
# BOARD_KEEP and args. Environment: BOARD_BUILD_DIR (default build-board).
# See docs/board.md.
if [ "$(id -u)" != 0 ]; then
  echo "simulate: the board needs root (apt-get for its packages, depmod, mke2fs -d)" >&2
  exit 1
fi
. board/board.sh
build=${BOARD_BUILD_DIR:-build-board}
mkdir -p "$build" || exit 1
echo "simulate: building the board in $build"
board_build "$build" >"$build/board-build.log" 2>&1 || {
  tail -n 30 "$build/board-build.log" >&2
  echo "simulate: the board's build failed (log: $build/board-build.log)" >&2
  exit 1
}

trap 'exit 130' INT TERM HUP
trap 'board_down' EXIT
board_up "$build" "${args[@]}" || { echo "simulate: the board did not start" >&2; exit 1; }
ok=1
board_wait_ready 120 || { echo "simulate: no answer on the board's channel within 120 s" >&2; ok=0; }
ready_ms=$(board_ms)
if [ $ok = 1 ]; then
  board_wait_wan 180 || { echo "simulate: the WAN did not come up within 180 s (no masquerade rule)" >&2; ok=0; }
fi
wan_ms=$(board_ms)
if [ $ok = 1 ]; then
  board_wait_lease 120 || { echo "simulate: the LAN host got no lease within 120 s" >&2; ok=0; }
fi
lease_ms=$(board_ms)
# fwmgr starts kinwatch 5 s after its own start, trafmon and httpd at its
# 8th pass: wait for every daemon (at most 60 s) before the report.
[ $ok = 0 ] || board_poll 60 board_exec --timeout 10 '! /etc/init.d/router status | grep -q stopped' ||
  echo "simulate: not every daemon runs after 60 s (see the report)" >&2
# trafmon publishes its segments from 7 s after its start.
[ $ok = 0 ] || board_poll 30 board_exec --timeout 10 '! routerstat 2>&1 | grep -q "segment 20[16]) absent"' ||
  echo "simulate: the traffic monitor's segments are absent after 30 s" >&2
s() { printf '%d.%03d s' $(($1 / 1000)) $(($1 % 1000)); }
echo
echo "Board: channel up $(s "$ready_ms"), WAN up $(s "$wan_ms"), LAN host leased $(s "$lease_ms") after qemu's start"
board_report
if [ $ok = 0 ]; then
  echo "simulate: the lab's log and the end of netmgr's output:" >&2
  board_exec --timeout 20 'cat /board/log/lab.log; tail -n 40 /var/log/netmgr.log' >&2
  exit 1
fi
[ $report_only = 1 ] && exit 0

cat <<EOF

The board is running (Ctrl-C stops it). Run a command in it:
  python3 board/exec.py $BOARD_CHAN 'iptables -t nat -S; cat /proc/net/vlan/config'
  python3 board/exec.py $BOARD_CHAN '. /board/lab.conf; nsenter --net=/run/netns/lan busybox wget -q -O - http://\$BOARD_ISP_FAR/cgi-bin/whoami'
  (in the board: /board/journal, /board/refused, /var/log/*.log, /board/log/lab.log;
   nvram set ..., sendmsg 204 4, routerstat, /etc/init.d/router status)
Console log: $BOARD_TMP/console.log
EOF
for _ in $(seq 1 8640); do # at most a day
  kill -0 "$BOARD_QEMU" 2>/dev/null || break
  sleep 10 &
  wait $!
done
