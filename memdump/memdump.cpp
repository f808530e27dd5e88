#include "memdump/memdump.h"

#include <cerrno>
#include <cstring>

namespace rc {

int memdump_scan(FILE *in, FILE *out, FILE *err, int chunks) {
  // The last three bytes of the previous chunk stay in front of the new one,
  // so a marker that starts there is still found.
  constexpr size_t kCarry = sizeof kMarker - 1;
  unsigned char buf[kCarry + kChunkSize];
  size_t have = 0;     // valid bytes in buf
  long base = 0;       // physical address of buf[0]
  int found = 0;
  for (int i = 0; i < chunks; ++i) {
    size_t n = fread(buf + have, 1, kChunkSize, in);
    int readerr = n < kChunkSize && ferror(in) ? (errno ? errno : EIO) : 0;
    have += n;
    for (size_t p = 0; p + sizeof kMarker <= have; ++p) {
      if (memcmp(buf + p, kMarker, sizeof kMarker) != 0) continue;
      long addr = base + static_cast<long>(p);
      fprintf(out, "i=%ld j=%ld mem=%lx\n", addr / static_cast<long>(kChunkSize),
              addr % static_cast<long>(kChunkSize), static_cast<unsigned long>(addr));
      ++found;
    }
    if (readerr) {
      // Not the end of the memory: what lies behind was never searched.
      long addr = base + static_cast<long>(have);
      fprintf(err, "memdump: read error at mem=%lx (i=%ld j=%ld): %s\n",
              static_cast<unsigned long>(addr), addr / static_cast<long>(kChunkSize),
              addr % static_cast<long>(kChunkSize), strerror(readerr));
      return -1;
    }
    if (n < kChunkSize) break;  // the end of the memory
    size_t keep = have < kCarry ? have : kCarry;
    memmove(buf, buf + have - keep, keep);
    base += static_cast<long>(have - keep);
    have = keep;
  }
  return found;
}

int memdump_main(const char *path, FILE *out, FILE *err) {
  FILE *in = fopen(path, "rb");
  if (!in) {
    fprintf(out, "open /dev/mem error\n");
    return 0;
  }
  int found = memdump_scan(in, out, err);
  fclose(in);
  if (found < 0) return 1;
  fprintf(out, "\n");
  return 0;
}

}  // namespace rc
