// The small services' state and steps (services.cpp): LAN and WAN
// management access, the DDNS client, the DNS override and proxy rule.
// The connection limits and static routes keep no state: they are FwMgr's
// start-up steps.
#pragma once

namespace rc {

class FwMgr;
struct FwFeature;

// The management addresses are an address or a network ("203.0.113.0/24",
// up to "255.255.255.255/32"), or empty. A refused value sets the flag
// beside it and never counts as "any": no WAN management rule, and the
// LAN pages admit no host (or keep the rules in force, on command 14).
struct WanWeb {
  int wanweben = 0;
  char wanwebip[20] = "";
  int wanwebipbad = 0;
  int wanwebport = 0;

  int readwanwebconfig(FwMgr &m);
  void loadwanwebrule(FwMgr &m);
  void unloadwanwebrule(FwMgr &m);
};

struct LanWeb {
  int webaccessen = 0;
  char lanwebip[20] = "";
  int lanwebipbad = 0;
  int weblistenport = 80;

  int readwebaccessconfig(FwMgr &m);
  void loadlanwebrules(FwMgr &m);
  void cmdLanWeb(FwMgr &m, const FwFeature &self);  // command 14
};

struct Ddns {
  int ddnsen = 0, ddnstype = 0;
  char ddnsuser[32] = "", ddnspwd[32] = "", ddnsdomain[64] = "";

  int readddnsconfig(FwMgr &m);
  int loadddnsconfig(FwMgr &m);
  int unloadddnsconfig(FwMgr &m);
  void clearDdnsStatus(FwMgr &m);  // "echo 0 > /etc/ddns" before command 17
};

struct Dns {
  char pridns[16] = "";  // the server the DNS proxy rule points at

  void dnsOverride(FwMgr &m);  // with the store open
  void dnsRestore(FwMgr &m);
  void readdnsconfig(FwMgr &m);  // command 18: dnsOverride or dnsRestore by dnsen
  int loaddnsproxy(FwMgr &m);
  int unloaddnsproxy(FwMgr &m);
};

}  // namespace rc
