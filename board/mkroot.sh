#!/bin/bash
# Builds the board's root file system as a disk image (BUILD/root.img,
# ext4) from what board/fetch.sh extracted, and the small boot initramfs
# that mounts it (BUILD/initrd.gz: busybox, the disk's modules and
# board/guest-boot-init as /init; the root does not fit in the board's
# 64 MB of memory). The root holds:
#   - the programs of the Debian packages that the router and the lab run,
#     with exactly the libraries their ELF headers need (and those needs'
#     needs), iptables' extensions, pppd's plugins and the name-service
#     modules and GBK converter glibc loads itself; no documentation,
#     locales or other converters;
#   - iptables and arptables on the legacy tables (the board's kernel has no
#     nf_tables): the links Debian's alternatives would make;
#   - busybox (static) under the name of every applet no package provides;
#     dash as /bin/sh;
#   - the kernel modules of board/guest/modules and modules.more with every
#     module they depend on, and modules.dep made anew for that set;
#   - the project's mipsel staging root (build-mipsel/stage, or BOARD_STAGE)
#     unpacked at / as on the board (/bin/netmgr, /etc/init.d/router,
#     /etc/default.nvram, ...);
#   - the board's own files (board/guest) in /board; busybox init.
# Prints the root's size. Exits non-zero on any failure.
#
#   bash board/mkroot.sh [BUILD]        BUILD defaults to build-board
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(cd "${1:-build-board}" && pwd)
stage=${BOARD_STAGE:-$src/build-mipsel/stage}
pkgs=$build/pkgs
[ -d "$pkgs" ] && [ -d "$build/kernel/lib/modules" ] || { echo "board: run board/fetch.sh first" >&2; exit 1; }
[ -x "$stage/bin/netmgr" ] || { echo "board: no staging root in $stage (bash .ci/cross.sh builds it)" >&2; exit 1; }
readelf=mipsel-linux-gnu-readelf
command -v $readelf >/dev/null || { echo "board: $readelf is missing (binutils-mipsel-linux-gnu)" >&2; exit 1; }

root=$build/root
rm -rf "$root"
mkdir -p "$root"/{proc,sys,dev,tmp,run,var/log,var/run,var/lock,root,etc,lib,bin,sbin,usr/bin,usr/sbin}

# --- programs (those the router and the lab run), with the links
# Debian's maintainer scripts would make
programs=(bin/busybox bin/dash bin/ip sbin/ip sbin/tc sbin/brctl sbin/vconfig usr/sbin/xtables-legacy-multi
  usr/sbin/arptables-legacy usr/sbin/arptables-legacy-save usr/sbin/arptables-legacy-restore
  usr/sbin/pppd usr/sbin/pppoe usr/sbin/pppoe-server usr/sbin/pppoe-discovery usr/sbin/dnsmasq)
# the tunnels' programs: xl2tpd, pptp, and the ISP's pptpd with its
# per-call pptpctrl
programs+=(usr/sbin/xl2tpd usr/sbin/xl2tpd-control usr/sbin/pptp usr/sbin/pptpd usr/sbin/pptpctrl)
for p in "${programs[@]}"; do
  mkdir -p "$root/$(dirname "$p")"
  cp -a "$pkgs/$p" "$root/$p"
done
cp -a "$pkgs/etc/." "$root/etc/"
rm -rf "$root/etc/init.d" "$root/etc/network" "$root/etc/cron."* "$root/etc/logrotate.d" \
  "$root/etc/dbus-1" "$root/etc/apparmor.d" "$root/etc/bash_completion.d"
ln -s xtables-legacy-multi "$root/usr/sbin/iptables"
for t in iptables-save iptables-restore; do
  ln -s xtables-legacy-multi "$root/usr/sbin/$t"
done
for t in arptables arptables-save arptables-restore; do
  ln -s "${t/arptables/arptables-legacy}" "$root/usr/sbin/$t"
