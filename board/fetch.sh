#!/bin/bash
# Fetches what the emulated board is made of, all from Debian's packages:
# the Malta kernel (linux-image-4kc-malta:mipsel, the version its
# meta-package names) with its modules (depmod run on the extracted tree),
# and the mipsel userland of the router and of the lab's hosts (busybox,
# dash, iptables, iproute2, arptables, bridge-utils, vlan, ppp, pppoe,
# dnsmasq, xl2tpd, pptp-linux, pptpd) with the libraries they depend on. Also installs the PC's side
# when missing (qemu-system-mips, qemu-user, cpio, kmod, e2fsprogs, python3,
# binutils-mipsel-linux-gnu). Downloads are cached in BUILD/debs and
# extracted into BUILD/pkgs (one tree) and BUILD/kernel; a second run
# downloads nothing new.
#
#   bash board/fetch.sh [BUILD]        BUILD defaults to build-board
#
# Needs root (apt-get). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-board}
mkdir -p "$build/debs"
build=$(cd "$build" && pwd)
apt_opts=(-o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
export DEBIAN_FRONTEND=noninteractive

# --- the PC's side and the foreign architecture (as .ci/cross.sh sets it up)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
  dpkg --add-architecture mipsel
  need_update=1
fi
apt-cache show --no-all-versions busybox-static:mipsel >/dev/null 2>&1 || need_update=1
[ $need_update = 0 ] || apt-get "${apt_opts[@]}" update -qq
host_missing=()
for p in qemu-system-mips qemu-user cpio kmod e2fsprogs python3 binutils-mipsel-linux-gnu; do
  installed "$p" || host_missing+=("$p")
done
if [ ${#host_missing[@]} -gt 0 ]; then
  echo "board: installing ${host_missing[*]}"
  apt-get "${apt_opts[@]}" install -y -qq --no-install-recommends "${host_missing[@]}" >/dev/null
fi

# Nothing to do when the extracted tree is newer than this script and the
# package lists.
if [ -f "$build/pkgs.stamp" ] && [ "$build/pkgs.stamp" -nt "$0" ] &&
  [ "$build/pkgs.stamp" -nt /var/lib/apt/lists ]; then
  echo "board: packages up to date in $build/pkgs"
  exit 0
fi

# --- which packages: the kernel the meta-package names, the userland, and
# the libraries they depend on (recursively). Maintainer-script and
# administration dependencies that the lab does not run are left out.
kernel=$(apt-cache depends linux-image-4kc-malta:mipsel | sed -n 's/^ *Depends: \(linux-image-[^ ]*\):mipsel$/\1/p' | head -n 1)
[ -n "$kernel" ] || { echo "board: no linux-image-4kc-malta:mipsel in the package lists" >&2; exit 1; }
wanted=(busybox-static dash iptables iproute2 arptables bridge-utils vlan ppp pppoe dnsmasq-base)
# The tunnels: xl2tpd (the router's L2TP client, the ISP's LNS), pptp (the
# router's PPTP client) and pptpd (the ISP's PPTP server).
wanted+=(xl2tpd pptp-linux pptpd)
skip=" debconf debconf-2.0 cdebconf libcap2-bin libpam-modules libpam-modules-bin libpam-runtime "
skip+=" procps passwd perl-base dpkg init-system-helpers lsb-base sysvinit-utils adduser libelogind0 "

# Level by level (one apt-cache call per level: it is slow on a loaded
# machine): "Depends: X" (or PreDepends); "|Depends: X" starts a list of
# alternatives (the first is taken, the next line is skipped); "<X>" is a
# virtual package, whose first provider follows on an indented line. Names
# are kept without architecture here.
declare -A seen=()
level=("${wanted[@]}")
list=()
while [ ${#level[@]} -gt 0 ]; do
  next=()
  for p in "${level[@]}"; do
    [ -z "${seen[$p]:-}" ] || continue
    seen[$p]=1
    list+=("$p")
  done
  args=()
  for p in "${level[@]}"; do args+=("$p:mipsel"); done
  alt=0 virtual=0
  while IFS= read -r line; do
    case $line in
      " |Depends: "* | " |PreDepends: "*) dep=${line#*: } alt=1 ;;
      "  Depends: "* | "  PreDepends: "*)
        dep=${line#*: }
        if [ $alt = 1 ]; then alt=0; continue; fi
        ;;
      "    "*)
        [ $virtual = 1 ] || continue
        dep=${line#"    "} virtual=0
        ;;
      *) continue ;;
    esac
    case $dep in
      "<"*) virtual=1; continue ;;
    esac
    dep=${dep%:mipsel}
    dep=${dep%:any}
    case $skip in *" $dep "*) continue ;; esac
    [ -n "${seen[$dep]:-}" ] || next+=("$dep")
  done < <(apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "${args[@]}" 2>/dev/null)
  level=("${next[@]}")
done
# Each name as apt-get takes it: NAME:mipsel, or NAME for an
# architecture-independent package (one apt-cache call for all).
declare -A indep=()
while read -r n; do indep[$n]=1; done < <(apt-cache show --no-all-versions "${list[@]}" 2>/dev/null |
  awk '/^Package:/ {p = $2} /^Architecture: all/ {print p}')
for i in "${!list[@]}"; do
  [ -n "${indep[${list[$i]}]:-}" ] || list[$i]=${list[$i]}:mipsel
done

# --- download what is not in the cache yet
cd "$build/debs"
get=()
for p in "$kernel:mipsel" "${list[@]}"; do
  n=${p%:mipsel}
  arch=all
  [ "$p" = "$n" ] || arch=mipsel
  compgen -G "${n}_*_${arch}.deb" >/dev/null || get+=("$p")
done
if [ ${#get[@]} -gt 0 ]; then
  echo "board: downloading ${#get[@]} packages"
  apt-get "${apt_opts[@]}" download "${get[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true
fi
printf '%s\n' "$kernel:mipsel" "${list[@]}" >"$build/packages.txt"

# --- extract: the userland into one tree, the kernel apart (its modules are
# chosen by board/mkroot.sh). A stamp holds the list, so a changed list
# extracts anew.
stamp=$build/pkgs.stamp
if [ ! -f "$stamp" ] || ! cmp -s "$stamp" "$build/packages.txt"; then
  rm -rf "$build/pkgs" "$build/kernel"
  mkdir -p "$build/pkgs" "$build/kernel"
  for p in "${list[@]}"; do
    n=${p%:mipsel}
    arch=all
    [ "$p" = "$n" ] || arch=mipsel
    for f in "${n}"_*_"$arch".deb; do dpkg-deb -x "$f" "$build/pkgs"; done
  done
  dpkg-deb -x "${kernel}"_*_mipsel.deb "$build/kernel"
  kver=$(ls "$build/kernel/lib/modules")
  depmod -b "$build/kernel" "$kver"
  cp "$build/packages.txt" "$stamp"
fi
touch "$stamp"
echo "board: kernel $kernel, ${#list[@]} userland packages in $build/pkgs"
