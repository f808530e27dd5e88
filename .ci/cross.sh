#!/bin/bash
# Cross build for the router (32-bit little-endian MIPS): installs what it
# needs when missing, builds MinSizeRel with cmake/toolchain-mipsel-linux-gnu.cmake,
# runs the unit tests under qemu-mipsel, installs a stripped staging root,
# prints the size and the run-time libraries of every program in it, and packs
# the root as build-mipsel/router-stage-mipsel.tar.gz with its listing.
# Exits non-zero on any failure. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
build=build-mipsel
stage=$build/stage
triplet=mipsel-linux-gnu

# --- packages: the cross compilers, qemu-user and the target's libraries
# from Debian multiarch (they live in /usr/lib/mipsel-linux-gnu).
pkgs=(cmake ninja-build pkg-config g++-$triplet binutils-$triplet qemu-user
      libgtest-dev:mipsel nettle-dev:mipsel)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${pkgs[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx mipsel || dpkg --add-architecture mipsel
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# --- configure and build
cmake -S . -B $build -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$triplet.cmake" \
      -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
ninja -C $build
built=$(date +%s)

# --- unit tests under qemu-mipsel. Process and simulation tests stay on the
# PC build. As root nothing may be skipped (the IPC tests need root only).
log=$build/ctest-unit.log
set +e
(cd $build && ctest -L unit --output-on-failure -j"$(nproc)") 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
set -e
[ "$rc" -eq 0 ] || { echo "cross: unit tests failed under qemu-mipsel"; exit 1; }
if [ "$(id -u)" -eq 0 ] && grep -q '\*\*\*Skipped\|Not Run' "$log"; then
  echo "cross: a unit test was skipped under qemu-mipsel"; exit 1
fi
tested=$(date +%s)

# --- staging root: stripped programs as the firmware gets them
rm -rf "$stage"
DESTDIR="$PWD/$stage" cmake --install $build --strip >/dev/null

# drop_section_headers FILE: what OpenWrt's sstrip does. A stripped program
# still ends in its section headers and their names (about 1.5 KB), which
# only tools that inspect the file read; the loader reads the program
# headers. Cuts the file after its last segment and clears e_shoff, e_shnum
# and e_shstrndx (32-bit little-endian ELF).
drop_section_headers() {
  local f=$1 end=0 i base off size phoff phentsize phnum
  u() { od -An -v --endian=little -t "u$2" -j "$1" -N "$2" "$f" | tr -d ' '; }
  phoff=$(u 28 4) phentsize=$(u 42 2) phnum=$(u 44 2)
  for ((i = 0; i < phnum; i++)); do
    base=$((phoff + i * phentsize))
    off=$(u $((base + 4)) 4) size=$(u $((base + 16)) 4)
    [ $((off + size)) -le "$end" ] || end=$((off + size))
  done
  printf '\0\0\0\0' | dd of="$f" bs=1 seek=32 conv=notrunc status=none
  printf '\0\0\0\0' | dd of="$f" bs=1 seek=48 conv=notrunc status=none
  truncate -s "$end" "$f"
}
while IFS= read -r f; do
  # No iostreams and no locales: they would show as imports of the C
  # library's locale functions (newlocale, uselocale, ...) or of libstdc++
  # (nm needs the section headers).
  if $triplet-nm -D "$f" | grep -qi 'locale\|ios_base'; then
    echo "cross: ${f#$stage/} uses iostreams or locales"; exit 1
  fi
  drop_section_headers "$f"
done < <(find "$stage/bin" -type f -perm -u+x; find "$stage" -path "$stage/lib/*.so*" -type f)

# --- size table: every program and library on the router's root.
readelf=$triplet-readelf
echo
echo "== mipsel programs and libraries (stripped, no section headers) in $stage"
printf '%-18s %9s  %s\n' program bytes 'run-time libraries (NEEDED)'
total=0
while IFS= read -r f; do
  size=$(stat -c %s "$f")
  total=$((total + size))
  needed=$($readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  printf '%-18s %9d  %s\n' "${f#$stage/}" "$size" "${needed:--}"
  # A program of ours needs no C++ run time: libstdc++ or libgcc_s showing up
  # means something pulled it in again (see docs/cross-build.md).
  case "$needed" in
    *libstdc++*|*libgcc_s*) echo "cross: ${f#$stage/} needs $needed"; exit 1 ;;
  esac
done < <( (find "$stage/bin" "$stage/www/cgi-bin" -type f -perm -u+x; find "$stage" -path "$stage/lib/*.so*" -type f) | sort) # the programs, the CGI and the libraries (not etc/init.d/router, a script)
printf '%-18s %9d\n' total "$total"
daemons=0
for d in netmgr fwmgr trafmon logmail kinwatch arpguard memdump; do
  daemons=$((daemons + $(stat -c %s "$stage/bin/$d")))
done
printf '%-18s %9d  (%s)\n' daemons "$daemons" "netmgr fwmgr trafmon logmail kinwatch arpguard memdump"
# The status page's assets, served as they are (at most 24 KB together).
page=$(cat "$stage"/www/status.html "$stage"/www/status.css "$stage"/www/status.js | wc -c)
printf '%-18s %9d  (www/status.html, .css, .js)\n' 'status page' "$page"
[ "$page" -lt 24576 ] || { echo "cross: the status page's assets are $page bytes, over 24 KB"; exit 1; }

# --- the staging root packed for the firmware image: every file with its
# mode and size, the total, and the tarball.
tarball=$build/router-stage-mipsel.tar.gz
tar -C "$stage" --owner=0 --group=0 --numeric-owner -czf "$tarball" .
echo
echo "== staging root $tarball"
tar -tvzf "$tarball" | awk '$1 !~ /^d/ {printf "%s %9d  %s\n", $1, $3, $6}' | sort -k3
echo "files $(find "$stage" -type f | wc -l), $(find "$stage" -type f -printf '%s\n' | awk '{s += $1} END {print s}') bytes; tarball $(stat -c %s "$tarball") bytes"
echo "cross: build $((built - start)) s, unit tests $((tested - built)) s, total $(( $(date +%s) - start )) s"