done
mkdir -p "$root/usr/lib/mipsel-linux-gnu" "$root/lib/mipsel-linux-gnu"
# iptables' and arptables' extensions (not those of ip6tables and ebtables)
mkdir -p "$root/usr/lib/mipsel-linux-gnu/xtables"
cp -a "$pkgs/usr/lib/mipsel-linux-gnu/xtables/"lib{xt,ipt,arpt}_* "$root/usr/lib/mipsel-linux-gnu/xtables/"
cp -a "$pkgs/usr/lib/pppd" "$root/usr/lib/"
# The board's path of pppd's PPPoE plugin, which options.pppoe names
mkdir -p "$root/etc_ro/ppp/plugins"
ln -s "$(cd "$pkgs" && ls -d usr/lib/pppd/*/rp-pppoe.so | sed 's|^|/|')" "$root/etc_ro/ppp/plugins/rp-pppoe.so"
# The board's path of the PPTP client, which options.pptp names
ln -s /usr/sbin/pptp "$root/bin/pptp"
# The router's /etc/ppp holds what netmgr writes: not Debian's global
# options file (whose "auth", "crtscts" and "modem" every pppd would read
# first) nor its ip-up.d hooks.
rm -rf "$root/etc/ppp/options" "$root/etc/ppp/"*.d "$root/etc/ppp/ipv6-"* "$root/etc/ppp/ip-pre-up"
# glibc's converter for GBK (routerstat shows the system log's GBK texts as
# UTF-8 with iconv), with the module lists that name it
gconv=usr/lib/mipsel-linux-gnu/gconv
mkdir -p "$root/$gconv"
cp -a "$pkgs/$gconv/GBK.so" "$pkgs/$gconv/gconv-modules" "$pkgs/$gconv/gconv-modules.d" \
  "$pkgs/$gconv/gconv-modules.cache" "$root/$gconv/"
cp -a "$pkgs/lib/ld.so.1" "$root/lib/"
cp -a "$pkgs/lib/mipsel-linux-gnu/ld.so.1" "$pkgs/lib/mipsel-linux-gnu/libnss_files.so.2" \
  "$pkgs/lib/mipsel-linux-gnu/libnss_dns.so.2" "$root/lib/mipsel-linux-gnu/"

