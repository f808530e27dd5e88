// The traffic monitor's published records and the router kernel's
// accounting records it reads. All integers are 32-bit native (little-endian
// on the router) unless said otherwise; the sizes are the same on the router
// (32-bit MIPS) and on a 64-bit PC, which the static_asserts hold.
//
//   segment 201 (host table): int32 N, then 1024 hoststat records; 53252 bytes
//   segment 206 (system figures): one sysstat; 16 bytes
//
// Readers (the web server, routerstat) take the segments without a lock: the
// count is written before the records, so a record may be read half
// rewritten.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace rc {

constexpr key_t kTrafKey = 201;     // queue, semaphore and host table segment
constexpr key_t kSysStatKey = 206;  // system figures segment
constexpr int kMaxHosts = 1024;
constexpr char kNoMac[] = "00:00:00:00:00:00";

struct hoststat {
  uint32_t addr;    // network byte order
  uint32_t psent;   // packets sent by the host, cumulative
  uint32_t precv;   // packets received
  uint32_t bsent;   // bytes sent
  uint32_t brecv;   // bytes received
  uint32_t upspeed;    // bytes sent during the last cycle
  uint32_t downspeed;  // bytes received during the last cycle
  uint32_t conns;      // current connections
  char mac[18];        // "xx:xx:xx:xx:xx:xx" and NUL
  uint16_t pad;        // zero, never written
};
static_assert(sizeof(hoststat) == 52, "hoststat is 52 bytes");
static_assert(offsetof(hoststat, psent) == 4 && offsetof(hoststat, precv) == 8, "packet counters");
static_assert(offsetof(hoststat, bsent) == 12 && offsetof(hoststat, brecv) == 16, "byte counters");
static_assert(offsetof(hoststat, upspeed) == 20 && offsetof(hoststat, downspeed) == 24, "rates");
static_assert(offsetof(hoststat, conns) == 28 && offsetof(hoststat, mac) == 32, "links and MAC");

struct hosttable {
  int32_t n;
  hoststat host[kMaxHosts];
};
static_assert(sizeof(hosttable) == 53252, "segment 201 is 53252 bytes");
static_assert(offsetof(hosttable, host) == 4, "records from offset 4");

struct sysstat {
  int32_t cpupercent;
  int32_t mempercent;
  uint32_t wanupspeed;
  uint32_t wandownspeed;
};
static_assert(sizeof(sysstat) == 16, "segment 206 is 16 bytes");
static_assert(offsetof(sysstat, mempercent) == 4 && offsetof(sysstat, wanupspeed) == 8 &&
                  offsetof(sysstat, wandownspeed) == 12,
              "system figures in order");

// One entry of a kernel accounting page (256 entries per 4096-byte page,
// entry i for the host whose last octet is i in the page's /24 block).
struct acctentry {
  uint32_t psent;  // word 0: zero means no host
  uint32_t bsent;
  uint32_t precv;
  uint32_t brecv;
};
static_assert(sizeof(acctentry) == 16, "accounting entry is 16 bytes");
constexpr size_t kAcctPageSize = 4096;
constexpr int kAcctEntries = 256;
static_assert(kAcctEntries * sizeof(acctentry) == kAcctPageSize, "a page holds 256 entries");

// Kernel accounting pages lie in the directly mapped kernel segment; their
// offset in /dev/mem is the address minus its base.
constexpr uint32_t kKsegBase = 0x80000000u;
constexpr uint32_t kKsegSize = 0x20000000u;

}  // namespace rc
