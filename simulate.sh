#!/bin/bash
# The router simulation: builds what it needs (build-sim/, a normal build),
# starts the router (netmgr with real iptables, busybox udhcpc/udhcpd, ...),
# a LAN host and an ISP host in network namespaces from the default
# configuration config/default.nvram (the URL logger and the ARP defence
# on), waits until the WAN is up and the LAN host has its lease, prints
# a report of the whole system, and keeps running until Ctrl-C.
#
#   ./simulate.sh [--report-only] [--keep] [FILE | KEY=VALUE]...
#   ./simulate.sh --board [...]   the same on the emulated MIPS board
#                                 (board/simulate.sh, docs/board.md)
#
#   --report-only  stop after the report
#   --keep         keep the files (journal, netmgr output, hosts' logs)
#   FILE           a configuration file merged over the defaults
#   KEY=VALUE      a configuration value, for example wan_connecttype=1
#
# While it runs, the router's status page is at http://127.0.0.1:8080/status.html
# on this PC (the first free port from SIM_PAGE_PORT, default 8080).
#
# Environment: SIM_BUILD_DIR (default build-sim), SIM_PAGE_PORT. See sim/README.md.
set -u
cd "$(dirname "$0")" || exit 1
report_only=0
board=0
args=()
for a in "$@"; do
  case $a in
    --report-only) report_only=1 ;;
    --keep) export SIM_KEEP=1 BOARD_KEEP=1 ;;
    --board) board=1 ;;
    -h | --help)
      sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    -*)
      echo "simulate: unknown option $a (see --help)" >&2
      exit 2
      ;;
    *) args+=("$a") ;;
  esac
done
if [ $board = 1 ]; then
  . board/simulate.sh
  exit
fi

. sim/simnet.sh
if [ "$(id -u)" != 0 ]; then
  echo "simulate: needs root for network namespaces, overlay mounts and chroot (run it as root)" >&2
  exit 1
fi
# A fresh machine gets the Debian packages it lacks (nothing when all are there).
bash .ci/install-deps.sh || echo "simulate: could not install the missing packages" >&2
(sim_require) || exit 1
for t in cmake:cmake g++:g++ pkg-config:pkg-config; do
  command -v "${t%%:*}" >/dev/null || {
    echo "simulate: ${t%%:*} is missing (package ${t#*:}); .ci/install-deps.sh installs everything" >&2
    exit 1
  }
done

build=${SIM_BUILD_DIR:-build-sim}
mkdir -p "$build" || exit 1
log=$build/simulate-build.log
gen=()
[ -f "$build/CMakeCache.txt" ] || { command -v ninja >/dev/null && gen=(-G Ninja); }
echo "simulate: building in $build"
cmake -S . -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROUTER_SANITIZE=OFF -DROUTER_TESTS=OFF >"$log" 2>&1 &&
  cmake --build "$build" >>"$log" 2>&1 || {
  tail -n 30 "$log" >&2
  echo "simulate: the build failed (log: $log; missing libraries? .ci/install-deps.sh installs them)" >&2
  exit 1
}

trap 'exit 130' INT TERM HUP
trap 'sim_down' EXIT
start=$(date +%s%N)
# The defaults turn the URL logger and the ARP defence on, so the report shows
# all seven programs at work; arguments can turn them off again.
sim_up "$build" "${args[@]}" ||
  { echo "simulate: the simulation did not start" >&2; exit 1; }
ok=1
sim_wait_wan 60 || { echo "simulate: the WAN did not come up within 60 s (no masquerade rule)" >&2; ok=0; }
sim_wait_lease 60 || { echo "simulate: the LAN host got no lease within 60 s" >&2; ok=0; }
up_ms=$((($(date +%s%N) - start) / 1000000))
# fwmgr starts kinwatch 5 s after its own start, trafmon and httpd at its 8th
# pass: wait for every daemon (at most 30 s) before the lookups and the report.
sim_poll 30 eval '! sim_daemons | grep -q " - stopped"' ||
  echo "simulate: not every daemon runs after 30 s (see the report)" >&2
# Three lookups from the LAN host through the router, for the URL log, which
# kinwatch writes three lines at a time every 5 s.
for site in www.example.com www.example.org www.example.net; do
  sim_lan timeout 2 busybox nslookup "$site." 192.168.0.1 >/dev/null 2>&1
done
sim_poll 15 eval '[ "$(sim_router cat /var/url.log 2>/dev/null | wc -l)" -ge 4 ]'
echo
echo "Router simulation: up in $((up_ms / 1000)).$(printf %03d $((up_ms % 1000))) s"
sim_report
if [ $ok = 0 ]; then
  echo "simulate: netmgr output:" >&2
  tail -n 40 "$SIM_TMP/router/netmgr.log" >&2
  exit 1
fi
[ $report_only = 1 ] && exit 0

# The router's status page for a browser on this PC: a forwarder on the
# loopback (127.0.0.1 only) into the LAN host's network namespace.
page=
if port=$(sim_free_port "${SIM_PAGE_PORT:-8080}"); then
  sim_forward_page "$port"
  page=http://127.0.0.1:$port/status.html
  sim_poll 10 timeout 5 busybox wget -q -O /dev/null "$page" ||
    echo "simulate: the status page does not answer at $page yet (see $SIM_TMP/forward.log)" >&2
else
  echo "simulate: no free port from ${SIM_PAGE_PORT:-8080} on for the status page" >&2
fi

cat <<EOF

The simulation is running (Ctrl-C stops it and removes everything).${page:+
Status page of the router (open it in a browser on this PC): $page}
Try:
  nsenter --net=/run/netns/$SIM_ID-lan busybox ping -c 3 $SIM_ISP_FAR
  nsenter --net=/run/netns/$SIM_ID-lan busybox wget -q -O - http://$SIM_ISP_FAR/cgi-bin/whoami
  nsenter --net=/run/netns/$SIM_ID-router iptables -t nat -S
  tail -f $SIM_TMP/router/journal
  nsenter -t $SIM_ROUTER_INIT -i -m -n -p chroot $SIM_TMP/mnt/root \\
       env PATH=/sim/bin:$SIM_BUILD/bin:/usr/sbin:/usr/bin NVRAM_FILE=/sim/nvram.conf ROUTER_KERNEL_ROOT=/sim/kernel sh
       (a shell in the router: nvram set ..., sendmsg 204 4, routerstat,
        /etc/init.d/router status, tail /var/log/fwmgr.log)
EOF
for _ in $(seq 1 8640); do # at most a day
  sleep 10 &
  wait $!
done