# /bin/sh is dash: Debian's busybox runs its own applet for any name it
# has before looking in PATH, which would bypass /board/bin and the real
# tools (ip, brctl, ...) of the same names.
ln -s dash "$root/bin/sh"
# busybox applets under every name that no package's program has
while IFS= read -r a; do
  n=${a##*/}
  [ -e "$root/bin/$n" ] || [ -e "$root/sbin/$n" ] || [ -e "$root/usr/bin/$n" ] ||
    [ -e "$root/usr/sbin/$n" ] || ln -s /bin/busybox "$root/$a"
done < <(qemu-mipsel "$pkgs/bin/busybox" --list-full)

# --- the staging root as on the board
cp -a "$stage/." "$root/"
rm -rf "$root/usr/include" "$root/usr/lib/libnvram.a"

# --- the board's own files
mkdir -p "$root/board"
cp -a "$src/board/guest/." "$root/board/"
cp "$src/sim/hosts/lan-udhcpc.script" "$root/board/"
for p in sim_dnslog sim_account dhcpplus_server; do
  [ ! -x "$src/build-mipsel/bin/$p" ] || cp "$src/build-mipsel/bin/$p" "$root/board/bin/"
done
isp=$(sed -n 's/^DHCPPLUS_SERVER:[A-Z]*=//p' "$src/build-mipsel/CMakeCache.txt")
printf 'BOARD_ISP_ADDR=%s\n' "${isp:-10.250.0.1}" >"$root/board/lab.conf"
mv "$root/board/inittab" "$root/etc/inittab"
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/:/bin/false\n' >"$root/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$root/etc/group"

# --- libraries: what the ELF files need, until nothing new is needed
libdirs=("$pkgs/lib/mipsel-linux-gnu" "$pkgs/usr/lib/mipsel-linux-gnu")
declare -A have=()
while :; do
  new=0
  while IFS= read -r lib; do
    [ -z "${have[$lib]:-}" ] || continue
    have[$lib]=1
    found=
    for d in "${libdirs[@]}"; do
      if [ -e "$d/$lib" ]; then
        dest=$root/${d#"$pkgs"/}
        mkdir -p "$dest"
        cp -a "$d/$lib" "$dest/"
        [ ! -L "$d/$lib" ] || cp -a "$d/$(readlink "$d/$lib")" "$dest/"
        found=1
        new=1
        break
      fi
    done
    [ -n "$found" ] || echo "board: no library $lib in the packages" >&2
  done < <(find "$root" -type f -not -path "$root/board/*" -print0 |
    xargs -0 sh -c '"$0" -d "$@" 2>/dev/null; exit 0' $readelf | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
  [ $new = 1 ] || break
done

# --- kernel modules: the listed directories and modules, and their
# dependencies
kroot=$build/kernel
kver=$(ls "$kroot/lib/modules")
mods=$kroot/lib/modules/$kver
mkdir -p "$root/lib/modules/$kver"
cp -a "$kroot/boot/vmlinuz-$kver" "$build/vmlinuz"
declare -A want=()
while read -r entry; do
  case $entry in '' | '#'*) continue ;; esac
  for f in $(cd "$mods" && compgen -G "kernel/$entry.ko"); do want[$f]=1; done
done <"$src/board/guest/modules.more"
while read -r m; do
  case $m in '' | '#'*) continue ;; esac
  f=$(sed -n "s|^\(kernel/.*/$m\.ko\):.*|\1|p" "$mods/modules.dep")
  [ -n "$f" ] || { echo "board: no module $m in $kver" >&2; exit 1; }
  want[$f]=1
done <"$src/board/guest/modules"
for f in "${!want[@]}"; do
  for d in $(sed -n "s|^$f:||p" "$mods/modules.dep"); do want[$d]=1; done
done
for f in "${!want[@]}"; do
  mkdir -p "$root/lib/modules/$kver/$(dirname "$f")"
  cp "$mods/$f" "$root/lib/modules/$kver/$f"
done
cp "$mods"/modules.builtin "$mods"/modules.builtin.modinfo "$mods"/modules.order "$root/lib/modules/$kver/"
depmod -b "$root" "$kver"

# --- the root disk (ext4 without a journal; qemu opens it as a snapshot)
kb=$(du -sk "$root" | cut -f1)
rm -f "$build/root.img"
truncate -s "$(((kb * 5 / 4 + 16384) / 1024))M" "$build/root.img"
mke2fs -q -F -t ext4 -O ^has_journal -L boardroot -d "$root" "$build/root.img"

# --- the boot initramfs: busybox and the modules that mount the root disk
boot=$build/bootfs
rm -rf "$boot"
mkdir -p "$boot"/{bin,dev,proc,sys,modules,board}
cp "$pkgs/bin/busybox" "$boot/bin/"
for a in sh mount umount insmod mkdir sleep cp switch_root echo; do ln -s busybox "$boot/bin/$a"; done
cp "$src/board/guest-boot-init" "$boot/init"
for m in crypto/crc32c_generic lib/crc16 fs/mbcache fs/jbd2/jbd2 fs/ext4/ext4 drivers/ata/ata_piix; do
  cp "$mods/kernel/$m.ko" "$boot/modules/"
done
(cd "$boot" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) | gzip -6 >"$build/initrd.gz"
echo "board: root disk $(($(stat -c %s "$build/root.img") / 1048576)) MB ($kb kB used, $(find "$root/lib/modules" -name '*.ko' | wc -l) modules), boot initramfs $(($(stat -c %s "$build/initrd.gz") / 1024)) kB, kernel $kver"
