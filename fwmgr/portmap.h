// Port forwarding (virtual servers), DMZ and ALG blocking: the state each
// keeps and its steps (portmap.cpp).
#pragma once
#include <cstdint>

namespace rc {

class FwMgr;

struct PortEntry {
  int32_t enable;    // 1 = active
  int32_t wanport;   // 1..65535
  int32_t lanport;   // 1..65535
  int32_t protocol;  // 1 TCP, 2 UDP, 3 both
  char host[16];     // LAN host, a checked IPv4 address
};

// Port forwarding: the entries of "virtualser_list".
struct PortMap {
  static constexpr int kMaxPorts = 32;

  PortEntry portinfo[kMaxPorts] = {};
  int portmnum = 0;

  int readportmapconfig(FwMgr &m);
  int loadportmapconfig(FwMgr &m);
  int unloadportmapconfig(FwMgr &m);
};

struct Dmz {
  int dmzen = 0;
  char dmzip[16] = "";

  int readdmzconfig(FwMgr &m);
  int loaddmzconfig(FwMgr &m);
  int unloaddmzconfig(FwMgr &m);
};

// ALG blocking: position n of algMask "0" blocks the n-th protocol.
struct Alg {
  char algMask[8] = "";

  void readalgconfig(FwMgr &m);
  int loadalgconfig(FwMgr &m);
};

}  // namespace rc
