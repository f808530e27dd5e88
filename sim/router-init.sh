#!/bin/bash
# The router of the simulation, run by simnet.sh as the first process of new
# IPC, mount and PID namespaces inside the router's network namespace:
#   - an overlay of / whose upper directory lies on a tmpfs, entered with
#     chroot, so the daemons write /etc, /var and /tmp for real and the host
#     stays untouched (everything vanishes with the mount namespace);
#   - a new /proc for the PID namespace, /dev bound from the host, /sys of
#     the router's network namespace;
#   - /sim bound from the host directory SIM_DIR, prepared by simnet.sh: the
#     wrappers and stand-ins (/sim/bin, first in PATH), the journal, the
#     configuration store (NVRAM_FILE=/sim/nvram.conf) and the kernel files
#     (ROUTER_KERNEL_ROOT=/sim/kernel), so the host sees them directly;
#   - /bin/pptp, the pptp stand-in, because /etc/options.pptp names that path,
#     and the router's programs in /bin (fwmgr starts /bin/kinwatch), their
#     output files /var/log/PROGRAM.log linked to /sim/PROGRAM.log (what
#     fwmgr starts, trafmon and kinwatch, writes into fwmgr.log);
#   - /etc/init.d/router, the board's start-up script (config/init.d/router);
#   - /www, the web server's home directory (the status page and its CGI),
#     leading to /sim/www.
# Then it uses up a dozen pids (process lookup ignores pids below 12), starts
# the simulated kernel modules (the DNS query log sim_dnslog, /sim/dnslog.log;
# the accounting stand-in sim_account, /sim/account.log), then runs the
# board's start-up script with busybox sh, "/etc/init.d/router start" (its
# own output in /sim/router-start.log), writes /sim/router.ready (the
# script's status), and
# stays as the namespace's reaper until SIGTERM; its exit ends every process
# of the router.
#
# Environment: SIM_DIR, SIM_MNT (an empty directory for the mounts),
# SIM_BUILD (the build tree), SIM_SRC (the source tree), SIM_START_WAIT (the
# daemons' start wait in seconds; empty: the real wait).
set -u
die() {
  echo "router: $*" >&2
  exit 1
}
mnt=$SIM_MNT
root=$mnt/root

. "$SIM_SRC/tests/sandbox/overlay.sh"
overlay_root "$mnt" simrouter || die "$OVERLAY_ERR"
mkdir -p "$root/sim" && mount --bind "$SIM_DIR" "$root/sim" || die "cannot bind $SIM_DIR to /sim"
ln -sf /sim/bin/pptp "$root/bin/pptp" || die "cannot install /bin/pptp"
# The programs in /bin as on the board (fwmgr starts /bin/kinwatch; trafmon
# and kinwatch lead to their journaling wrappers in /sim/bin, so a test sees
# each start), and their output files /var/log/PROGRAM.log leading into /sim.
mkdir -p "$root/var/log"
for p in netmgr fwmgr trafmon kinwatch logmail arpguard; do
  case $p in
    trafmon | kinwatch) ln -sf "/sim/bin/$p" "$root/bin/$p" ;;
    *) ln -sf "$SIM_BUILD/bin/$p" "$root/bin/$p" ;;
  esac || die "cannot install /bin/$p"
  ln -sf "/sim/$p.log" "$root/var/log/$p.log" || die "cannot link /var/log/$p.log"
done
mkdir -p "$root/etc/init.d" && cp "$SIM_SRC/config/init.d/router" "$root/etc/init.d/router" ||
  die "cannot install /etc/init.d/router"
mkdir -p "$root/run" "$root/var/run" 2>/dev/null
ln -sfn /sim/www "$root/www" || die "cannot install /www"

for _ in 1 2 3 4 5 6 7 8 9 10 11 12; do /bin/true; done

export PATH=/sim/bin:$SIM_BUILD/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export NVRAM_FILE=/sim/nvram.conf ROUTER_KERNEL_ROOT=/sim/kernel SIM_JOURNAL=/sim/journal
export SIM_STANDINS=/sim/standins SIM_REAL=/sim/real HOME=/root TMPDIR=/tmp
# The daemons' start wait: the real one, or SIM_START_WAIT seconds when the
# tests shorten it (ROUTER_START_WAIT, read by the daemons).
if [ -n "${SIM_START_WAIT:-}" ]; then export ROUTER_START_WAIT=$SIM_START_WAIT; else unset ROUTER_START_WAIT; fi
unset SIM_MNT SIM_DIR SIM_START_WAIT

# The router kernel's DNS query log, /proc/dns_log2 (fed by the ULOG rule),
# and its accounting (a stand-in, see sim/standins/sim_account.c).
chroot "$root" /bin/sh -c 'cd /sim && exec sim_dnslog /sim/kernel/proc/dns_log2 >>/sim/dnslog.log 2>&1' &
chroot "$root" /bin/sh -c 'cd /sim && exec sim_account >>/sim/account.log 2>&1' &
# The board's start-up: the daemons in their order.
chroot "$root" busybox sh /etc/init.d/router start >>"$root/sim/router-start.log" 2>&1
trap 'chroot "$root" busybox sh -c "kill -TERM \$(pidof netmgr logmail fwmgr arpguard) 2>/dev/null"; exit 0' TERM INT HUP
chroot "$root" busybox sh /etc/init.d/router status >"$root/sim/router.ready.new" 2>&1
mv "$root/sim/router.ready.new" "$root/sim/router.ready"
# Stay, as the reaper of the namespace's orphans, until simnet.sh ends it.
while :; do
  sleep 86400 &
  wait $!
done
