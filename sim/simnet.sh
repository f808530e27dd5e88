# The router simulation's network of namespaces (sourced by simulate.sh and
# the sim tests; bash). See sim/README.md.
#
#   sim_require                 checks root and the tools; says what to install
#   sim_up BUILD [FILE|KEY=VALUE]...
#                               builds the network and starts the router from
#                               config/default.nvram, then each FILE (merged
#                               with "nvram load") and KEY=VALUE in order
#   sim_down                    stops everything and removes what sim_up made
#   sim_router CMD...           runs CMD inside the router (its namespaces and
#                               overlay, PATH through the wrappers)
#   sim_lan CMD... / sim_isp CMD...
#                               runs CMD in the LAN / ISP host's network
#   sim_rnet CMD...             runs CMD in the router's network namespace
#                               with the host's tools (not journaled)
#   sim_wait_wan SECONDS / sim_wait_lease SECONDS
#                               waits for the masquerade rule / the LAN lease
#   sim_report                  prints what a user would check
#   sim_free_port FROM          prints the first TCP port from FROM on that
#                               no socket of the PC listens on
#   sim_forward_page PORT       forwards 127.0.0.1:PORT of the PC to the
#                               router's web server (ended by sim_down)
#   sim_check_clean             after sim_down: fails when anything is left
#   poll SECONDS COMMAND...     runs COMMAND every 0.05 s until it succeeds
#                               (tests/poll.sh, shared with the test kit)
#
# SIM_START_WAIT, when set, is the daemons' start wait in seconds
# (ROUTER_START_WAIT in the router); unset or empty, they wait as on the board.
#
# Names: network namespaces $SIM_ID-router, $SIM_ID-lan, $SIM_ID-isp; files
# in $SIM_TMP (router: $SIM_TMP/router, seen inside as /sim; hosts:
# $SIM_TMP/lan and $SIM_TMP/isp).

SIM_SRC=${SIM_SRC:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
SIM_LAN_MAC=02:00:00:00:01:0a # the LAN host's Ethernet address
SIM_BASE_MAC='\x02\x52\x54\x00\x00\x01' # flash base MAC: LAN 02:52:54:00:00:01, WAN ...:02
SIM_INNER_PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
. "$SIM_SRC/tests/poll.sh"

sim_log() { [ -n "${SIM_QUIET:-}" ] || echo "sim: $*" >&2; }

# sim_require: exits 77 when not root (a test is then skipped with the
# message), 1 when a tool is missing, with the Debian package to install.
sim_require() {
  if [ "$(id -u)" != 0 ]; then
    echo "sim: the simulation needs root (network namespaces, overlay, chroot): run it with sudo" >&2
    exit 77
  fi
  local missing=() t pkg
  for t in ip:iproute2 tc:iproute2 nsenter:util-linux unshare:util-linux setsid:util-linux \
    flock:util-linux busybox:busybox iptables:iptables arptables:arptables ifconfig:net-tools \
    route:net-tools brctl:bridge-utils killall:psmisc pgrep:procps mkfifo:coreutils \
    postfix:postfix saslpasswd2:sasl2-bin iconv:libc-bin dnsmasq:dnsmasq-base socat:socat ss:iproute2; do
    command -v "${t%%:*}" >/dev/null 2>&1 || missing+=("${t%%:*} (package ${t#*:})")
  done
  setpriv --help 2>/dev/null | grep -q -- --pdeathsig || missing+=("setpriv with --pdeathsig (package util-linux)")
  for t in udhcpc udhcpd httpd wget ping nslookup; do
    busybox --list 2>/dev/null | grep -qx "$t" || missing+=("busybox $t (package busybox)")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "sim: missing tools: ${missing[*]}" >&2
    echo "sim: install them, for example with .ci/install-deps.sh (Debian/Ubuntu)" >&2
    exit 1
  fi
  [ -c /dev/net/tun ] || { echo "sim: /dev/net/tun is missing (kernel module tun)" >&2; exit 1; }
}

# cache_value BUILD NAME: a CMake cache variable of the build.
sim_cache_value() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n 1; }

sim_netns_inode() { stat -L -c %i "/run/netns/$1" 2>/dev/null; }

