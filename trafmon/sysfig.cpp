// System figures: the WAN interface's counters from /proc/net/dev, CPU time
// totals from /proc/stat, and memory use from the output of `free`.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/linereader.h"
#include "common/netutil.h"
#include "trafmon/trafmon.h"

namespace rc {

namespace {

// Reads up to max unsigned decimal numbers separated by white space from p;
// returns how many were read. Values are kept to their low 32 bits.
int readNumbers(const char *p, uint32_t *out, int max) {
  int n = 0;
  while (n < max) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!isdigit(static_cast<unsigned char>(*p))) break;
    unsigned long long v = 0;
    for (; isdigit(static_cast<unsigned char>(*p)); ++p) v = v * 10 + static_cast<unsigned>(*p - '0');
    out[n++] = static_cast<uint32_t>(v);
  }
  return n;
}

// The interface name of a /proc/net/dev line into name[size]; returns where
// its numbers begin, or nullptr when the line has no colon after the name.
// "eth0:1:" is an alias: the name keeps the first colon and its digits.
const char *devName(const char *line, char *name, size_t size) {
  const char *p = line;
  while (*p == ' ' || *p == '\t') ++p;
  size_t n = 0;
  for (; *p && *p != ' ' && *p != '\t'; ++p) {
    if (*p == ':') {
      const char *d = p + 1;
      while (isdigit(static_cast<unsigned char>(*d))) ++d;
      if (d > p + 1 && *d == ':') {  // alias: name:digits:
        for (; p < d && n + 1 < size; ++p) name[n++] = *p;
        name[n] = '\0';
        return d + 1;
      }
      name[n] = '\0';
      return p + 1;
    }
    if (n + 1 < size) name[n++] = *p;
  }
  name[n] = '\0';
  // Older kernels put white space between the name and its colon.
  while (*p == ' ' || *p == '\t') ++p;
  return *p == ':' ? p + 1 : nullptr;
}

}  // namespace

uint32_t percent(uint32_t part, uint32_t whole) {
  // 32-bit arithmetic (no 64-bit division on the router): scale both down
  // until part * 100 fits.
  while (part > 42000000u || whole > 42000000u) {
    part >>= 1;
    whole >>= 1;
  }
  if (whole == 0) return 100;
  uint32_t p = part * 100u / whole;
  return p > 100 ? 100 : p;
}

int TrafMon::getwanstatics(const char *name, wanstat *rec) {
  Paths::Buf path;
  LineReader in(s_.paths.sys("/proc/net/dev", path));
  if (!in.ok()) {
    printf("open /proc/net/dev failed\n");
    return 0;
  }
  char line[256], ifname[32];
  in.next(line, sizeof line);
  in.next(line, sizeof line);
  while (in.next(line, sizeof line)) {
    const char *nums = devName(line, ifname, sizeof ifname);
    if (!nums || strcmp(ifname, name) != 0) continue;
    uint32_t v[16];
    // Receive bytes, packets, 6 more; transmit bytes, packets, 6 more.
    if (readNumbers(nums, v, 16) < 10) return 0;
    rec->psent = v[9];
    rec->bsent = v[8];
    rec->precv = v[1];
    rec->brecv = v[0];
    return 1;
  }
  return 0;
}

void TrafMon::getmemuse(int32_t *out) {
  *out = 60;
  sh_.vk_SystemEx("free > /tmp/free.txt");
  s_.clock.sleepMicros(50000);
  Paths::Buf path;
  LineReader in(s_.paths.sys("/tmp/free.txt", path));
  if (!in.ok()) return;
  char line[128], *save = nullptr;
  if (!in.next(line, sizeof line) || !in.next(line, sizeof line)) return;
  // "Mem: total used free shared buffers": the fourth word is the free KiB.
  const char *word[6] = {};
  int words = 0;
  for (char *w = strtok_r(line, " \t", &save); w && words < 6; w = strtok_r(nullptr, " \t", &save))
    word[words++] = w;
  if (words < 4) return;
  uint32_t total = static_cast<uint32_t>(strtoul(word[1], nullptr, 10));
  uint32_t free = static_cast<uint32_t>(strtoul(word[3], nullptr, 10));
  // Measured against the board's 32768 KiB; a machine with more memory than
  // that is measured against its own total, or the figure would go negative.
  *out = 100 - static_cast<int32_t>(percent(free, total > 32768 ? total : 32768));
}

void TrafMon::getcpustat(uint32_t *total, uint32_t *idle) {
  char line[128];
  Paths::Buf path;
  if (read_head(s_.paths.sys("/proc/stat", path), line, sizeof line) < 0) return;
  line[strcspn(line, "\n")] = '\0';
  const char *p = line;
  while (*p && *p != ' ') ++p;  // the label, "cpu"
  uint32_t v[7] = {0, 0, 0, 0, 0, 0, 0};
  // user nice system idle iowait irq softirq; a line without the idle time
  // gives no reading.
  if (readNumbers(p, v, 7) < 4) return;
  uint32_t sum = 0;
  for (uint32_t x : v) sum += x;
  *total = sum;
  *idle = v[3];
}

}  // namespace rc
