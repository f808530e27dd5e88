#!/bin/bash
# The ISP host of the simulation, run as the first process of its own PID
# namespace inside the ISP's network namespace (its eth0 faces the router's
# eth2.2 and already holds the ISP address). Starts, with their output in
# DIR:
#   - busybox udhcpd leasing the router's WAN address from POOL_START to
#     POOL_END with the ISP address as gateway and DNS server;
#   - busybox httpd on port 80 of every address with /cgi-bin/whoami, which
#     answers the address a request came from (how a LAN host learns that its
#     traffic reaches the ISP masqueraded as the router's WAN address), and the
#     same pages on port 21, a TCP listener on the FTP control port (ALG
#     blocking);
#   - the far end of the simulated PPP links (sim_pppd --peer eth0): ppp0
#     with 10.64.0.1 peer 10.64.0.2, which prints every TCP SYN's MSS;
#   - dhcpplus_server, the ISP login test server, on the login address and
#     port, accepting LOGIN_USER / LOGIN_PASSWORD;
#   - the ISP's mail server (Postfix, see isp-mail.sh) on ADDR port 25, in
#     DIR/mail, with the router's mail account of config/default.nvram;
#   - dnsmasq, a DNS server on ADDR and on NET.3 (the /24 of ADDR) that
#     answers www.simisp.test with NET.80 and nothing else;
#   - a second gateway NET.2 (a macvlan interface gwb) in front of the
#     network 10.77.0.0/24, whose address 10.77.0.1 lies on lo and is
#     accepted only through gwb: a route through NET.2 reaches it, the
#     default route through ADDR does not (for static routes).
# It ends, and with it every process of the namespace, on SIGTERM.
#
# Usage: isp.sh DIR ADDR POOL_START POOL_END LOGIN_USER LOGIN_PASSWORD [LOGIN_PORT]
set -u
dir=$1 addr=$2 pool_start=$3 pool_end=$4 user=$5 password=$6 port=${7:-}

mkdir -p "$dir/www/cgi-bin"
cat >"$dir/www/cgi-bin/whoami" <<'CGI'
#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\n%s\n' "$REMOTE_ADDR"
CGI
chmod +x "$dir/www/cgi-bin/whoami"
echo "ISP host $addr" >"$dir/www/index.html"

printf '%s\n' "start $pool_start" "end $pool_end" "interface eth0" \
  "lease_file $dir/udhcpd.leases" "pidfile $dir/udhcpd.pid" \
  "option subnet 255.255.255.0" "option router $addr" "option dns $addr" \
  "option lease 3600" "max_leases 100" >"$dir/udhcpd.conf"
: >"$dir/udhcpd.leases"

net=${addr%.*}
ip addr add "$net.3/24" dev eth0
# Each address answers ARP only on its own interface.
sysctl -qw net.ipv4.conf.all.arp_ignore=1
ip link add gwb link eth0 type macvlan mode bridge && ip addr add "$net.2/24" dev gwb && ip link set gwb up
ip addr add 10.77.0.1/32 dev lo
iptables -w -A INPUT -i eth0 -d 10.77.0.1 -j DROP

children=()
trap 'kill "${children[@]}" 2>/dev/null; exit 0' TERM INT HUP
# -a 100: answer after a 100 ms address probe instead of busybox's 2 s.
busybox udhcpd -f -a 100 "$dir/udhcpd.conf" >"$dir/udhcpd.log" 2>&1 &
children+=($!)
busybox httpd -f -p 0.0.0.0:80 -h "$dir/www" >"$dir/httpd.log" 2>&1 &
children+=($!)
sim_pppd --peer eth0 >"$dir/ppp-peer.log" 2>&1 &
children+=($!)
busybox httpd -f -p "$addr:21" -h "$dir/www" >"$dir/httpd21.log" 2>&1 &
children+=($!)
dhcpplus_server --listen "$addr" ${port:+--port "$port"} --user "$user" --password "$password" \
  >"$dir/dhcpplus.log" 2>&1 &
children+=($!)
here=$(dirname "$0")
defaults=$here/../../config/default.nvram
mail_user=$(sed -n 's/^email_user=//p' "$defaults")
mail_pwd=$(sed -n 's/^email_pwd=//p' "$defaults")
if bash "$here/isp-mail.sh" setup "$dir/mail" "$addr" "$mail_user" "$mail_pwd" >"$dir/mail.out" 2>&1; then
  bash "$here/isp-mail.sh" run "$dir/mail" >>"$dir/mail.out" 2>&1 &
  children+=($!)
fi
dnsmasq --no-daemon --no-resolv --no-hosts --user=root --pid-file= --bind-interfaces \
  --listen-address="$addr" --listen-address="$net.3" --address="/www.simisp.test/$net.80" \
  --log-queries --log-facility=- >"$dir/dnsmasq.log" 2>&1 &
children+=($!)
for _ in $(seq 1 100); do grep -qx ready "$dir/ppp-peer.log" && break; sleep 0.05; done
echo ready >"$dir/ready"
wait