# Each namespace is held by an unshare process started through this: in its
# own session (a Ctrl-C reaches only the script, whose clean-up stops the
# namespaces in order), and killed when the script itself dies, even by
# SIGKILL; unshare --kill-child then ends the namespace's processes.
SIM_DETACH=(setsid setpriv --pdeathsig KILL)

# sim_start_host NAME NETNS SCRIPT ARG...: runs SCRIPT as the first process
# of a new PID namespace (with its own /proc) in NETNS; sets SIM_PID_<NAME>
# to the unshare process that holds it.
sim_start_host() {
  local name=$1 ns=$2
  shift 2
  PATH="$SIM_BUILD/bin:$PATH" "${SIM_DETACH[@]}" nsenter --net="/run/netns/$ns" unshare --mount --pid --fork --kill-child --mount-proc \
    bash "$@" </dev/null >>"$SIM_TMP/$name.out" 2>&1 &
  printf -v "SIM_PID_$name" %s $!
  SIM_PIDS+=($!)
}

sim_up() {
  local build
  build=$(cd "$1" 2>/dev/null && pwd) || { echo "sim: no build directory $1" >&2; return 1; }
  shift
  local b
  for b in netmgr fwmgr logmail nvram sendmsg routerstat dhcpplus_server sim_pppd kinwatch arpguard memdump sim_dnslog sim_arpcap trafmon sim_account status; do
    [ -x "$build/bin/$b" ] || { echo "sim: $build/bin/$b is missing (build the project first)" >&2; return 1; }
  done
  SIM_BUILD=$build
  SIM_PIDS=()
  SIM_HOST_LINKS=$(ip -o link show | awk -F': ' '{print $2}' | sort)
  SIM_TMP=$(mktemp -d /tmp/routersim.XXXXXX) || return 1
  SIM_ID=rsim-${SIM_TMP##*.} # unique while the directory exists, also across PID namespaces
  local dir=$SIM_TMP/router
  mkdir -p "$dir/bin" "$dir/real" "$dir/kernel/dev" "$dir/kernel/proc/vkproc" "$SIM_TMP/mnt" \
    "$SIM_TMP/lan" "$SIM_TMP/isp" || return 1

  # Wrappers journal and run the real tool; stand-ins only journal or play
  # the part of a program this kernel cannot run.
  local t real
  for t in iptables arptables tc ifconfig route brctl killall; do
    real=$(command -v "$t") || { echo "sim: $t not found" >&2; return 1; }
    ln -s "$real" "$dir/real/$t"
    ln -s "$SIM_SRC/sim/standins/wrap" "$dir/bin/$t"
  done
  for t in udhcpc udhcpd; do
    ln -s "$(command -v busybox)" "$dir/real/$t"
    ln -s "$SIM_SRC/sim/standins/wrap" "$dir/bin/$t"
  done
  for t in vconfig switch upnp; do
    ln -s "$SIM_SRC/sim/standins/journal-only" "$dir/bin/$t"
  done
  for t in inadyn 88ip 3322ip; do
    ln -s "$SIM_SRC/sim/standins/ddns" "$dir/bin/$t"
  done
  # The web management server: busybox httpd under its own name.
  ln -s "$(command -v busybox)" "$dir/real/httpd"
  ln -s "$SIM_SRC/sim/standins/httpd" "$dir/bin/httpd"
  # Its home directory, /www in the router: the status page from the source
  # tree and its CGI from the build, as `cmake --install` lays them out.
  mkdir -p "$dir/www/cgi-bin" && echo "Router management page" >"$dir/www/index.html"
  for t in status.html status.css status.js; do
    ln -s "$SIM_SRC/www/$t" "$dir/www/$t"
  done
  ln -s "$build/bin/status" "$dir/www/cgi-bin/status"
  # The traffic monitor and the URL logger, which fwmgr starts (kinwatch as
  # /bin/kinwatch, which leads here), journaled like the tools.
  for t in trafmon kinwatch; do
    ln -s "$build/bin/$t" "$dir/real/$t"
    ln -s "$SIM_SRC/sim/standins/wrap" "$dir/bin/$t"
  done
  # sendmsg is journaled too, so a test sees who was told what.
  ln -s "$build/bin/sendmsg" "$dir/real/sendmsg"
  ln -s "$SIM_SRC/sim/standins/wrap" "$dir/bin/sendmsg"
  for t in pppd pptp xl2tpd; do
    ln -s "$SIM_SRC/sim/standins/$t" "$dir/bin/$t"
  done
  ln -s "$build/bin/sim_pppd" "$dir/real/pppd"
  ln -s "$SIM_SRC/sim/standins" "$dir/standins"
  : >"$dir/journal"

  # The flash image with the base MAC address at 0x40004, and the router
  # kernel's files: no firewall events, no LAN traffic seen yet.
  head -c $((0x40004)) /dev/zero >"$dir/kernel/dev/flash0"
  printf "$SIM_BASE_MAC" >>"$dir/kernel/dev/flash0"
  : >"$dir/kernel/proc/vkproc/fwlog"
  : >"$dir/kernel/proc/vkproc/lanip"
  echo 0 >"$dir/kernel/proc/vkproc/netcheck"

  # The configuration store: the defaults, then the caller's files and values.
  local nv=("env" "NVRAM_FILE=$dir/nvram.conf" "$build/bin/nvram")
  "${nv[@]}" load "$SIM_SRC/config/default.nvram" || return 1
  local a
  for a in "$@"; do
    case $a in
      *=*) "${nv[@]}" set "$a" || return 1 ;;
      *) "${nv[@]}" load "$a" || { echo "sim: cannot load $a" >&2; return 1; } ;;
    esac
  done

  # The ISP: the login server's address from the build, its /24 for the WAN.
  SIM_ISP_ADDR=$(sim_cache_value "$build" DHCPPLUS_SERVER)
  local port
  port=$(sim_cache_value "$build" DHCPPLUS_PORT)
  [ -n "$SIM_ISP_ADDR" ] || { echo "sim: DHCPPLUS_SERVER not in $build/CMakeCache.txt" >&2; return 1; }
  local net=${SIM_ISP_ADDR%.*}
  local user pwd
  user=$(sed -n 's/^DHCP_plus_Name=//p' "$SIM_SRC/config/default.nvram")
  pwd=$(sed -n 's/^DHCP_plus_Pwd=//p' "$SIM_SRC/config/default.nvram")

  # Namespaces and links. eth2 is one end of a veth pair when the kernel has
  # no dummy interfaces; eth2.1 and eth2.2 lead to the LAN and ISP hosts.
  local r=$SIM_ID-router l=$SIM_ID-lan i=$SIM_ID-isp
  ip netns add "$r" && ip netns add "$l" && ip netns add "$i" || return 1
  SIM_NS_INODES="$(sim_netns_inode "$r") $(sim_netns_inode "$l") $(sim_netns_inode "$i")"
  ip -n "$r" link add eth2 type dummy 2>/dev/null ||
    ip -n "$r" link add eth2 type veth peer name eth2-switch || return 1
  ip -n "$r" link add eth2.1 type veth peer name eth0 netns "$l" || return 1
  ip -n "$r" link add eth2.2 type veth peer name eth0 netns "$i" || return 1
  ip -n "$l" link set lo up && ip -n "$i" link set lo up || return 1
  ip -n "$l" link set eth0 address "$SIM_LAN_MAC" && ip -n "$l" link set eth0 up || return 1
  ip -n "$i" addr add "$SIM_ISP_ADDR/24" dev eth0 && ip -n "$i" link set eth0 up || return 1
  # A second ISP address in the next /24 (SIM_ISP_FAR), held on lo and not
  # answered for by ARP on eth0: the router reaches it only through its
  # gateway, so a WAN that kept the classful mask of its lease (/8 for 10.x)
  # and took it for on-link would not.
  local o3=${SIM_ISP_ADDR#*.*.} o12=${SIM_ISP_ADDR%.*.*}
  o3=${o3%.*}
  SIM_ISP_FAR=$o12.$(((o3 + 1) % 256)).1
  ip -n "$i" addr add "$SIM_ISP_FAR/24" dev lo || return 1
  sim_isp sh -c 'echo 1 >/proc/sys/net/ipv4/conf/all/arp_ignore' || return 1

  sim_start_host isp "$i" "$SIM_SRC/sim/hosts/isp.sh" "$SIM_TMP/isp" "$SIM_ISP_ADDR" \
    "$net.100" "$net.199" "$user" "$pwd" "$port"
  poll 10 test -s "$SIM_TMP/isp/ready" || { echo "sim: the ISP host did not start" >&2; return 1; }

  # The router starts with the environment an init gives its programs, not
  # the caller's: its own variables and PATH (the router-init sets the rest),
  # and logmail's test knob when a case sets it. A caller's locale or long
  # environment would make every shell and tool the daemons run slower than
  # on the board.
  "${SIM_DETACH[@]}" env -i PATH="$PATH" SIM_DIR="$dir" SIM_MNT="$SIM_TMP/mnt" SIM_BUILD="$build" \
    SIM_SRC="$SIM_SRC" SIM_START_WAIT="${SIM_START_WAIT:-}" \
    ${LOGMAIL_MINUTE_SECONDS:+LOGMAIL_MINUTE_SECONDS="$LOGMAIL_MINUTE_SECONDS"} nsenter --net="/run/netns/$r" unshare --ipc --mount --pid --fork --kill-child \
    bash "$SIM_SRC/sim/router-init.sh" </dev/null >>"$SIM_TMP/router.out" 2>&1 &
  SIM_PID_router=$!
  SIM_PIDS+=($!)
  poll 30 test -s "$dir/router.ready" || { echo "sim: the router did not start: $(cat "$SIM_TMP/router.out")" >&2; return 1; }
  SIM_ROUTER_INIT=$(pgrep -P "$SIM_PID_router" | head -n 1)
  [ -n "$SIM_ROUTER_INIT" ] || { echo "sim: the router's first process is gone" >&2; return 1; }
  SIM_ROUTER_NS="$(readlink "/proc/$SIM_ROUTER_INIT/ns/pid") $(readlink "/proc/$SIM_ROUTER_INIT/ns/ipc") $(readlink "/proc/$SIM_ROUTER_INIT/ns/mnt")"

  sim_start_host lan "$l" "$SIM_SRC/sim/hosts/lan.sh" "$SIM_TMP/lan"
  # Hold the namespaces until sim_check_clean: a freed namespace's inode
  # number can be given to a namespace that another test makes meanwhile,
  # whose processes would then look left behind.
  local f
  SIM_NS_FDS=()
  for f in "/run/netns/$r" "/run/netns/$l" "/run/netns/$i" "/proc/$SIM_ROUTER_INIT/ns/pid" \
    "/proc/$SIM_ROUTER_INIT/ns/ipc" "/proc/$SIM_ROUTER_INIT/ns/mnt"; do
    exec {fd}<"$f" && SIM_NS_FDS+=("$fd")
  done
  sim_log "up: router, LAN host and ISP host in $SIM_TMP (namespaces $SIM_ID-*)"
}

