// The router's status page: polls /cgi-bin/status once a second and shows
// its figures. Every text from the router is set with textContent (never
// parsed as markup); attributes get numbers or the texts as values only.
"use strict";
(function () {
  var HISTORY = 300; // five minutes of one-second polls
  var WAN_TYPES = { 1: "static address", 2: "DHCP", 3: "PPPoE", 4: "DHCP with ISP login", 5: "PPTP", 6: "L2TP" };
  var history = [];  // {up, down} per poll, oldest first
  var hosts = [];
  var sortKey = "down_rate", sortAsc = false;
  var busy = false;

  function $(id) { return document.getElementById(id); }
  function setText(id, text) { $(id).textContent = text; }

  // An element with a class and a text.
  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = String(text);
    return e;
  }

  function bytes(n) {
    var units = ["B", "kB", "MB", "GB", "TB"], i = 0;
    n = Number(n) || 0;
    while (n >= 1000 && i < units.length - 1) { n /= 1000; i++; }
    return (i ? n.toFixed(n < 10 ? 2 : n < 100 ? 1 : 0) : n) + " " + units[i];
  }
  function rate(n) { return bytes(n) + "/s"; }

  function duration(s) {
    s = Number(s) || 0;
    if (s <= 0) return "expired";
    var h = Math.floor(s / 3600), m = Math.floor(s % 3600 / 60);
    return h ? h + " h " + m + " min" : m ? m + " min " + (s % 60) + " s" : s + " s";
  }

  // Replaces a table body's rows; an empty list shows one grey row.
  function fillBody(table, rows, cols, what) {
    var body = $(table).tBodies[0];
    while (body.firstChild) body.removeChild(body.firstChild);
    if (!rows.length) {
      var tr = el("tr"), td = el("td", "empty", "no " + what);
      td.colSpan = cols;
      tr.appendChild(td);
      body.appendChild(tr);
      return;
    }
    rows.forEach(function (r) { body.appendChild(r); });
  }

  function compare(a, b) {
    var x = a[sortKey], y = b[sortKey];
    if (sortKey === "addr") {
      x = x.split(".").map(function (p) { return ("00" + p).slice(-3); }).join(".");
      y = y.split(".").map(function (p) { return ("00" + p).slice(-3); }).join(".");
    }
    var c = x < y ? -1 : x > y ? 1 : 0;
    return sortAsc ? c : -c;
  }

  function showHosts() {
    var list = hosts.slice().sort(compare);
    setText("host-count", list.length + (list.length === 1 ? " host" : " hosts"));
    fillBody("hosts", list.map(function (h) {
      var tr = el("tr");
      tr.setAttribute("data-addr", h.addr);
      tr.appendChild(el("td", "addr", h.addr));
      tr.appendChild(el("td", "mac", h.mac));
      tr.appendChild(el("td", "sent num", bytes(h.bytes_sent)));
      tr.appendChild(el("td", "recv num", bytes(h.bytes_recv)));
      var up = el("td", "up num", rate(h.up_rate)), down = el("td", "down num", rate(h.down_rate));
      up.setAttribute("data-bps", Number(h.up_rate) || 0);
      down.setAttribute("data-bps", Number(h.down_rate) || 0);
      tr.appendChild(up);
      tr.appendChild(down);
      tr.appendChild(el("td", "conns num", h.conns));
      return tr;
    }), 7, "hosts");
    var ths = $("hosts").tHead.rows[0].cells;
    for (var i = 0; i < ths.length; i++) {
      var on = ths[i].getAttribute("data-key") === sortKey;
      ths[i].classList.toggle("sorted", on);
      ths[i].classList.toggle("asc", on && sortAsc);
    }
  }

  // The two rate lines over the last HISTORY polls, scaled to the highest
  // rate shown (at least 1 kB/s) at 96 % of the height, half of it at the
  // dashed line; the newest poll at the right edge.
  function drawGraph() {
    var max = 1000;
    history.forEach(function (p) { max = Math.max(max, p.up, p.down); });
    function points(key) {
      var off = HISTORY - history.length;
      return history.map(function (p, i) {
        return (off + i) + "," + (100 - p[key] / max * 96).toFixed(1);
      }).join(" ");
    }
    $("line-down").setAttribute("points", points("down"));
    $("line-up").setAttribute("points", points("up"));
    setText("graph-max", "(top of the graph " + rate(max) + ", dashed line " + rate(max / 2) + ")");
  }

  function showWan(w) {
    setText("wan-type", WAN_TYPES[w.type] ? w.type + " (" + WAN_TYPES[w.type] + ")" : String(w.type));
    setText("wan-if", w.ifname);
    setText("wan-addr", w.addr || "none (WAN down)");
    setText("wan-gw", w.gateway || "none");
    setText("wan-dns", w.dns.length ? w.dns.join(", ") : "none");
  }

  function meter(id, pct) {
    pct = Math.max(0, Math.min(100, Number(pct) || 0));
    setText(id, pct + " %");
    $(id + "-bar").style.width = pct + "%";
  }

  function show(s) {
    var sys = typeof s.system === "object" ? s.system : null;
    if (sys) {
      meter("cpu", sys.cpu);
      meter("mem", sys.mem);
    }
    var up = sys ? Number(sys.wan_up) || 0 : 0, down = sys ? Number(sys.wan_down) || 0 : 0;
    setText("wan-up", rate(up));
    setText("wan-down", rate(down));
    history.push({ up: up, down: down });
    if (history.length > HISTORY) history.shift();
    drawGraph();
    hosts = Array.isArray(s.hosts) ? s.hosts : [];
    showHosts();
    showWan(s.wan);
    fillBody("leases", s.leases.map(function (l) {
      var tr = el("tr");
      tr.appendChild(el("td", "addr", l.addr));
      tr.appendChild(el("td", "mac", l.mac));
      tr.appendChild(el("td", "name", l.name));
      tr.appendChild(el("td", "num", duration(l.expires)));
      return tr;
    }), 4, "leases written yet");
    var log = $("log");
    while (log.firstChild) log.removeChild(log.firstChild);
    s.records.slice().reverse().forEach(function (r) { log.appendChild(el("li", "", r)); });
    if (!s.records.length) log.appendChild(el("li", "empty", "no records"));
    // url.log lines: "time;address;name"; the name may hold anything.
    fillBody("urls", s.urls.slice().reverse().map(function (line) {
      var a = line.indexOf(";"), b = a < 0 ? -1 : line.indexOf(";", a + 1);
      var tr = el("tr");
      tr.appendChild(el("td", "", b < 0 ? "" : line.slice(0, a)));
      tr.appendChild(el("td", "", b < 0 ? "" : line.slice(a + 1, b)));
      tr.appendChild(el("td", "name", b < 0 ? line : line.slice(b + 1)));
      return tr;
    }), 3, "sites looked up");
    var st = $("state");
    st.className = "state";
    st.textContent = "updated " + new Date().toLocaleTimeString() +
      (sys ? "" : " (traffic monitor not running)");
  }

  function poll() {
    if (busy) return;
    busy = true;
    fetch("/cgi-bin/status", { cache: "no-store" })
      .then(function (r) {
        if (!r.ok) throw new Error("HTTP " + r.status);
        return r.json();
      })
      .then(show)
      .catch(function (e) {
        var st = $("state");
        st.className = "state bad";
        st.textContent = "no answer from the router: " + e.message;
      })
      .then(function () { busy = false; });
  }

  var ths = $("hosts").tHead.rows[0].cells;
  for (var i = 0; i < ths.length; i++) {
    ths[i].addEventListener("click", function () {
      var key = this.getAttribute("data-key");
      if (key === sortKey) sortAsc = !sortAsc;
      else { sortKey = key; sortAsc = key === "addr" || key === "mac"; }
      showHosts();
    });
  }
  poll();
  setInterval(poll, 1000);
})();
