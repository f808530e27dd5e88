#!/bin/bash
# Installs the Debian packages the build, the tests and the simulation need,
# only those that are missing (chromium and a font with Chinese glyphs for
# the status page's browser test, socat for simulate.sh's forwarder to it).
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev nettle-dev
      busybox iptables arptables bridge-utils iproute2 net-tools util-linux procps kmod psmisc
      libc-bin pkg-config postfix sasl2-bin valgrind dnsmasq-base socat
      chromium fonts-wqy-microhei)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
  # The simulation runs its own Postfix inside the ISP host's namespace; the
  # host itself must not keep the mail server the package may have started.
  if [[ " ${missing[*]} " == *" postfix "* ]]; then
    if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
      systemctl disable --now postfix >/dev/null 2>&1 || true
    else
      update-rc.d postfix disable >/dev/null 2>&1 || true
      /usr/sbin/postfix stop >/dev/null 2>&1 || true
    fi
  fi
fi
