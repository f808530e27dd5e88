// The ARP table (rebuilt from /proc/net/arp every 64th cycle) and the join
// that gives each host record its MAC text and connection count.
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "common/linereader.h"
#include "trafmon/trafmon.h"

namespace rc {

void TrafMon::getarpinfo() {
  parp.reset();
  Paths::Buf path;
  s_.paths.sys("/proc/net/arp", path);
  LineReader in(path);
  if (!in.ok()) {
    printf("open %s failed\n", "/proc/net/arp");
    return;
  }
  char line[256];
  in.next(line, sizeof line);  // the column headings
  while (in.next(line, sizeof line)) {
    size_t len = strlen(line);
    if (len < 9) continue;
    if (line[len - 1] == '\r') line[--len] = '\0';
    char *space = strchr(line, ' ');
    char *colon = strchr(line, ':');
    if (!space || !colon) continue;
    // The MAC text starts two characters before the first colon and must lie
    // wholly inside the line.
    if (colon - line < 2 || static_cast<size_t>(colon - line) - 2 + 17 > len) continue;
    *space = '\0';
    struct in_addr a;
    if (inet_pton(AF_INET, line, &a) != 1) continue;
    arpnode *e = parp.get(a.s_addr);
    if (!e) continue;  // the pool is used up
    memcpy(e->mac, colon - 2, 17);
    e->mac[17] = '\0';
  }
}

void TrafMon::getarplink(hoststat *recs, int n) {
  for (int i = 0; i < n; ++i) {
    hoststat &h = recs[i];
    const arpnode *a = parp.find(h.addr);
    memcpy(h.mac, a ? a->mac : kNoMac, sizeof h.mac);
    const linknode *l = plink.find(h.addr);
    h.conns = l ? l->count : 0;
  }
}

}  // namespace rc
