// arpguard: the setting, the announcement and its schedule.
#include "arpguard/arpguard.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/netutil.h"

namespace rc {

namespace {
constexpr const char *kLan = "br0";

void put16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
}  // namespace

void getarppacket(const uint8_t ip[4], const uint8_t mac[6], uint8_t frame[kArpFrameSize], int *len) {
  memset(frame, 0, kArpFrameSize);
  memset(frame, 0xff, 6);       // broadcast
  memcpy(frame + 6, mac, 6);
  put16(frame + 12, 0x0806);    // ARP
  put16(frame + 14, 1);         // Ethernet
  put16(frame + 16, 0x0800);    // IPv4
  frame[18] = 6;
  frame[19] = 4;
  put16(frame + 20, 1);         // request
  memcpy(frame + 22, mac, 6);
  memcpy(frame + 28, ip, 4);
  memcpy(frame + 32, mac, 6);
  memcpy(frame + 38, ip, 4);
  *len = static_cast<int>(kArpFrameSize);
}

int parse_arp_defence(const char *value, int *flag, int *interval) {
  const char *c1 = strchr(value, ',');
  const char *c2 = c1 ? strchr(c1 + 1, ',') : nullptr;
  const char *c3 = c2 ? strchr(c2 + 1, ',') : nullptr;
  if (!c3) return 0;
  *flag = atoi(c2 + 1);  // atoi stops at the third comma
  *interval = atoi(c3 + 1);
  return 1;
}

void ArpGuard::lookup() {
  bool macOk = link_.getIfMac(kLan, mac) == 0;
  static const uint8_t zero[6] = {};
  macOk = macOk && memcmp(mac, zero, 6) != 0;
  bool ipOk = link_.getIfIp(kLan, ip) == 0;
  haveAddr = macOk && ipOk;
  if (!haveAddr)
    printf("arpguard: %s has no %s; nothing is sent until command 1 finds it\n", kLan,
           !macOk ? "MAC address" : "IPv4 address");
  getarppacket(ip, mac, frame, &framelen);
}

bool ArpGuard::start() {
  if (link_.open() < 0) {
    puts("socket error");
    return false;
  }
  lookup();
  if (link_.bindDevice(kLan) < 0) {
    puts("setsockopt error");
    link_.close();
    return false;
  }
  readarpconfig();
  return true;
}

int ArpGuard::readarpconfig() {
  char value[64] = "";
  cfm_.Init_vxm810_cfm();
  cfm_.GetCfmValue("arp_defence", value);
  cfm_.CloseCfm();
  char seen[kShownSize];
  if (!parse_arp_defence(value, &arpflag, &arptime))
    printf("arpguard: arp_defence \"%s\" has fewer than four fields; settings kept\n", shown(value, seen));
  return 1;
}

void ArpGuard::onCommand(long cmd) {
  if (cmd != 1) return;
  readarpconfig();
  // The addresses read at start; looked up again only when they were missing.
  if (!haveAddr)
    lookup();
  else
    getarppacket(ip, mac, frame, &framelen);
}

void ArpGuard::onTick() {
  ++passes;
  if (arpflag != 1 || passes < arptime || !haveAddr) return;
  passes = 0;
  if (link_.send(frame, static_cast<size_t>(framelen)) < 0) puts("sendto error");
}

}  // namespace rc
