// The kernel's accounting pages: the page list of /proc/vkproc/account, the
// read-only mappings out of /dev/mem, the per-cycle snapshot and the rates.
#include <arpa/inet.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/linereader.h"
#include "trafmon/trafmon.h"

namespace rc {

namespace {

// Decimal value of text[0..end): an optional sign and the leading digits,
// 0 when there are none. Kept to 32 bits by its caller.
long long leadingNumber(const char *text, const char *end) {
  const char *p = text;
  bool neg = false;
  if (p < end && (*p == '-' || *p == '+')) neg = *p++ == '-';
  long long v = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > 0xffffffffLL) return -1;  // no 32-bit value
  }
  return neg ? -v : v;
}

const char *find(const char *from, const char *end, char c) {
  const void *p = memchr(from, c, static_cast<size_t>(end - from));
  return static_cast<const char *>(p);
}

}  // namespace

bool TrafMon::parseAccountLine(const char *line, acctpage *out) {
  const char *end = line + strlen(line);
  // name=page name=third name=second, single spaces, no space before the first "=".
  const char *eq1 = find(line, end, '=');
  const char *sp1 = find(line, end, ' ');
  if (!eq1 || !sp1 || sp1 < eq1) return false;
  const char *eq2 = find(sp1 + 1, end, '=');
  const char *sp2 = find(sp1 + 1, end, ' ');
  if (!eq2 || !sp2 || sp2 < eq2) return false;
  const char *eq3 = find(sp2 + 1, end, '=');
  if (!eq3) return false;

  long long page = leadingNumber(eq1 + 1, sp1);
  long long third = leadingNumber(eq2 + 1, sp2);
  long long second = leadingNumber(eq3 + 1, end);
  if (page < -2147483648LL || page > 0xffffffffLL) return false;
  uint32_t addr = static_cast<uint32_t>(page);  // its bit pattern is the address
  if (addr < kKsegBase || addr - kKsegBase >= kKsegSize) return false;
  if (third < 0 || third > 255 || second < 0 || second > 255) return false;
  out->page = addr;
  out->third = static_cast<int16_t>(third);
  out->second = static_cast<int16_t>(second);
  return true;
}

void TrafMon::sortPages(acctpage *pages, int n) {
  for (int j = 0; j + 1 < n; ++j) {
    for (int k = j + 1; k < n; ++k) {
      int kj = pages[j].second * 256 + pages[j].third;
      int kk = pages[k].second * 256 + pages[k].third;
      if (kk < kj) {
        acctpage t = pages[j];
        pages[j] = pages[k];
        pages[k] = t;
      }
    }
  }
}

void TrafMon::getaccountaddr() {
  memset(account_data, 0, sizeof account_data);
  Paths::Buf path;
  s_.paths.kernel("/proc/vkproc/account", path);
  LineReader in(path);
  if (!in.ok()) {
    printf("open %s failed\n", path);
    return;
  }
  char line[128];
  bool cut;
  int n = 0;
  while (n < kMaxPages && in.next(line, sizeof line, &cut)) {
    if (cut) continue;  // longer than the kernel ever writes: not a page line
    if (parseAccountLine(line, &account_data[n])) ++n;
  }
  sortPages(account_data, n);
}

void TrafMon::unmapPages() {
  for (int i = 0; i < kMaxPages && mapaddr[i].page; ++i)
    munmap(const_cast<acctentry *>(mapped[i]), kAcctPageSize);
  memset(mapped, 0, sizeof mapped);
}

