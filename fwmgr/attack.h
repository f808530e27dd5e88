// Attack defence and application blocking: the flags of
// "lan_attack_defence", the QQ and MSN source lists and their steps
// (attack.cpp).
#pragma once

namespace rc {

class FwMgr;

struct Attack {
  int attackflags = 0, ipscan = 0, portscan = 0, icmpflood = 0, udpflood = 0, synflood = 0;
  int wanping = 0, lanping = 0;
  int ActiveX = 0, Javascript = 0, Sock4 = 0, Sock5 = 0, Httpproxy = 0;
  int QQ = 0, MSN = 0, BT = 0, eDonkey = 0, Virus = 0;
  char qqip[256] = "", msnip[256] = "";  // "~"-separated checked addresses

  int readattackconfig(FwMgr &m);
  int loadattackconfig(FwMgr &m);
  int unloadattackconfig(FwMgr &m);
  void wanPingRule(FwMgr &m, char op);  // 'A' or 'D', only when wanping is 1
};

}  // namespace rc
