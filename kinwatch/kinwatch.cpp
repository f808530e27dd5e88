// kinwatch start: the rule lines, the logger's passes over /proc/dns_log2.
#include "kinwatch/kinwatch.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"

namespace rc {

namespace {
constexpr const char *kDnsLog = "/proc/dns_log2";

// The line of a record is put together by hand: snprintf and inet_ntop cost
// several times more than the rest of a record.
char *put_text(char *p, const char *s) {
  while (*s) *p++ = *s++;
  return p;
}
// The address (network byte order) as a dotted quad.
char *put_ipv4(char *p, uint32_t ip) {
  const unsigned char *b = reinterpret_cast<const unsigned char *>(&ip);
  for (int i = 0; i < 4; ++i) {
    unsigned v = b[i];
    if (i) *p++ = '.';
    if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
    if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
    *p++ = static_cast<char>('0' + v % 10);
  }
  return p;
}
}  // namespace

KinWatch::KinWatch(const Services &s, void (*detach)(), volatile sig_atomic_t *run)
    : s_(s), detach_(detach), run_(run) {}

int KinWatch::kinwatch_cmd() {
  char value[8] = "";
  s_.cfm.Init_vxm810_cfm();
  s_.cfm.GetCfmValue("fmg_enable_manage", value);
  s_.cfm.CloseCfm();
  Shell &sh = s_.sh;
  sh.doSystemCmd("iptables -t mangle -D PREROUTING -p udp --dport 53 -i br0 -j ULOG");
  if (atoi(value) == 1) {
    sh.doSystemCmd("iptables -t mangle -A PREROUTING -p udp --dport 53 -i br0 -j ULOG");
    return kinwatch_proc();
  }
  sh.doSystemCmd("killall -9 kinwatch");
  return 0;
}

int KinWatch::kinwatch_proc() {
  memset(buf_, 0, sizeof buf_);
  detach_();
  if (createLogFile() < 0) {
    puts("can not create LogFile");
    return 0;
  }
  // A pass every 5 s, the first 5 s after the start; SIGTERM during a wait
  // ends the logger without another pass.
  if (*run_) s_.clock.sleepSeconds(kPassSeconds);
  if (*run_) run_sleep_loop(s_.ipc, s_.clock, -1, *this, kPassSeconds, run_);
  // Lines still waiting in urlRecord are not written.
  return 0;
}

void KinWatch::pass() {
  Paths::Buf path;
  int fd = open(s_.paths.kernel(kDnsLog, path), O_RDONLY);
  if (fd < 0) return;
  ssize_t n;
  do {
    n = read(fd, buf_, sizeof buf_);
  } while (n < 0 && errno == EINTR && *run_);
  close(fd);
  if (n <= 0) return;
  takeRecords(buf_, static_cast<size_t>(n));
}

void KinWatch::takeRecords(const unsigned char *buf, size_t len) {
  char name[kNameSize];
  for (size_t off = 0; off + kRecordSize <= len; off += kRecordSize) {
    const unsigned char *rec = buf + off;
    if (!record_name(rec, name)) continue;
    uint32_t ip;
    memcpy(&ip, rec + offsetof(dnslog_record, addr), sizeof ip);
    if (ip != lastIp) {
      lastIp = ip;
      logRecord(ip, name);
    } else if (diffUlr(name, lastUrl) == 1) {
      logRecord(ip, name);
    }
  }
}

void KinWatch::logRecord(uint32_t ip, const char *name) {
  bcopy_text(lastUrl, name);
  // "time;address;name\n" within the slot: a name too long for it keeps its
  // right end (the site), so the line still ends in its newline. The time
  // (19 characters) and the address (at most 15) always fit.
  char *line = urlRecord[slot];
  char *p = put_text(line, GetTime());
  *p++ = ';';
  p = put_ipv4(p, ip);
  *p++ = ';';
  size_t room = kSlotSize - static_cast<size_t>(p - line) - 2;  // newline and NUL
  size_t nlen = strlen(name);
  const char *tail = nlen > room ? name + (nlen - room) : name;
  p = put_text(p, tail);
  *p++ = '\n';
  *p = '\0';
  if (++slot == kSlots) {
    writeTofile(kSlots, urlRecord);
    slot = 0;
  }
}

}  // namespace rc
