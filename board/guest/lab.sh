#!/bin/sh
# The lab inside the board's one kernel (run by rcS; output in
# /board/log/lab.log), then the router:
#   - the router in the root network namespace; its eth2 is one end of a
#     veth pair whose far end, trunk, lies in the namespace "switch";
#   - the switch: 802.1Q devices trunk.1 and trunk.2 on trunk, each bridged
#     (br1, br2) with the port of one host: VLAN 1 to the LAN host, VLAN 2 to
#     the ISP host, untagged on the hosts' side;
#   - the ISP host (namespace "isp"): eth0 with BOARD_ISP_ADDR/24 (lab.conf),
#     a far address in the next /24 on lo that it answers only through its
#     gateway role (no ARP for it on eth0), busybox udhcpd leasing .100-.199
#     with itself as gateway and DNS, busybox httpd on port 80 answering
#     /cgi-bin/whoami with the address a request came from, pppoe-server,
#     the project's DHCP+ login server (log in /board/isp/dhcpplus.log);
#   - the LAN host (namespace "lan"): busybox udhcpc on eth0, whose script
#     (lan-udhcpc.script, the simulation's) keeps the lease in
#     /board/lan/lease;
#   - the router: the kernel files netmgr reads (/board/kernel, the flash
#     image with the base MAC address), the simulation's stand-ins for the
#     router kernel's DNS query log and accounting (sim_dnslog, sim_account,
#     output in /board/log), the configuration store from
#     /etc/default.nvram and /board/settings, the wrappers and stand-ins of
#     /board/bin first in PATH, then the board's own "/etc/init.d/router
#     start" in a PID namespace of its own (the network namespace stays the
#     root one).
# The hosts' servers also run as "busybox APPLET", so their process name
# is busybox: a look-up by name from the board's own namespace (the
# channel's commands, the report) never takes them for the router's.
set -u
. /board/lab.conf
isp=$BOARD_ISP_ADDR
net=${isp%.*}
o12=${isp%.*.*}
o3=${isp#*.*.}
o3=${o3%.*}
far=$o12.$(((o3 + 1) % 256)).1
echo "BOARD_ISP_FAR=$far" >>/board/lab.conf
t() { echo "lab: $(cut -d' ' -f1 /proc/uptime) s: $*"; }
mkdir -p /board/lan /board/isp/www/cgi-bin /board/real /board/kernel/dev /board/kernel/proc/vkproc

t "namespaces and links"
ip netns add switch && ip netns add lan && ip netns add isp || exit 1
ip link add eth2 type veth peer name trunk || exit 1
ip link set trunk netns switch
ip link add lanport type veth peer name lanhost
ip link add ispport type veth peer name isphost
ip link set lanport netns switch
ip link set ispport netns switch
ip link set lanhost netns lan
ip link set isphost netns isp
ip -n lan link set lanhost name eth0
ip -n isp link set isphost name eth0

t "switch: VLAN 1 and 2 on the trunk"
ip -n switch link set lo up
ip -n switch link set trunk up
for v in 1 2; do
  ip -n switch link add link trunk name trunk.$v type vlan id $v
  ip -n switch link add br$v type bridge
  ip -n switch link set trunk.$v master br$v
done
ip -n switch link set lanport master br1
ip -n switch link set ispport master br2
for d in trunk.1 trunk.2 br1 br2 lanport ispport; do ip -n switch link set $d up; done

t "ISP host $isp (far address $far)"
ip -n isp link set lo up
ip -n isp addr add "$isp/24" dev eth0
ip -n isp link set eth0 up
ip -n isp addr add "$far/24" dev lo
nsenter --net=/run/netns/isp sysctl -qw net.ipv4.conf.all.arp_ignore=1
cat >/board/isp/www/cgi-bin/whoami <<'CGI'
#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\n%s\n' "$REMOTE_ADDR"
CGI
chmod +x /board/isp/www/cgi-bin/whoami
echo "ISP host $isp" >/board/isp/www/index.html
printf '%s\n' "start $net.100" "end $net.199" "interface eth0" \
  "lease_file /board/isp/udhcpd.leases" "pidfile /board/isp/udhcpd.pid" \
  "option subnet 255.255.255.0" "option router $isp" "option dns $isp" \
  "option lease 3600" "max_leases 100" >/board/isp/udhcpd.conf
: >/board/isp/udhcpd.leases
nsenter --net=/run/netns/isp busybox udhcpd -f -a 100 /board/isp/udhcpd.conf >/board/isp/udhcpd.log 2>&1 &
nsenter --net=/run/netns/isp busybox httpd -f -p 0.0.0.0:80 -h /board/isp/www >/board/isp/httpd.log 2>&1 &

# The ISP's PPPoE access concentrator: pppoe-server (Debian's has no kernel
# mode; its sessions run pppd over pppoe on a pty) starting
# pppd with PAP for the store's PPPoE account, 10.64.0.1 for itself and
# 10.64.0.2 for the router, in a mount namespace of its own whose /etc/ppp
# (options, secrets) is the ISP's, not the router's.
mkdir -p /board/isp/ppp
user=$(sed -n 's/^ppoe_userid=//p' /etc/default.nvram)
pass=$(sed -n 's/^ppoe_pwd=//p' /etc/default.nvram)
printf '"%s" * "%s" *\n' "$user" "$pass" >/board/isp/ppp/pap-secrets
cp /board/isp/ppp/pap-secrets /board/isp/ppp/chap-secrets
chmod 600 /board/isp/ppp/pap-secrets /board/isp/ppp/chap-secrets
printf '%s\n' require-pap "ms-dns $isp" lcp-echo-interval\ 10 lcp-echo-failure\ 3 debug logfile\ /board/isp/pppd.log \
  >/board/isp/ppp/pppoe-server-options
nsenter --net=/run/netns/isp unshare -m sh -c 'mount --bind /board/isp/ppp /etc/ppp &&
  exec pppoe-server -F -I eth0 -C isp-ac -S isp -L 10.64.0.1 -R 10.64.0.2 -N 4 -O /etc/ppp/pppoe-server-options' \
  >/board/isp/pppoe-server.log 2>&1 &

# The ISP's DHCP+ login server (the project's, cross-built) on the login
# address of the build, with the store's DHCP+ account.
dp_user=$(sed -n 's/^DHCP_plus_Name=//p' /etc/default.nvram)
dp_pass=$(sed -n 's/^DHCP_plus_Pwd=//p' /etc/default.nvram)
nsenter --net=/run/netns/isp /board/bin/dhcpplus_server --user "$dp_user" --password "$dp_pass" \
  >/board/isp/dhcpplus.log 2>&1 &

# isp_ppp PROGRAM ARG...: runs a PPP server of the ISP host in the ISP's
# network namespace and in a mount namespace of its own whose /etc/ppp is
# the ISP's (/board/isp/ppp), not the router's.
isp_ppp() {
  nsenter --net=/run/netns/isp unshare -m sh -c 'mount --bind /board/isp/ppp /etc/ppp && exec "$@"' isp_ppp "$@"
}
ppp_peer() { # the ISP's end of every PPP session: its address, the router's, the DNS
  printf '%s\n' "ms-dns $isp" lcp-echo-interval\ 10 lcp-echo-failure\ 3 debug "logfile /board/isp/$1.log"
}

# PPPoE with CHAP: a second access concentrator "isp-chap-ac" offering the
# service "isp-chap", whose sessions require CHAP with the same account.
{ echo require-chap; ppp_peer pppd-chap; } >/board/isp/ppp/pppoe-chap-options
isp_ppp pppoe-server -F -I eth0 -C isp-chap-ac -S isp-chap -L 10.64.0.1 -R 10.64.0.2 -N 4 \
  -O /etc/ppp/pppoe-chap-options >/board/isp/pppoe-chap-server.log 2>&1 &

# The tunnels' accounts (the store's PPTP and L2TP user names and
# passwords) join the PPPoE account in the ISP's CHAP secrets.
for t in pptp l2tp; do
  printf '"%s" * "%s" *\n' "$(sed -n "s/^${t}PUN=//p" /etc/default.nvram)" \
    "$(sed -n "s/^${t}PPW=//p" /etc/default.nvram)" >>/board/isp/ppp/chap-secrets
done

# PPTP: pptpd on the ISP's address, each call a pppd requiring MS-CHAPv2,
# 10.64.0.1 for itself and 10.64.0.2 onwards for the router.
printf '%s\n' "option /etc/ppp/pptpd-options" "localip 10.64.0.1" "remoteip 10.64.0.2-9" \
  "listen $isp" >/board/isp/pptpd.conf
{ printf '%s\n' "name isp-pptp" require-mschap-v2 nodefaultroute; ppp_peer pptpd-ppp; } \
  >/board/isp/ppp/pptpd-options
isp_ppp pptpd -f -c /board/isp/pptpd.conf -p /board/isp/pptpd.pid >/board/isp/pptpd.log 2>&1 &

# L2TP: xl2tpd as the ISP's LNS on UDP port 1701 of its address, each
# session a pppd requiring CHAP, the same addresses as PPTP. Its pid file
# and control pipe lie apart from the router's xl2tpd's.
printf '%s\n' "[global]" "listen-addr = $isp" "port = 1701" "[lns default]" \
  "ip range = 10.64.0.2-10.64.0.9" "local ip = 10.64.0.1" "require chap = yes" "refuse pap = yes" \
  "require authentication = yes" "name = isp-lns" "pppoptfile = /etc/ppp/options.lns" \
  "length bit = yes" >/board/isp/xl2tpd.conf
{ printf '%s\n' nodefaultroute; ppp_peer pppd-lns; } >/board/isp/ppp/options.lns
isp_ppp xl2tpd -D -c /board/isp/xl2tpd.conf -p /board/isp/xl2tpd.pid -C /board/isp/l2tp-control \
  >/board/isp/xl2tpd.log 2>&1 &

# The ISP's DNS server (the address its DHCP and PPP hand out): dnsmasq
# answering www.isp.test with the far address, from no other source.
nsenter --net=/run/netns/isp dnsmasq -k --no-resolv --no-hosts --no-poll --pid-file= \
  --user=nobody --group=nogroup --host-record=www.isp.test,$far --log-queries \
  --log-facility=/board/isp/dnsmasq.log >/board/isp/dnsmasq.out 2>&1 &

# Every TCP SYN that reaches the ISP host through a PPP session goes to
# the kernel log with its TCP options (the MSS as the router left it).
modprobe nf_log_syslog
sysctl -qw net.netfilter.nf_log_all_netns=1
nsenter --net=/run/netns/isp iptables -w -I INPUT -i ppp+ -p tcp --syn -j LOG --log-level 7 \
  --log-prefix "isp-syn " --log-tcp-options

t "LAN host"
ip -n lan link set lo up
ip -n lan link set eth0 address 02:00:00:00:01:0a
ip -n lan link set eth0 up
SIM_LAN_DIR=/board/lan nsenter --net=/run/netns/lan busybox udhcpc -f -i eth0 \
  -s /board/lan-udhcpc.script -p /board/lan/udhcpc.pid -t 60 -T 1 -A 1 >/board/lan/udhcpc.log 2>&1 &

t "router: tools, kernel files, configuration store"
for tool in iptables arptables tc ifconfig route brctl vconfig killall udhcpc udhcpd; do
  real=$(PATH=/sbin:/usr/sbin:/bin:/usr/bin which $tool) || { echo "lab: no $tool"; continue; }
  # busybox applets keep their name through the link's own name
  [ "$(readlink -f "$real")" = /bin/busybox ] && real=/bin/busybox
  ln -sf "$real" /board/real/$tool
  ln -sf wrap /board/bin/$tool
done
ln -sf /bin/busybox /board/real/httpd
for tool in switch upnp inadyn 88ip 3322ip; do ln -sf standin /board/bin/$tool; done
: >/board/journal
head -c $((0x40004)) /dev/zero >/board/kernel/dev/flash0
printf '\002\122\124\000\000\001' >>/board/kernel/dev/flash0
: >/board/kernel/proc/vkproc/fwlog
: >/board/kernel/proc/vkproc/lanip
echo 0 >/board/kernel/proc/vkproc/netcheck
nvram load /etc/default.nvram
[ ! -s /board/settings ] || nvram load /board/settings

export PATH=/board/bin:/sbin:/usr/sbin:/bin:/usr/bin HOME=/root
export ROUTER_KERNEL_ROOT=/board/kernel BOARD_JOURNAL=/board/journal
# The router kernel's DNS query log (/proc/dns_log2, fed by the ULOG rule
# that the wrapper turns into NFLOG) and its per-host accounting: the
# simulation's stand-ins, cross-built.
t "router: kernel stand-ins sim_dnslog, sim_account"
(cd /board && exec sim_dnslog /board/kernel/proc/dns_log2 >>/board/log/dnslog.log 2>&1) &
(cd /board && exec sim_account >>/board/log/account.log 2>&1) &

# The router's programs get a PID namespace (and a /proc) of their own, as
# in the simulation: netmgr and fwmgr find processes by name in /proc and
# signal every match (SIGKILL to every pppd when the PPPoE link goes
# down), and must see only the router's, not the ISP host's session pppd.
# A dozen short processes first: process lookup ignores pids below 12. The
# namespace's first process stays as the reaper of its orphans.
# The script waits for netmgr's start-up (its queue) before it starts the
# others: on the emulated 24Kc of a busy PC that takes 10-120 s, not the
# real board's few seconds, so it waits up to 600 s here.
t "router: /etc/init.d/router start (in a PID namespace of its own)"
rm -f /board/router.ready
export ROUTER_NETMGR_WAIT=600
unshare --pid --fork --mount --mount-proc sh -c '
  for i in 1 2 3 4 5 6 7 8 9 10 11 12; do /bin/true; done
  /etc/init.d/router start
  /etc/init.d/router status >/board/router.ready
  trap "exit 0" TERM
  while :; do
    sleep 3600 &
    wait
  done' </dev/null >/board/log/router-start.log 2>&1 &
n=6000
while [ ! -s /board/router.ready ] && [ $n -gt 0 ]; do
  sleep 0.1
  n=$((n - 1))
done
cat /board/log/router-start.log
t "router started: $(tr '\n' ' ' </board/router.ready 2>/dev/null)"
