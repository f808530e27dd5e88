// routerstat: prints the router's system log (the ring in segment 205, GBK
// shown as UTF-8), oldest record first, like logread, then the traffic
// monitor's segments: the host table (201) and the system figures (206).
//
//   routerstat          the records, one per line, then each segment: a
//                       heading line, and for the host table one line per host
//   routerstat --json   {"count":N,"next":N,"records":["...", ...],
//                        "hosts":"absent"|[{"addr":"a.b.c.d","mac":"..",
//                          "pkts_sent":N,"pkts_recv":N,"bytes_sent":N,
//                          "bytes_recv":N,"up_rate":N,"down_rate":N,
//                          "conns":N}, ...],
//                        "system":"absent"|{"cpu":N,"mem":N,"wan_up":N,
//                          "wan_down":N}}
//
// Rates are bytes per second. Without segment 205 (netmgr not running) the
// log is reported missing on standard error, shown empty, and the exit
// status is 1; the statistics are shown all the same.
//
// Each segment is attached read-only and copied once, so a record that the
// writer is rewriting at that moment is at worst shown half old, half new.
#include <cstdio>
#include <cstring>

#include "common/shell.h"
#include "tools/statjson.h"

namespace {

void printHosts(bool json) {
  static rc::hosttable table;
  bool have = rc::copy_segment(rc::kTrafKey, &table, sizeof table);
  if (json) {
    putchar(',');
    rc::json_hosts(stdout, have ? &table : nullptr);
    return;
  }
  if (!have) {
    puts("routerstat: host table (segment 201) absent: the traffic monitor is not running");
    return;
  }
  int n = rc::host_count(table);
  printf("routerstat: host table (segment 201): %d hosts\n", n);
  for (int i = 0; i < n; ++i) {
    const rc::hoststat &h = table.host[i];
    char addr[16], mac[sizeof h.mac];
    rc::host_texts(h, addr, mac);
    printf("  %-15s %-17s sent %u packets %u bytes, received %u packets %u bytes, "
           "up %u B/s, down %u B/s, %u connections\n",
           addr, mac, h.psent, h.bsent, h.precv, h.brecv, h.upspeed, h.downspeed, h.conns);
  }
}

void printSystem(bool json) {
  rc::sysstat s;
  bool have = rc::copy_segment(rc::kSysStatKey, &s, sizeof s);
  if (json) {
    putchar(',');
    rc::json_system(stdout, have ? &s : nullptr);
  } else if (!have) {
    puts("routerstat: system figures (segment 206) absent: the traffic monitor is not running");
  } else {
    printf("routerstat: system figures (segment 206): CPU %d %%, memory %d %%, WAN up %u B/s, down %u B/s\n",
           s.cpupercent, s.mempercent, s.wanupspeed, s.wandownspeed);
  }
}

}  // namespace

int main(int argc, char **argv) {
  rc::stdio_line_buffered();
  bool json = argc == 2 && strcmp(argv[1], "--json") == 0;
  if (argc > 2 || (argc == 2 && !json)) {
    fputs("usage: routerstat [--json]\n", stderr);
    return 2;
  }
  static rc::syslog_ring ring;
  bool haveLog = rc::copy_segment(rc::kRingKey, &ring, sizeof ring);
  if (!haveLog) {
    fputs("routerstat: no system log (segment 205 does not exist: is netmgr running?)\n", stderr);
    memset(&ring, 0, sizeof ring);
  }

  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    perror("routerstat: iconv_open");
    return 1;
  }
  if (json) {
    putchar('{');
    rc::json_log(stdout, ring, cd, -1);
  } else {
    rc::RingRecords records(ring);
    for (int i = 0; i < records.count(); ++i) {
      char utf8[rc::kRecordUtf8];
      puts(records.utf8(i, cd, utf8, sizeof utf8));
    }
  }
  iconv_close(cd);
  printHosts(json);
  printSystem(json);
  if (json) puts("}");
  return haveLog ? 0 : 1;
}