sim_free_port() {
  local p=$1
  while [ "$p" -lt $(($1 + 100)) ]; do
    ss -Hltn "sport = :$p" | grep -q . || { echo "$p"; return 0; }
    p=$((p + 1))
  done
  return 1
}

# sim_forward_page PORT: a forwarder (socat) listening on 127.0.0.1:PORT of
# the PC only; each connection runs a second socat in the LAN host's network
# namespace that connects to port 80 of the router's LAN address, so a
# browser on the PC reaches the router's pages as the LAN host does. It has
# a process group of its own, which sim_down ends (it also dies with the
# script).
sim_forward_page() {
  local lan
  lan=$(NVRAM_FILE=$SIM_TMP/router/nvram.conf "$SIM_BUILD/bin/nvram" get lan_ip 2>/dev/null)
  "${SIM_DETACH[@]}" socat "TCP-LISTEN:$1,bind=127.0.0.1,reuseaddr,fork" \
    "EXEC:nsenter --net=/run/netns/$SIM_ID-lan socat - TCP\:${lan:-192.168.0.1}\:80" \
    </dev/null >>"$SIM_TMP/forward.log" 2>&1 &
  SIM_PID_forward=$!
  SIM_PIDS+=($!)
}

# sim_stop_pid PID: ends the namespace held by the unshare process PID: its
# first process gets SIGTERM (and ends every process of the namespace with
# it); SIGKILL after 5 s.
sim_stop_pid() {
  local pid=$1 child
  kill -0 "$pid" 2>/dev/null || return 0
  child=$(pgrep -P "$pid")
  [ -n "$child" ] && kill -TERM $child 2>/dev/null
  poll 5 eval '! kill -0 "$pid"'
  if kill -0 "$pid" 2>/dev/null; then
    [ -n "$child" ] && kill -KILL $child 2>/dev/null
    kill -KILL "$pid" 2>/dev/null
  fi
  wait "$pid" 2>/dev/null
  return 0
}

