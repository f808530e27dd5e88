#include "www/status.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/linereader.h"
#include "common/netutil.h"
#include "tools/statjson.h"

namespace rc {

bool if_addr(const char *ifname, bool peer, uint32_t *addr) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  struct ifreq ifr;
  memset(&ifr, 0, sizeof ifr);
  bcopy_text(ifr.ifr_name, IFNAMSIZ, ifname);
  ifr.ifr_addr.sa_family = AF_INET;
  bool ok = ioctl(fd, peer ? SIOCGIFDSTADDR : SIOCGIFADDR, &ifr) == 0;
  close(fd);
  if (!ok) return false;
  struct sockaddr_in sin;
  memcpy(&sin, peer ? &ifr.ifr_dstaddr : &ifr.ifr_addr, sizeof sin);
  *addr = sin.sin_addr.s_addr;
  return sin.sin_addr.s_addr != 0;
}

namespace {

void dotted(uint32_t a, char (&out)[16]) { inet_ntop(AF_INET, &a, out, sizeof out); }

// The default route of /proc/net/route ("Iface Destination Gateway Flags
// ... Mask ..."; addresses as hexadecimal of the network-order word): its
// interface and gateway. False when there is none.
bool defaultRoute(const Paths &paths, char (&ifname)[16], uint32_t *gateway) {
  Paths::Buf path;
  LineReader in(paths.sys("/proc/net/route", path));
  char line[256];
  while (in.next(line, sizeof line)) {
    char name[16], dest[9], gw[9], mask[9];
    unsigned flags;
    if (sscanf(line, "%15s %8s %8s %x %*s %*s %*s %8s", name, dest, gw, &flags, mask) != 5) continue;
    if (!(flags & 1) || strtoul(dest, nullptr, 16) != 0 || strtoul(mask, nullptr, 16) != 0) continue;
    bcopy_text(ifname, name);
    *gateway = static_cast<uint32_t>(strtoul(gw, nullptr, 16));
    return true;
  }
  return false;
}

uint32_t be32(const unsigned char *p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Reads up to size bytes from fd at offset; the count read.
size_t readAt(int fd, char *buf, size_t size, off_t offset) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = pread(fd, buf + got, size - got, offset + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

}  // namespace

void read_wan(ConfigStore &cfm, const Paths &paths, IfAddrQuery query, WanState &wan) {
  wan = WanState();
  char type[8];
  cfm.Init_vxm810_cfm();
  cfm.GetCfmValue("wan_connecttype", type);
  cfm.CloseCfm();
  wan.type = atoi(type);
  bcopy_text(wan.ifname, wan.type == 3 || wan.type == 5 || wan.type == 6 ? "ppp0" : "eth2.2");
  uint32_t a = 0;
  if (query(wan.ifname, false, &a)) dotted(a, wan.addr);
  char routeIf[16];
  uint32_t gw = 0;
  if (defaultRoute(paths, routeIf, &gw)) {
    if (gw == 0) query(routeIf, true, &gw);  // a point-to-point link: its peer
    if (gw != 0) dotted(gw, wan.gateway);
  }
  Paths::Buf resolv;
  paths.sys("/etc/resolv.conf", resolv);
  for (int i = 0; i < 3; ++i) getDns(i + 1, wan.dns[i], sizeof wan.dns[i], resolv);
}

void json_wan(FILE *out, const WanState &wan) {
  fprintf(out, "\"wan\":{\"type\":%d,\"ifname\":", wan.type);
  json_string(out, wan.ifname, sizeof wan.ifname);
  fputs(",\"addr\":", out);
  json_string(out, wan.addr, sizeof wan.addr);
  fputs(",\"gateway\":", out);
  json_string(out, wan.gateway, sizeof wan.gateway);
  fputs(",\"dns\":[", out);
  bool any = false;
  for (const auto &d : wan.dns) {
    if (!d[0]) continue;
    if (any) putc(',', out);
    json_string(out, d, sizeof d);
    any = true;
  }
  fputs("]}", out);
}

// udhcpd's lease file: the 64-bit big-endian time it was written, then
// 36-byte records: the seconds the lease had left then (big-endian 32-bit),
// the address (network order), the MAC (6 bytes), the client's host name
// (20 bytes, NUL-padded or not terminated), 2 bytes of padding.
void json_leases(FILE *out, const Paths &paths, time_t now) {
  constexpr size_t kHead = 8, kRecord = 36;
  static char buf[kHead + kRecord * kStatusMaxLeases];
  fputs("\"leases\":[", out);
  Paths::Buf path;
  int fd = open(paths.sys("/etc/udhcpd.leases", path), O_RDONLY | O_CLOEXEC);
  size_t got = fd >= 0 ? readAt(fd, buf, sizeof buf, 0) : 0;
  if (fd >= 0) close(fd);
  if (got >= kHead) {
    const unsigned char *u = reinterpret_cast<const unsigned char *>(buf);
    int64_t written = static_cast<int64_t>((uint64_t(be32(u)) << 32) | be32(u + 4));
    // Seconds since it was written: 0 for a time ahead of now, at most now
    // for a time before the epoch.
    int64_t since = written >= now ? 0 : static_cast<int64_t>(now) - (written < 0 ? 0 : written);
    bool any = false;
    for (size_t off = kHead; off + kRecord <= got; off += kRecord) {
      const unsigned char *r = u + off;
      int64_t left = int64_t(be32(r)) - since;
      uint32_t nip;
      memcpy(&nip, r + 4, 4);
      char addr[16], mac[18], name[21];
      dotted(nip, addr);
      snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", r[8], r[9], r[10], r[11], r[12],
               r[13]);
      memcpy(name, r + 14, 20);
      name[20] = '\0';
      fprintf(out, "%s{\"addr\":\"%s\",\"mac\":\"%s\",\"name\":", any ? "," : "", addr, mac);
      json_string(out, name, sizeof name);
      fprintf(out, ",\"expires\":%lld}", static_cast<long long>(left > 0 ? left : 0));
      any = true;
    }
  }
  putc(']', out);
}

// The last lines of /var/url.log: its last 4 KiB, without the counter line
// at its start and without a line cut by the window.
void json_urls(FILE *out, const Paths &paths, int lines) {
  static char buf[4096];
  fputs("\"urls\":[", out);
  Paths::Buf path;
  int fd = open(paths.sys("/var/url.log", path), O_RDONLY | O_CLOEXEC);
  size_t got = 0, start = 0;
  if (fd >= 0) {
    // A shared lock against kinwatch's write lock, waited for at most
    // about half a second; the file is read all the same after that.
    struct flock lk;
    memset(&lk, 0, sizeof lk);
    lk.l_type = F_RDLCK;
    lk.l_whence = SEEK_SET;
    for (int i = 0; i < 50 && fcntl(fd, F_SETLK, &lk) < 0 && (errno == EACCES || errno == EAGAIN);
         ++i)
      usleep(10000);
    struct stat st;
    off_t size = fstat(fd, &st) == 0 ? st.st_size : 0;
    off_t from = size > static_cast<off_t>(sizeof buf) ? size - static_cast<off_t>(sizeof buf) : 0;
    got = readAt(fd, buf, sizeof buf, from);
    close(fd);  // releases the lock
    // Skip the first (counter or cut) line.
    while (start < got && buf[start] != '\n') ++start;
    if (start < got) ++start;
  }
  // The last `lines` non-empty lines (begin, end) in a small circle.
  constexpr int kMax = 64;
  if (lines > kMax) lines = kMax;
  size_t from[kMax], to[kMax];
  int held = 0, next = 0;
  for (size_t p = start; p < got && lines > 0;) {
    size_t e = p;
    while (e < got && buf[e] != '\n') ++e;
    if (e > p) {
      from[next] = p;
      to[next] = e;
      next = (next + 1) % lines;
      if (held < lines) ++held;
    }
    p = e + 1;
  }
  for (int i = 0; i < held; ++i) {
    int k = (next - held + i + lines) % lines;
    if (i) putc(',', out);
    json_string(out, buf + from[k], to[k] - from[k]);
  }
  putc(']', out);
}

void status_json(FILE *out, const Segments &seg, const WanState &wan, const Paths &paths,
                 time_t now) {
  putc('{', out);
  iconv_t cd = seg.ring ? iconv_open("UTF-8", "GBK") : reinterpret_cast<iconv_t>(-1);
  if (cd != reinterpret_cast<iconv_t>(-1)) {
    json_log(out, *seg.ring, cd, kStatusLogRecords);
    iconv_close(cd);
  } else {  // no ring (netmgr not running), or no GBK converter
    fputs("\"count\":0,\"next\":0,\"records\":[]", out);
  }
  putc(',', out);
  json_hosts(out, seg.hosts);
  putc(',', out);
  json_system(out, seg.sys);
  putc(',', out);
  json_wan(out, wan);
  putc(',', out);
  json_leases(out, paths, now);
  putc(',', out);
  json_urls(out, paths, kStatusUrlLines);
  fputs("}\n", out);
}

}  // namespace rc
