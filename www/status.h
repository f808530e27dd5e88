// The status page's CGI (/cgi-bin/status): one JSON object with what the
// router publishes, read once and never written:
//
//   {"count":N,"next":N,"records":[the last 20 log records],
//    "hosts":...,"system":...,            as routerstat --json (tools/statjson.h)
//    "wan":{"type":N,"ifname":"..","addr":"..","gateway":"..","dns":["..", ...]},
//    "leases":[{"addr":"..","mac":"..","name":"..","expires":SECONDS}, ...],
//    "urls":["YYYY-mm-dd HH:MM:SS;address;name", ... the last 10 lines]}
//
// The WAN type is the store's wan_connecttype, its interface ppp0 for the
// PPP types (3, 5, 6), else eth2.2; its address from the interface, the
// gateway from the default route in /proc/net/route (the interface's peer
// for a point-to-point link without one), the DNS servers from
// /etc/resolv.conf. The leases are udhcpd's lease file /etc/udhcpd.leases
// as udhcpd last wrote it (udhcpd writes it from time to time and on
// SIGUSR1); "expires" is the time left, 0 when expired. The URL lines are
// the end of /var/url.log, read under a shared fcntl lock (kinwatch writes
// under a write lock).
//
// Every file is read through a fixed buffer and every text goes through
// json_string, so no file or segment content can break the output.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "common/cfm.h"
#include "common/paths.h"
#include "common/abi/syslog_ring.h"
#include "common/abi/trafstat.h"

namespace rc {

constexpr int kStatusLogRecords = 20;
constexpr int kStatusUrlLines = 10;
constexpr int kStatusMaxLeases = 256;

// An interface's address, or with peer its point-to-point peer (network
// byte order); false when it has none.
using IfAddrQuery = bool (*)(const char *ifname, bool peer, uint32_t *addr);
bool if_addr(const char *ifname, bool peer, uint32_t *addr);  // SIOCGIFADDR / SIOCGIFDSTADDR

struct WanState {
  int type = 0;
  char ifname[16] = "";
  char addr[16] = "";     // "" without an address
  char gateway[16] = "";  // "" without a default route
  char dns[3][24] = {};   // "" when fewer servers
};

void read_wan(ConfigStore &cfm, const Paths &paths, IfAddrQuery query, WanState &wan);

// What the segments held; a null pointer is a segment that does not exist.
struct Segments {
  const syslog_ring *ring;
  const hosttable *hosts;
  const sysstat *sys;
};

// The whole JSON object and a newline. now is the time leases are
// measured against.
void status_json(FILE *out, const Segments &seg, const WanState &wan, const Paths &paths,
                 time_t now);

// The parts, for the tests.
void json_wan(FILE *out, const WanState &wan);
void json_leases(FILE *out, const Paths &paths, time_t now);
void json_urls(FILE *out, const Paths &paths, int lines);

}  // namespace rc
