/* The traffic monitor's published records: trafmon writes them; routerstat,
 * the status CGI and the web server read them. All integers are 32-bit
 * native (little-endian on the router) unless said otherwise.
 *
 *   segment 201 (host table): int32 N, then 1024 hoststat records; 53252 bytes
 *   segment 206 (system figures): one sysstat; 16 bytes
 *
 * Readers take the segments without a lock: the count is written before the
 * records, so a record may be read half rewritten. */
#pragma once
#include <sys/types.h>

#include "common/abi/abi.h"

RC_ABI_BEGIN

RC_ABI_CONST(key_t, kTrafKey, 201)    /* queue, semaphore and host table segment */
RC_ABI_CONST(key_t, kSysStatKey, 206) /* system figures segment */
RC_ABI_CONST(int, kMaxHosts, 1024)

typedef struct hoststat {
  uint32_t addr;      /* network byte order */
  uint32_t psent;     /* packets sent by the host, cumulative */
  uint32_t precv;     /* packets received */
  uint32_t bsent;     /* bytes sent */
  uint32_t brecv;     /* bytes received */
  uint32_t upspeed;   /* bytes sent during the last cycle */
  uint32_t downspeed; /* bytes received during the last cycle */
  uint32_t conns;     /* current connections */
  char mac[18];       /* "xx:xx:xx:xx:xx:xx" and NUL; "00:00:00:00:00:00" when unknown */
  uint16_t pad;       /* zero, never written */
} hoststat;
RC_ABI_ASSERT(sizeof(hoststat) == 52, "hoststat is 52 bytes");
RC_ABI_ASSERT(offsetof(hoststat, psent) == 4 && offsetof(hoststat, precv) == 8, "packet counters");
RC_ABI_ASSERT(offsetof(hoststat, bsent) == 12 && offsetof(hoststat, brecv) == 16, "byte counters");
RC_ABI_ASSERT(offsetof(hoststat, upspeed) == 20 && offsetof(hoststat, downspeed) == 24, "rates");
RC_ABI_ASSERT(offsetof(hoststat, conns) == 28 && offsetof(hoststat, mac) == 32, "links and MAC");

typedef struct hosttable {
  int32_t n;
  hoststat host[kMaxHosts];
} hosttable;
RC_ABI_ASSERT(sizeof(hosttable) == 53252, "segment 201 is 53252 bytes");
RC_ABI_ASSERT(offsetof(hosttable, host) == 4, "records from offset 4");

typedef struct sysstat {
  int32_t cpupercent;
  int32_t mempercent;
  uint32_t wanupspeed;
  uint32_t wandownspeed;
} sysstat;
RC_ABI_ASSERT(sizeof(sysstat) == 16, "segment 206 is 16 bytes");
RC_ABI_ASSERT(offsetof(sysstat, mempercent) == 4 && offsetof(sysstat, wanupspeed) == 8 &&
                  offsetof(sysstat, wandownspeed) == 12,
              "system figures in order");

RC_ABI_END