sim_down() {
  [ -n "${SIM_TMP:-}" ] || return 0
  local pid ns
  if [ -n "${SIM_PID_forward:-}" ]; then
    kill -TERM -- "-$SIM_PID_forward" 2>/dev/null
    wait "$SIM_PID_forward" 2>/dev/null
    SIM_PID_forward=
  fi
  for pid in ${SIM_PID_lan:-} ${SIM_PID_router:-} ${SIM_PID_isp:-}; do
    sim_stop_pid "$pid"
  done
  for ns in "$SIM_ID-router" "$SIM_ID-lan" "$SIM_ID-isp"; do
    [ -e "/run/netns/$ns" ] && ip netns del "$ns"
  done
  if [ -n "${SIM_KEEP:-}" ]; then
    sim_log "files kept in $SIM_TMP"
  else
    rm -rf "$SIM_TMP"
  fi
  sim_log "down: namespaces, interfaces, processes and files removed"
  SIM_DONE_TMP=$SIM_TMP
  SIM_TMP=
}

# sim_ns_procs: the pids of the processes still in one of the simulation's
# namespaces (other than this shell's own).
sim_ns_procs() {
  local p ids ns
  for p in /proc/[0-9]*; do
    ids=" $(readlink "$p/ns/net" "$p/ns/pid" "$p/ns/ipc" "$p/ns/mnt" 2>/dev/null | tr '\n' ' ')"
    for ns in $SIM_NS_INODES; do
      case $ids in *"net:[$ns]"*) echo "${p#/proc/}" ;; esac
    done
    for ns in $SIM_ROUTER_NS; do
      case $ids in *" $ns "*) echo "${p#/proc/}" ;; esac
    done
  done
}

