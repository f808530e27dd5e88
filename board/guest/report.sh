#!/bin/sh
# The board's report (run through the command channel by board_report):
# kernel and machine, each daemon of the router with its pid, resident
# and proportional memory and the architecture of its ELF file, the number
# of zombie processes, the VLAN devices, the WAN (with the router's pppd,
# xl2tpd and pptp (pptpgw, pptpcm) processes),
# the LAN host's lease, whether the LAN host reaches the ISP host's far
# address (and as whom), memory, and every command line a real tool
# refused.
. /board/lab.conf
echo "== Board"
echo "   kernel $(uname -r) ($(uname -m)), $(sed -n 's/^system type[^:]*: //p' /proc/cpuinfo | head -n 1), cpu $(sed -n 's/^cpu model[^:]*: //p' /proc/cpuinfo | head -n 1)"
echo "   up $(cut -d' ' -f1 /proc/uptime) s; memory $(sed -n 's/^MemTotal: *//p' /proc/meminfo) total, $(sed -n 's/^MemAvailable: *//p' /proc/meminfo) available"

# arch FILE: the ELF class, byte order and machine of FILE.
arch() {
  set -- $(od -An -tu1 -N20 "$1" 2>/dev/null)
  [ "$1 $2 $3 $4" = "127 69 76 70" ] || { echo "not ELF"; return; }
  class=ELF32; [ "$5" = 2 ] && class=ELF64
  order=LSB; [ "$6" = 2 ] && order=MSB
  case $((${19} + 256 * ${20})) in
    8) m=MIPS ;; 62) m=x86-64 ;; 3) m=i386 ;; 40) m=ARM ;; *) m="machine $((${19} + 256 * ${20}))" ;;
  esac
  echo "$class $order $m"
}
echo "== Daemons of the router (pid, resident and proportional memory, ELF)"
for n in netmgr fwmgr trafmon httpd kinwatch logmail arpguard; do
  found=
  for d in /proc/[0-9]*; do
    read -r c 2>/dev/null <"$d/comm" || continue
    [ "$c" = "$n" ] || continue
    found=1
    rss=$(sed -n 's/^VmRSS:[[:space:]]*//p' "$d/status")
    pss=$(sed -n 's/^Pss:[[:space:]]*//p' "$d/smaps_rollup")
    exe=$(readlink "$d/exe")
    printf '   %-9s pid %-5s RSS %8s PSS %8s  %s (%s)\n' "$n" "${d#/proc/}" "$rss" "$pss" "$exe" "$(arch "$d/exe")"
  done
  [ -n "$found" ] || printf '   %-9s stopped\n' "$n"
done
z=0
for d in /proc/[0-9]*; do
  case $(sed -n 's/^State:[[:space:]]*//p' "$d/status" 2>/dev/null) in Z*) z=$((z + 1)) ;; esac
done
echo "   zombies in the board: $z"
echo "== VLANs (/proc/net/vlan/config)"
sed 's/^/   /' /proc/net/vlan/config 2>/dev/null || echo "   none"
echo "== WAN (eth2.2 / ppp0)"
ip -4 -o addr show | awk '$2 ~ /^(eth2|ppp)/ {print "   " $2 " " $4 ($5 == "peer" ? " peer " $6 : "")}'
ip route show default | sed 's/^/   route: /'
# The router's PPP programs (those in the router's PID namespace, not the
# ISP host's servers and session pppd) with their command lines.
own=$(readlink /proc/self/ns/pid)
for d in /proc/[0-9]*; do
  read -r c 2>/dev/null <"$d/comm" || continue
  case $c in pppd | xl2tpd | pptp*) ;; *) continue ;; esac
  [ "$(readlink "$d/ns/pid")" != "$own" ] || continue
  printf '   %s pid %s: %s\n' "$c" "${d#/proc/}" "$(tr '\0' ' ' <"$d/cmdline")"
done
echo "== LAN host lease from the router's DHCP server"
if [ -s /board/lan/lease ]; then sed 's/^/   /' /board/lan/lease; else echo "   none"; fi
echo "== LAN host -> ISP host $BOARD_ISP_FAR (through the WAN's gateway)"
who=$(nsenter --net=/run/netns/lan timeout 5 busybox wget -q -O - "http://$BOARD_ISP_FAR/cgi-bin/whoami" 2>/dev/null)
if [ -n "$who" ]; then echo "   reached; the ISP host sees the request coming from $who"; else echo "   not reached"; fi
echo "== Command lines refused by the real tools (/board/refused)"
if [ -s /board/refused ]; then sed 's/^/   /' /board/refused; else echo "   none"; fi
echo "   ($(wc -l </board/journal) lines in the journal)"
echo "== System log and traffic (routerstat)"
routerstat 2>&1 | sed 's/^/   /' | tail -n 25
