#!/bin/bash
# End-to-end test of the router's status page (www/) in a real browser
# (ctest label sim): headless Chromium in the LAN host's network namespace
# loads http://LAN-ADDRESS/status.html from the router's httpd while the LAN
# host downloads from the ISP host, and the rendered DOM is checked. The
# screenshot and the DOM are saved beside ctest's logs, in
# BUILD_DIR/Testing/Temporary/status_page.png and status_page.dom.html.
#
#   bash sim/tests/www_test.sh BUILD_DIR CASE
. "$(dirname "$0")/lib.sh"

OUT=$BUILD/Testing/Temporary
# A site name with markup characters, as kinwatch never writes one: the page
# must show it as text.
MARKUP='<img src=x onerror=alert(1)><b>bold</b>&amp;'
MARKUP_TEXT='&lt;img src=x onerror=alert(1)&gt;&lt;b&gt;bold&lt;/b&gt;&amp;amp;'

# browser ARG...: headless Chromium in the LAN host's network namespace with
# a private profile under the case's directory, bounded to 90 s.
browser() {
  sim_lan timeout -k 5 90 chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage \
    --user-data-dir="$SIM_TMP/lan/chromium" --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --disable-default-apps --hide-scrollbars \
    --host-resolver-rules="MAP * ~NOTFOUND, EXCLUDE $LAN_ADDR" \
    --window-size=1200,940 "$@" 2>>"$SIM_TMP/lan/chromium.log"
}

down_rate() {
  sim_router routerstat --json 2>/dev/null | grep -o "{\"addr\":\"$LAN_IP\"[^}]*}" |
    sed -n 's/.*"down_rate":\([0-9]*\).*/\1/p'
}

# page_ok: the page, after some seconds of polling, shows the LAN host's row
# with a download rate above 0, a WAN graph of at least two points, the LAN
# host's lease and the URL log line as text; the DOM is kept in
# $SIM_TMP/dom.html.
page_ok() {
  browser --virtual-time-budget=6000 --dump-dom "http://$LAN_ADDR/status.html" >"$SIM_TMP/dom.html" || return 1
  local dom row
  dom=$(tr -d '\n' <"$SIM_TMP/dom.html")
  row=$(grep -o "<tr data-addr=\"$LAN_IP\">.*</tr>" <<<"$dom" | sed 's|</tr>.*||')
  grep -q "<td class=\"addr\">$LAN_IP</td>" <<<"$row" &&
    grep -q '<td class="down num" data-bps="[1-9][0-9]*">' <<<"$row" &&
    grep -q '<polyline id="line-down" class="down" points="[0-9.]*,[0-9.]* [0-9.]*,[0-9.]*' <<<"$dom" &&
    grep -q "<table id=\"leases\">.*<td class=\"addr\">$LAN_IP</td><td class=\"mac\">$SIM_LAN_MAC</td><td class=\"name\">lanhost</td>" <<<"$dom" &&
    grep -qF "<td class=\"name\">$MARKUP_TEXT</td>" <<<"$dom"
}

case_status_page_in_browser() {
  command -v chromium >/dev/null || { fail "chromium is missing (package chromium; .ci/install-deps.sh installs it)"; return; }
  start_sim
  wait_wan
  wait_lease
  LAN_IP=$(sim_lease_value ip)
  LAN_ADDR=$(sim_router nvram get lan_ip)
  # httpd comes with fwmgr's 8th pass, kinwatch's fresh url.log 5 s after fwmgr's start.
  wait_until 40 "the CGI through the router's httpd" \
    eval 'sim_lan timeout 5 busybox wget -q -O - "http://$LAN_ADDR/cgi-bin/status" | grep -q "^{\"count\":"'
  wait_until 30 "kinwatch's url.log" sim_router test -s /var/url.log
  sim_router sh -c 'echo "2026-12-09 01:02:03;$1;$2" >>/var/url.log' sh "$LAN_IP" "$MARKUP"

  # A download of about 40 s at 8 Mbit/s, slowed at the ISP host.
  truncate -s 40M "$SIM_TMP/isp/www/big"
  sim_isp tc qdisc replace dev eth0 root tbf rate 8mbit burst 64kb latency 400ms
  sim_lan timeout 120 busybox wget -q -O /dev/null "http://$SIM_ISP_ADDR/big" >/dev/null 2>&1 &
  local dl=$!
  wait_until 40 "a download rate for $LAN_IP in the host table" eval '[ "$(down_rate)" -gt 0 ] 2>/dev/null'

  # Polls the page (a fresh browser each time) until it shows it all.
  # udhcpd writes its lease file on SIGUSR1 (else only every few hours).
  local tries=0
  until sim_router sh -c 'kill -USR1 $(pidof udhcpd)' && page_ok; do
    tries=$((tries + 1))
    [ $tries -lt 4 ] || break
    sleep 1
  done
  mkdir -p "$OUT" && cp "$SIM_TMP/dom.html" "$OUT/status_page.dom.html"
  [ $tries -lt 4 ] || fail "the page never showed the host row with a download rate, the graph and the literal URL line (DOM: $OUT/status_page.dom.html)"
  grep -q '<img' "$SIM_TMP/dom.html" && fail "the URL line became markup: $(grep -o '<img[^>]*>' "$SIM_TMP/dom.html")"

  rm -f "$OUT/status_page.png"
  # 40 s of polls in virtual time: a few seconds of real time.
  browser --virtual-time-budget=40000 --screenshot="$OUT/status_page.png" "http://$LAN_ADDR/status.html" >/dev/null
  [ -s "$OUT/status_page.png" ] || fail "no screenshot (chromium log: $(tail -n 5 "$SIM_TMP/lan/chromium.log"))"
  echo "screenshot: $OUT/status_page.png"

  # The forwarder from the PC's loopback, as simulate.sh starts it.
  local port
  port=$(sim_free_port 18080) || fail "no free port"
  sim_forward_page "$port"
  wait_until 10 "the page through 127.0.0.1:$port" \
    eval 'timeout 5 busybox wget -q -O - "http://127.0.0.1:$port/status.html" | grep -q "<title>Router status</title>"'
  kill "$dl" 2>/dev/null
  wait "$dl" 2>/dev/null
}

run_case "$CASE"