# sim_check_clean: after sim_down, prints what is left and fails when
# anything is: a namespace, a process in one of the simulation's
# namespaces, a mount, a host interface that was not there before, a file.
sim_check_clean() {
  local left=0 ns p link pid fd
  [ -n "${SIM_ID:-}" ] || return 0 # sim_up never got as far as naming anything
  for ns in "$SIM_ID-router" "$SIM_ID-lan" "$SIM_ID-isp"; do
    [ ! -e "/run/netns/$ns" ] || { echo "left behind: network namespace $ns" >&2; left=1; }
  done
  for pid in "${SIM_PIDS[@]}"; do
    ! kill -0 "$pid" 2>/dev/null || { echo "left behind: process $pid" >&2; left=1; }
  done
  # Processes of the namespaces get SIGKILL when the namespace's first
  # process ends; give them a moment to be gone before counting them.
  poll 5 eval '! sim_ns_procs | grep -q .'
  for pid in $(sim_ns_procs | sort -u); do
    echo "left behind: process $pid ($(cat "/proc/$pid/cmdline" 2>/dev/null | tr '\0' ' ')) in a simulation namespace" >&2
    left=1
  done
  if grep -q -e "$SIM_DONE_TMP" -e "/run/netns/$SIM_ID-" /proc/self/mountinfo; then
    echo "left behind: mounts $(grep -e "$SIM_DONE_TMP" -e "/run/netns/$SIM_ID-" /proc/self/mountinfo)" >&2
    left=1
  fi
  for link in $(ip -o link show | awk -F': ' '{print $2}' | sort | comm -13 <(echo "$SIM_HOST_LINKS") -); do
    echo "left behind: host interface $link" >&2
    left=1
  done
  [ -z "${SIM_KEEP:-}" ] && [ -e "$SIM_DONE_TMP" ] && { echo "left behind: $SIM_DONE_TMP" >&2; left=1; }
  for fd in "${SIM_NS_FDS[@]}"; do exec {fd}<&-; done
  SIM_NS_FDS=()
  return $left
}

