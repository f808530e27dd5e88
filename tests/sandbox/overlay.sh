# The throw-away root shared by the process tests' sandbox (sandbox.sh) and
# the simulated router (sim/router-init.sh). Sourced by bash, run as root in
# a new mount namespace.
#
# overlay_root MNT NAME [ro]: makes the mounts private, mounts a tmpfs named
# NAME on MNT holding the upper and work directories of an overlay of / on
# MNT/root, then a new /proc, /dev bound from the host and /sys of the
# current network namespace (read-only with ro) inside it. Everything
# written lands in the tmpfs and vanishes with the mount namespace; the
# host's / stays untouched. Returns 0, or sets OVERLAY_ERR and returns 2 when
# this machine cannot make such a root (no private mounts, tmpfs or
# overlayfs) and 1 when a later mount fails. A missing /sys is only a
# warning on stderr.
overlay_root() {
  local mnt=$1 name=$2 ro=${3:-} root=$1/root
  OVERLAY_ERR=
  mount --make-rprivate / || { OVERLAY_ERR="cannot make the mount namespace private"; return 2; }
  mount -t tmpfs -o mode=0755 "$name" "$mnt" || { OVERLAY_ERR="cannot mount a tmpfs on $mnt"; return 2; }
  mkdir -p "$mnt/upper" "$mnt/work" "$root"
  mount -t overlay overlay -o "lowerdir=/,upperdir=$mnt/upper,workdir=$mnt/work" "$root" || {
    OVERLAY_ERR="cannot mount an overlay of / (kernel without overlayfs, or / not usable as a lower layer)"
    return 2
  }
  mount -t proc proc "$root/proc" || { OVERLAY_ERR="cannot mount /proc"; return 1; }
  mount --rbind /dev "$root/dev" || { OVERLAY_ERR="cannot bind /dev"; return 1; }
  if [ "$ro" = ro ]; then
    mount -t sysfs -o ro sysfs "$root/sys" 2>/dev/null || mount --rbind -o ro /sys "$root/sys" 2>/dev/null
  else
    mount -t sysfs sysfs "$root/sys" 2>/dev/null
  fi || echo "$name: warning: no /sys inside" >&2
  return 0
}
