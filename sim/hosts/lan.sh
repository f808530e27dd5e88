#!/bin/bash
# The LAN host of the simulation, run as the first process of its own PID
# namespace inside the LAN's network namespace (its eth0 faces the router's
# eth2.1). Serves a small page with busybox httpd on port 80 and leases its
# address from the router's DHCP server with busybox udhcpc (host name
# "lanhost"), whose script
# (lan-udhcpc.script) sets the address and route and records each event in
# DIR/lease.log (and the current lease in DIR/lease). Ends, and with it every
# process of the namespace, on SIGTERM.
#
# Usage: lan.sh DIR
set -u
dir=$1
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir/www"
echo "LAN host" >"$dir/www/index.html"
children=()
trap 'kill "${children[@]}" 2>/dev/null; exit 0' TERM INT HUP
busybox httpd -f -p 80 -h "$dir/www" >"$dir/httpd.log" 2>&1 &
children+=($!)
# Discover every second; after 60 unanswered tries pause one second and go on.
SIM_LAN_DIR=$dir busybox udhcpc -f -i eth0 -x hostname:lanhost -s "$here/lan-udhcpc.script" -p "$dir/udhcpc.pid" \
  -t 60 -T 1 -A 1 >"$dir/udhcpc.log" 2>&1 &
children+=($!)
wait