void TrafMon::getmapaddr() {
  if (mapflag == 1) {
    mapflag = 0;
    unmapPages();
  }
  acctpage before[kMaxPages + 1];
  memcpy(before, mapaddr, sizeof before);
  memset(mapaddr, 0, sizeof mapaddr);
  memset(mapfresh, 0, sizeof mapfresh);
  getaccountaddr();

  // A regular file standing in for /dev/mem must reach past the page, or
  // reading the mapping would end the daemon with SIGBUS.
  struct stat st;
  bool regular = memfd >= 0 && fstat(memfd, &st) == 0 && S_ISREG(st.st_mode);
  int m = 0;
  for (int i = 0; i < kMaxPages && account_data[i].page; ++i) {
    off_t off = static_cast<off_t>(account_data[i].page - kKsegBase);
    void *p = MAP_FAILED;
    if (memfd >= 0 && !(regular && off + static_cast<off_t>(kAcctPageSize) > st.st_size))
      p = mmap(nullptr, kAcctPageSize, PROT_READ, MAP_SHARED, memfd, off);
    if (p == MAP_FAILED) {
      printf("mmap error\n");
      continue;  // a page that is not mapped is never read
    }
    mapaddr[m] = account_data[i];
    mapped[m] = static_cast<const acctentry *>(p);
    // The same page of the same block mapped last time too: its hosts are in
    // the previous snapshot. Any other page is new to the rates.
    mapfresh[m] = true;
    for (int k = 0; k < kMaxPages && before[k].page; ++k)
      if (memcmp(&before[k], &account_data[i], sizeof(acctpage)) == 0) mapfresh[m] = false;
    ++m;
  }
  mapflag = 1;
}

int TrafMon::getstatistics(acctstat *snap) {
  int n = 0;
  uint32_t net = ntohl(lanip & lanmask);
  for (int pg = 0; pg < kMaxPages && mapaddr[pg].page; ++pg) {
    // The kernel updates the page at any time: take every value from one copy.
    memcpy(pagecopy_, mapped[pg], kAcctPageSize);
    uint32_t block = net | static_cast<uint32_t>(mapaddr[pg].second) << 16 |
                     static_cast<uint32_t>(mapaddr[pg].third) << 8;
    for (int i = 0; i < kAcctEntries; ++i) {
      const acctentry &e = pagecopy_[i];
      if (e.psent == 0) continue;
      if (n == kMaxHosts) return n;  // the host table has no room for more
      acctstat &r = snap[n++];
      r.addr = htonl(block | static_cast<uint32_t>(i));
      r.psent = e.psent;
      r.bsent = e.bsent;
      r.precv = e.precv;
      r.brecv = e.brecv;
    }
  }
  return n;
}

void TrafMon::calcspeed(const acctstat *old, int nold, const acctstat *snap, int n, hoststat *out) {
  int j = 0;
  for (int i = 0; i < n; ++i) {
    const acctstat &s = snap[i];
    hoststat &h = out[i];
    h.addr = s.addr;
    h.psent = s.psent;
    h.precv = s.precv;
    h.bsent = s.bsent;
    h.brecv = s.brecv;
    uint32_t a = ntohl(s.addr);
    while (j < nold && ntohl(old[j].addr) < a) ++j;  // hosts gone since the last cycle
    if (j < nold && old[j].addr == s.addr) {
      h.upspeed = s.bsent - old[j].bsent;  // modulo 2^32
      h.downspeed = s.brecv - old[j].brecv;
      ++j;
    } else {  // new in this cycle
      h.upspeed = s.bsent;
      h.downspeed = s.brecv;
    }
  }
}

void TrafMon::zeroFreshRates(hoststat *out, int n) {
  uint32_t net = ntohl(lanip & lanmask);
  for (int pg = 0; pg < kMaxPages && mapaddr[pg].page; ++pg) {
    if (!mapfresh[pg]) continue;
    mapfresh[pg] = false;
    // The block's addresses as getstatistics makes them.
    uint32_t block = net | static_cast<uint32_t>(mapaddr[pg].second) << 16 |
                     static_cast<uint32_t>(mapaddr[pg].third) << 8;
    for (int i = 0; i < n; ++i)
      if ((ntohl(out[i].addr) & 0xffffff00u) == (block & 0xffffff00u)) out[i].upspeed = out[i].downspeed = 0;
  }
}

}  // namespace rc
