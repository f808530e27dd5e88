#!/bin/bash
# sandbox.sh [--keep] BUILD_DIR COMMAND [ARG...]
#
# Runs COMMAND as root in throw-away namespaces for the process tests:
#   - private System V IPC, mount, network and PID namespaces (unshare);
#   - an overlay of / whose upper and work directories lie on a tmpfs, entered
#     with chroot, so everything written (/etc, /var, the build tree) vanishes
#     with the sandbox and the host stays untouched;
#   - a new /proc for the PID namespace, /dev bound from the host, a read-only
#     /sys of the new network namespace, loopback up; /tmp stays part of the
#     overlay, so a build tree under /tmp is reachable too;
#   - /sbx holding the stand-in tools (/sbx/bin, first in PATH, then
#     BUILD_DIR/bin), the journal they append to (/sbx/journal), their hooks
#     (/sbx/behave), the store (NVRAM_FILE=/sbx/nvram.conf) and the kernel
#     files (ROUTER_KERNEL_ROOT=/sbx/kernel);
#   - a dozen short processes first, so the programs under test get pids of
#     12 or more (process lookup ignores lower pids).
# With --keep the overlay's upper directory is copied out to
# /tmp/sandbox.XXXXXX.keep on the host for inspection.
#
# Exit status: COMMAND's, or 77 (with a message) when the sandbox cannot be
# made here: not root, no unshare, no overlay support.
set -u

SKIP=77
skip() {
  echo "SKIPPED: $*" >&2
  exit $SKIP
}

if [ "${SANDBOX_STAGE:-}" != inner ]; then
  keep=0
  if [ "${1:-}" = --keep ]; then
    keep=1
    shift
  fi
  if [ $# -lt 2 ]; then
    echo "usage: sandbox.sh [--keep] BUILD_DIR COMMAND [ARG...]" >&2
    exit 2
  fi
  [ "$(id -u)" = 0 ] || skip "process tests need root for namespaces, overlay and chroot (running as uid $(id -u))"
  command -v unshare >/dev/null || skip "unshare (util-linux) is not installed"
  unshare --ipc --mount --net --pid --fork true 2>/dev/null ||
    skip "unshare --ipc --mount --net --pid --fork is not permitted here"
  build=$(cd "$1" 2>/dev/null && pwd) || {
    echo "sandbox: no build directory $1" >&2
    exit 2
  }
  shift
  src=$(cd "$(dirname "$0")/../.." && pwd)
  mnt=$(mktemp -d /tmp/sandbox.XXXXXX) || exit 1
  SANDBOX_STAGE=inner SANDBOX_MNT=$mnt SANDBOX_KEEP=$keep SANDBOX_BUILD=$build SANDBOX_SRC=$src \
    unshare --ipc --mount --net --pid --kill-child bash "$0" "$@"
  rc=$?
  rmdir "$mnt" 2>/dev/null
  exit $rc
fi

# ---- inside the new namespaces; this shell is pid 1 ----
mnt=$SANDBOX_MNT
root=$mnt/root
die() {
  echo "sandbox: $*" >&2
  exit 1
}

. "$SANDBOX_SRC/tests/sandbox/overlay.sh"
overlay_root "$mnt" sandbox ro
case $? in
  0) ;;
  2) skip "$OVERLAY_ERR" ;;
  *) die "$OVERLAY_ERR" ;;
esac

# The sandbox's own directory.
sbx=$root/sbx
mkdir -p "$sbx/bin" "$sbx/behave" "$sbx/run" "$sbx/kernel/proc/vkproc" "$sbx/kernel/dev" || die "cannot make /sbx"
: >"$sbx/journal"
standins=$SANDBOX_SRC/tests/standins
for tool in iptables arptables tc ifconfig route brctl vconfig switch udhcpc udhcpd pppd xl2tpd pptp \
  killall free httpd upnp inadyn; do
  ln -s "$standins/standin" "$sbx/bin/$tool" || die "cannot install stand-in $tool"
done
ln -s "$standins/udhcpc-event" "$sbx/bin/udhcpc-event"

ip link set lo up 2>/dev/null || echo "sandbox: warning: loopback not up (no ip tool?)" >&2

# Use up pids 2..13 so the command and its children come after them.
for _ in 1 2 3 4 5 6 7 8 9 10 11 12; do /bin/true; done

export PATH=/sbx/bin:$SANDBOX_BUILD/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export NVRAM_FILE=/sbx/nvram.conf ROUTER_KERNEL_ROOT=/sbx/kernel SANDBOX_JOURNAL=/sbx/journal
export ROUTER_BUILD_DIR=$SANDBOX_BUILD ROUTER_SOURCE_DIR=$SANDBOX_SRC SANDBOX=1 HOME=/root TMPDIR=/tmp
unset SANDBOX_STAGE SANDBOX_MNT

# The command runs as a child: this shell stays pid 1, reaps orphans, and its
# exit ends every process left in the namespace.
chroot "$root" /bin/sh -c 'cd /sbx && exec "$@"' sandbox "$@" &
child=$!
trap 'kill -TERM $child 2>/dev/null' TERM INT HUP
wait $child
rc=$?
while kill -0 $child 2>/dev/null; do  # wait returned early for a trapped signal
  wait $child
  rc=$?
done

if [ "$SANDBOX_KEEP" = 1 ]; then
  keepdir=${mnt}.keep
  if cp -a "$mnt/upper" "$keepdir"; then
    echo "sandbox: upper directory kept in $keepdir" >&2
  else
    echo "sandbox: could not keep the upper directory" >&2
  fi
fi
exit $rc