sim_router() {
  nsenter -t "$SIM_ROUTER_INIT" -i -m -n -p -- chroot "$SIM_TMP/mnt/root" /usr/bin/env -i \
    PATH="/sim/bin:$SIM_BUILD/bin:$SIM_INNER_PATH" NVRAM_FILE=/sim/nvram.conf ROUTER_KERNEL_ROOT=/sim/kernel \
    SIM_JOURNAL=/sim/journal SIM_STANDINS=/sim/standins SIM_REAL=/sim/real HOME=/root \
    ${SIM_START_WAIT:+ROUTER_START_WAIT=$SIM_START_WAIT} /bin/sh -c 'cd /sim && exec "$@"' sh "$@"
}
sim_lan() { nsenter --net="/run/netns/$SIM_ID-lan" "$@"; }
sim_isp() { nsenter --net="/run/netns/$SIM_ID-isp" "$@"; }
sim_rnet() { nsenter --net="/run/netns/$SIM_ID-router" "$@"; }

sim_lists_host() { sim_router routerstat 2>/dev/null | grep -q "^  $1 "; }
sim_masquerading() { sim_rnet iptables -w -t nat -S POSTROUTING | grep -q -- "-j MASQUERADE"; }
sim_wait_wan() { poll "$1" sim_masquerading; }
sim_wait_lease() { poll "$1" test -s "$SIM_TMP/lan/lease"; }
sim_lease_value() { sed -n "s/^$1=//p" "$SIM_TMP/lan/lease" 2>/dev/null; }
sim_journal() { cat "$SIM_TMP/router/journal"; }

# sim_whoami [ADDR [SECONDS]]: the address the ISP host (at ADDR, default its far
# address SIM_ISP_FAR, reached only through the WAN's gateway) sees a request
# from the LAN host come from; empty when the request does not get through
# within SECONDS (5; busybox 1.35 wget crashes with its own -T, so timeout(1)
# bounds it).
sim_whoami() { sim_lan timeout "${2:-5}" busybox wget -q -O - "http://${1:-$SIM_ISP_FAR}/cgi-bin/whoami" 2>/dev/null; }

