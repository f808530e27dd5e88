// IP-MAC binding: the pairs of LAN address and MAC and their steps
// (ipmacbind.cpp).
#pragma once
#include <cstdint>

namespace rc {

class FwMgr;

struct IpMacPair {
  char ip[16];   // a checked IPv4 address
  char mac[20];  // a checked MAC address
};

struct IpMacBind {
  static constexpr int kMaxIpMac = 256;

  IpMacPair ipmacbindinfo[kMaxIpMac] = {};
  int ipmacbindnum = 0;
  int ipmacbindother = 0;
  char pairlist[kMaxIpMac * 36 + 1] = "";  // the pairs as the targets take them

  int readipmacbindconfig(FwMgr &m);
  int loadipmacbindconfig(FwMgr &m, int add);  // 1 adds the rules, anything else removes them
};

}  // namespace rc
