// routerstat: prints the router's system log (the ring in segment 205, GBK
// shown as UTF-8), oldest record first, like logread, then whether the
// traffic monitor's segments (201 host table, 206 system figures) exist.
//
//   routerstat          the records, one per line, then one line per segment
//   routerstat --json   {"count":N,"next":N,"records":["...", ...],
//                        "hosts":"absent"|"present","system":"absent"|"present"}
//
// The statistics segments are only looked for: their records are the
// traffic monitor's, and are shown here once that program exists.
//
// The segment is attached read-only and copied once, so a record that the
// writer is rewriting at that moment is at worst shown half old, half new.
#include <iconv.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstring>

#include "common/shell.h"
#include "netmgr/syslog_ring.h"

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

// The traffic monitor's segments: key, what it holds.
struct StatSegment {
  key_t key;
  const char *json;
  const char *what;
};
constexpr StatSegment kStatSegments[] = {{201, "hosts", "host table"}, {206, "system", "system figures"}};

bool segmentExists(key_t key) { return shmget(key, 0, 0) >= 0; }

}  // namespace

int main(int argc, char **argv) {
  rc::stdio_line_buffered();
  bool json = argc == 2 && strcmp(argv[1], "--json") == 0;
  if (argc > 2 || (argc == 2 && !json)) {
    fputs("usage: routerstat [--json]\n", stderr);
    return 2;
  }
  int id = shmget(rc::kRingKey, 0, 0);
  if (id < 0) {
    fputs("routerstat: no system log (segment 205 does not exist: is netmgr running?)\n", stderr);
    return 1;
  }
  void *p = shmat(id, nullptr, SHM_RDONLY);
  if (p == reinterpret_cast<void *>(-1)) {
    perror("routerstat: shmat");
    return 1;
  }
  static rc::syslog_ring ring;
  memcpy(&ring, p, sizeof ring);
  shmdt(p);

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
  if (json) {
    putchar(']');
    for (const StatSegment &seg : kStatSegments)
      printf(",\"%s\":\"%s\"", seg.json, segmentExists(seg.key) ? "present" : "absent");
    puts("}");
  } else {
    for (const StatSegment &seg : kStatSegments)
      printf("routerstat: %s (segment %d) %s\n", seg.what, static_cast<int>(seg.key),
             segmentExists(seg.key) ? "present, not decoded yet" : "absent: the traffic monitor is not running");
  }
  return 0;
}
