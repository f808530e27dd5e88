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
#include <arpa/inet.h>
#include <iconv.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstring>

#include "common/shell.h"
#include "netmgr/syslog_ring.h"
#include "trafmon/stats.h"

namespace {

// Converts one GBK record to UTF-8; bytes iconv cannot convert are shown as '?'.
void toUtf8(iconv_t cd, const char *in, char *out, size_t outSize) {
  char *ip = const_cast<char *>(in);
  size_t il = strnlen(in, rc::kRingSlotSize);
  char *op = out;
  size_t ol = outSize - 1;
  while (il > 0 && ol > 0) {
    if (iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1)) break;
    if (ol == 0) break;
    *op++ = '?';
    --ol;
    ++ip;
    --il;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  *op = '\0';
}

void printJsonString(const char *s) {
  putchar('"');
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (c == '"' || c == '\\')
      printf("\\%c", c);
    else if (c == '\n')
      fputs("\\n", stdout);
    else if (c < 0x20)
      printf("\\u%04x", c);
    else
      putchar(c);
  }
  putchar('"');
}

// Copies a whole segment; false when it does not exist or is smaller.
bool copySegment(key_t key, void *dst, size_t size) {
  int id = shmget(key, 0, 0);
  if (id < 0) return false;
  struct shmid_ds ds;
  if (shmctl(id, IPC_STAT, &ds) < 0 || ds.shm_segsz < size) return false;
  void *p = shmat(id, nullptr, SHM_RDONLY);
  if (p == reinterpret_cast<void *>(-1)) return false;
  memcpy(dst, p, size);
  shmdt(p);
  return true;
}

void printHosts(bool json) {
  static rc::hosttable table;
  if (!copySegment(rc::kTrafKey, &table, sizeof table)) {
    if (json)
      fputs(",\"hosts\":\"absent\"", stdout);
    else
      puts("routerstat: host table (segment 201) absent: the traffic monitor is not running");
    return;
  }
  int n = table.n < 0 ? 0 : table.n > rc::kMaxHosts ? rc::kMaxHosts : table.n;
  if (json)
    fputs(",\"hosts\":[", stdout);
  else
    printf("routerstat: host table (segment 201): %d hosts\n", n);
  for (int i = 0; i < n; ++i) {
    const rc::hoststat &h = table.host[i];
    char addr[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &h.addr, addr, sizeof addr);
    char mac[sizeof h.mac];
    memcpy(mac, h.mac, sizeof mac);
    mac[sizeof mac - 1] = '\0';
    if (json) {
      printf("%s{\"addr\":\"%s\",\"mac\":", i ? "," : "", addr);
      printJsonString(mac);
      printf(",\"pkts_sent\":%u,\"pkts_recv\":%u,\"bytes_sent\":%u,\"bytes_recv\":%u,"
             "\"up_rate\":%u,\"down_rate\":%u,\"conns\":%u}",
             h.psent, h.precv, h.bsent, h.brecv, h.upspeed, h.downspeed, h.conns);
    } else {
      printf("  %-15s %-17s sent %u packets %u bytes, received %u packets %u bytes, "
             "up %u B/s, down %u B/s, %u connections\n",
             addr, mac, h.psent, h.bsent, h.precv, h.brecv, h.upspeed, h.downspeed, h.conns);
    }
  }
  if (json) putchar(']');
}

void printSystem(bool json) {
  rc::sysstat s;
  if (!copySegment(rc::kSysStatKey, &s, sizeof s)) {
    if (json)
      fputs(",\"system\":\"absent\"", stdout);
    else
      puts("routerstat: system figures (segment 206) absent: the traffic monitor is not running");
    return;
  }
  if (json)
    printf(",\"system\":{\"cpu\":%d,\"mem\":%d,\"wan_up\":%u,\"wan_down\":%u}", s.cpupercent,
           s.mempercent, s.wanupspeed, s.wandownspeed);
  else
    printf("routerstat: system figures (segment 206): CPU %d %%, memory %d %%, WAN up %u B/s, down %u B/s\n",
           s.cpupercent, s.mempercent, s.wanupspeed, s.wandownspeed);
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
  bool haveLog = copySegment(rc::kRingKey, &ring, sizeof ring);
  if (!haveLog) {
    fputs("routerstat: no system log (segment 205 does not exist: is netmgr running?)\n", stderr);
    memset(&ring, 0, sizeof ring);
  }

  int count = ring.count < 0 ? 0 : ring.count > rc::kRingSlots ? rc::kRingSlots : ring.count;
  int next = ring.next < 0 || ring.next >= rc::kRingSlots ? 0 : ring.next;
  int first = count < rc::kRingSlots ? 0 : next;
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    perror("routerstat: iconv_open");
    return 1;
  }
  if (json) printf("{\"count\":%d,\"next\":%d,\"records\":[", count, next);
  for (int i = 0; i < count; ++i) {
    char slot[rc::kRingSlotSize + 1];
    memcpy(slot, ring.slot[(first + i) % rc::kRingSlots], rc::kRingSlotSize);
    slot[rc::kRingSlotSize] = '\0';
    char utf8[rc::kRingSlotSize * 3 + 1];
    toUtf8(cd, slot, utf8, sizeof utf8);
    size_t len = strlen(utf8);
    if (len && utf8[len - 1] == '\n') utf8[len - 1] = '\0';
    if (json) {
      if (i) putchar(',');
      printJsonString(utf8);
    } else {
      puts(utf8);
    }
  }
  iconv_close(cd);
  if (json) putchar(']');
  printHosts(json);
  printSystem(json);
  if (json) puts("}");
  return haveLog ? 0 : 1;
}
