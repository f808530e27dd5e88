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
#   - /bin/pptp, the pptp stand-in, because /etc/options.pptp names that path;
#   - /bin/kinwatch, because fwmgr starts it by that path.
# Then it uses up a dozen pids (process lookup ignores pids below 12), starts
# the router kernel's stand-ins (the DNS query log sim_dnslog, the accounting
# sim_account), then, as the router's start-up script does, netmgr (output in
# /sim/netmgr.log), fwmgr (/sim/fwmgr.log), which starts trafmon, httpd and
# kinwatch, logmail (/sim/logmail.log) and arpguard (/sim/arpguard.log);
# writes /sim/router.ready, and
# stays as the namespace's reaper until SIGTERM; its exit ends every process
# of the router.
#
# Environment: SIM_DIR, SIM_MNT (an empty directory for the mounts),
# SIM_BUILD (the build tree), SIM_SRC (the source tree).
set -u
die() {
  echo "router: $*" >&2
  exit 1
}
mnt=$SIM_MNT
root=$mnt/root

mount --make-rprivate / || die "cannot make the mount namespace private"
mount -t tmpfs -o mode=0755 simrouter "$mnt" || die "cannot mount a tmpfs on $mnt"
mkdir -p "$mnt/upper" "$mnt/work" "$root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$mnt/upper,workdir=$mnt/work" "$root" ||
  die "cannot mount an overlay of /"
mount -t proc proc "$root/proc" || die "cannot mount /proc"
mount --rbind /dev "$root/dev" || die "cannot bind /dev"
mount -t sysfs sysfs "$root/sys" 2>/dev/null || echo "router: warning: no /sys inside" >&2
mkdir -p "$root/sim" && mount --bind "$SIM_DIR" "$root/sim" || die "cannot bind $SIM_DIR to /sim"
ln -sf /sim/bin/pptp "$root/bin/pptp" || die "cannot install /bin/pptp"
ln -sf /sim/bin/kinwatch "$root/bin/kinwatch" || die "cannot install /bin/kinwatch"
mkdir -p "$root/run" "$root/var/run" 2>/dev/null

for _ in 1 2 3 4 5 6 7 8 9 10 11 12; do /bin/true; done

export PATH=/sim/bin:$SIM_BUILD/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export NVRAM_FILE=/sim/nvram.conf ROUTER_KERNEL_ROOT=/sim/kernel SIM_JOURNAL=/sim/journal
export SIM_STANDINS=/sim/standins SIM_REAL=/sim/real HOME=/root TMPDIR=/tmp
unset SIM_MNT SIM_DIR

# The router kernel's DNS query log, /proc/dns_log2 (fed by the ULOG rule).
chroot "$root" /bin/sh -c 'cd /sim && exec sim_dnslog /sim/kernel/proc/dns_log2 >>/sim/dnslog.log 2>&1' &
chroot "$root" /bin/sh -c 'cd /sim && exec netmgr >>/sim/netmgr.log 2>&1' &
netmgr=$!
# The kernel's accounting (a stand-in, see sim/standins/sim_account.c).
chroot "$root" /bin/sh -c 'cd /sim && exec sim_account >>/sim/account.log 2>&1' &
# The firewall manager, which starts trafmon, httpd and kinwatch; then the
# log mailer and the ARP defence daemon.
chroot "$root" /bin/sh -c 'cd /sim && exec fwmgr >>/sim/fwmgr.log 2>&1' &
fwmgr=$!
chroot "$root" /bin/sh -c 'cd /sim && exec logmail >>/sim/logmail.log 2>&1' &
logmail=$!
chroot "$root" /bin/sh -c 'cd /sim && exec arpguard >>/sim/arpguard.log 2>&1' &
trap 'kill -TERM $netmgr $fwmgr $logmail 2>/dev/null; exit 0' TERM INT HUP
echo "$netmgr" >"$root/sim/router.ready"
wait $netmgr
echo "router: netmgr ended with status $?" >>"$root/sim/netmgr.log"
# Stay, so the namespace lives until simnet.sh ends it.
sleep 86400 &
wait $!