# sim_daemons: one line per program of the router that runs (or "stopped"):
# name, pid, state letter, resident memory in kB, anonymous resident memory
# in kB, open descriptors, the state word and the number of its children
# (a command or a batch shell in progress); several lines for a program
# that runs twice.
SIM_DAEMONS="netmgr fwmgr trafmon httpd kinwatch logmail arpguard"
sim_daemons() {
  sim_router sh -c '
    for d in /proc/[0-9]*; do
      read -r c 2>/dev/null <"$d/comm" || continue
      case " $1 " in *" $c "*) ;; *) continue ;; esac
      state=$(sed -n "s/^State:[[:space:]]*//p" "$d/status" 2>/dev/null)
      rss=$(sed -n "s/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p" "$d/status" 2>/dev/null)
      anon=$(sed -n "s/^RssAnon:[[:space:]]*\([0-9]*\).*/\1/p" "$d/status" 2>/dev/null)
      fds=$(ls "$d/fd" 2>/dev/null | wc -l)
      kids=$(cat "$d"/task/*/children 2>/dev/null | wc -w)
      echo "$c ${d#/proc/} ${state%% *} ${rss:-0} ${anon:-0} $fds ${state#* } $kids"
    done' sh "$SIM_DAEMONS" |
    awk -v names="$SIM_DAEMONS" '{ line[$1] = line[$1] $0 "\n" }
      END { n = split(names, a, " "); for (i = 1; i <= n; i++)
              printf "%s", (a[i] in line) ? line[a[i]] : a[i] " - stopped 0 0 0 - 0\n" }'
}

sim_report() {
  local ip
  echo "== Daemons of the router (pid, state, resident memory, open descriptors)"
  sim_daemons | awk '{ if ($2 == "-") printf "   %-9s stopped\n", $1;
    else printf "   %-9s pid %-5s %s %-10s %6d kB %3d fds\n", $1, $2, $3, $7, $4, $6 }'
  echo "== LAN host ($SIM_LAN_MAC) lease from the router's DHCP server"
  if [ -s "$SIM_TMP/lan/lease" ]; then
    sed 's/^/   /' "$SIM_TMP/lan/lease"
  else
    echo "   none"
  fi
  echo "== WAN (router eth2.2 / ppp0)"
  sim_rnet ip -4 -o addr show | awk '$2 ~ /^(eth2|ppp)/ {print "   " $2 " " $4}'
  sim_rnet ip route show default | sed 's/^/   route: /'
  echo "== LAN host -> ISP host $SIM_ISP_FAR (through the WAN's gateway)"
  ip=$(sim_whoami)
  if [ -n "$ip" ]; then
    echo "   reached; the ISP host sees the request coming from $ip"
  else
    echo "   not reached"
  fi
  echo "== Firewall chains (filter)"
  sim_rnet iptables -w -t filter -S | sed 's/^/   /'
  echo "== NAT rules"
  sim_rnet iptables -w -t nat -S | sed 's/^/   /'
  echo "== Mangle rules"
  sim_rnet iptables -w -t mangle -S | grep -v '^-P' | sed 's/^/   /'
  echo "== System log and traffic (routerstat)"
  # The traffic monitor publishes from 7 s after its start; the request above
  # put the LAN host into its host table.
  ip=$(sim_lease_value ip)
  [ -z "$ip" ] || poll 15 sim_lists_host "$ip" || echo "   (the LAN host is not in the host table yet)"
  sim_router routerstat 2>&1 | sed 's/^/   /'
  echo "== URL access log /var/url.log (kinwatch; last lines)"
  # kinwatch writes three lines at a time, every 5 s.
  [ "$(sim_daemons | awk '$1 == "kinwatch" {print $2}')" = - ] ||
    poll 12 eval '[ "$(sim_router cat /var/url.log 2>/dev/null | wc -l)" -gt 1 ]'
  if sim_router test -s /var/url.log; then
    sim_router tail -n 6 /var/url.log | sed 's/^/   /'
  else
    echo "   empty (the LAN host looks names up through the router's DNS; kinwatch writes three at a time)"
  fi
  echo "== Last mail at the ISP's mail server (mailbox $SIM_TMP/isp/mail/mail/admin, GBK shown as UTF-8)"
  sim_last_mail | iconv -c -f GBK -t UTF-8 | sed 's/^/   /'
  echo "== Files: journal $SIM_TMP/router/journal; the daemons' output $SIM_TMP/router/*.log (netmgr, fwmgr, logmail, arpguard; start-up script: router-start.log)"
}

# sim_last_mail: the last mail in the ISP's mailbox of the router's mails
# (mbox; "none" when there is none). With mailing on it first waits up to
# 20 s for one (logmail waits 5 s after its start, then mails at once).
sim_last_mail() {
  local box=$SIM_TMP/isp/mail/mail/admin en
  en=$(sim_router nvram get email_en 2>/dev/null)
  [ "${en:-0}" = 0 ] || poll 20 test -s "$box"
  if [ -s "$box" ]; then
    awk '/^From / {mail = ""} {mail = mail $0 "\n"} END {printf "%s", mail}' "$box"
  else
    echo "none"
  fi
}

# sim_lan_signal SIG: sends SIG to the LAN host's udhcpc (USR1: renew the
# lease, USR2: release it), inside the LAN host's PID namespace.
sim_lan_signal() {
  local init
  init=$(pgrep -P "$SIM_PID_lan" | head -n 1)
  [ -n "$init" ] || return 1
  nsenter -t "$init" -p -- sh -c 'kill -"$1" "$(cat "$2")"' sh "$1" "$SIM_TMP/lan/udhcpc.pid"
}
