// fwmgr start-up and the restart flush, the dispatch of queue 203 over the
// feature records, WAN up and down, the UPnP switch, the process watchdog
// and process restarts.
#include "fwmgr/fwmgr.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"

namespace rc {

namespace {
constexpr const char *kUpnpChain = "MINIUPNPD";
}  // namespace

FwMgr::FwMgr(const Services &s) : s_(s), sh_(s.sh), cfm_(s.cfm), settings_(s.cfm, kFwSettings) {}

int FwMgr::readNumber(const char *key) { return settings_.number(key); }

void FwMgr::readAddress(const char *key, char (&dst)[16]) {
  settings_.get(key, value);
  if (value[0] && !is_ipv4(value)) {
    char seen[kShownSize];
    printf("fwmgr: %s \"%s\" is not an IPv4 address; refused\n", key, shown(value, seen));
    value[0] = '\0';
  }
  bcopy_text(dst, value);
}

// ---------------------------------------------------------------- start-up

void FwMgr::readLan() {
  readAddress("lan_ip", strlanip);
  char mask[16];
  readAddress("lan_mask", mask);
  lanip = strlanip[0] ? inet_addr(strlanip) : 0;
  lanmask = mask[0] ? inet_addr(mask) : 0;
  lan_network(lanip, lanmask, strlannet, netsize, ndepth);
  // The LAN network is the source of the SNAT lines. Without an address, or
  // with a mask that is empty, refused, 0.0.0.0 or not a run of leading ones
  // (netsize would count only the first run), it is left empty: no SNAT line
  // rather than one for 0.0.0.0/0 or a network wider than the LAN.
  const uint32_t m = ntohl(lanmask);
  const bool maskOk = m != 0 && (~m & (~m + 1)) == 0;
  if (mask[0] && !maskOk) {
    char seen[kShownSize];
    printf("fwmgr: lan_mask \"%s\" is not a network mask; no LAN network\n", shown(mask, seen));
  }
  if (!strlanip[0] || !maskOk) strlannet[0] = '\0';
}

void FwMgr::setWanName() {
  if (const char *name = wan_ifname(wanconntype)) bcopy_text(wanname, name);  // else it stays as it was
}

void FwMgr::start() {
  Shell::Batch batch(sh_);  // the start-up's lines through one shell
  bcopy_text(lanname, "br0");
  wanconnflag = 0;
  cfm_.Init_vxm810_cfm();
  readLan();
  wanconntype = readNumber("wan_connecttype");
  setWanName();
  if (wanconntype == 1) {
    // The rules come with command 2, which netmgr posts once the address is set.
    readAddress("wan_ip", strwanip);
    readAddress("wan_mask", strwanmask);
    wanconnflag = 1;
  }
  for (size_t i = 0; i < kFeatureCount; ++i)
    if (kFeatures[i].read) kFeatures[i].read(*this);
  cfm_.CloseCfm();

  removeLeftovers();
  for (size_t i = 0; i < kFeatureCount; ++i)
    if (kFeatures[i].load) kFeatures[i].load(*this);
}

// An instance that was killed leaves its rules and its WAN services behind.
// Before the load steps add them again, the chains that only fwmgr fills are
// emptied (the chains its feature records own, filter chains first), and
// its own single rules in the chains it shares with netmgr and
// kinwatch are deleted with the values just read, which are the values the
// killed instance added them with. Every start removes them before anything
// adds them, so at most one copy can be left and one deletion suffices. The
// filter records start unapplied, as their chains now are; alg_filter is
// emptied by loadalgconfig; the WAN rules come back with the next command 2.
void FwMgr::removeLeftovers() {
  static const char *const kTables[] = {"filter", "nat"};
  for (const char *table : kTables)
    for (size_t i = 0; i < kFeatureCount; ++i) flushChains(kFeatures[i], table);
  attack.unloadattackconfig(*this);         // ping and safe_filter emptied, the FIREWALL rule of mangle PREROUTING
  ipmacbind.loadipmacbindconfig(*this, 0);  // the IP-MAC rules of arptables INPUT and mangle PREROUTING

  // The WAN's arptables rule: a static WAN's configured address, or the
  // address a DHCP WAN still holds.
  if (wanconntype == 1 || wanconntype == 2 || wanconntype == 4) {
    char ip[16], mask[16];
    bcopy_text(ip, strwanip);
    bcopy_text(mask, strwanmask);
    if (wanconntype != 1) {
      uint32_t addr = 0, netmask = 0;
      s_.getipmask(wanname, &addr, &netmask);
      struct in_addr a;
      a.s_addr = addr;
      bcopy_text(ip, addr ? inet_ntoa(a) : "");
      a.s_addr = netmask;
      bcopy_text(mask, netmask ? inet_ntoa(a) : "");
    }
    if (is_ipv4(ip) && is_ipv4(mask))
      sh_.vk_SystemEx("arptables -D INPUT -i %s -j ipfilter --ip %s --netmask %s", wanname, ip, mask);
  }
  // The DNS proxy rule of nat PREROUTING points at the first server of resolv.conf.
  Paths::Buf path;
  char server[24] = "";
  getDns(1, server, sizeof server, s_.paths.sys("/etc/resolv.conf", path));
  if (is_ipv4(server)) {
    bcopy_text(dns.pridns, server);
    dns.unloaddnsproxy(*this);
  }
  if (s_.procs.get_proc_pid("upnp") > 0) upnpStop();
  ddns.unloadddnsconfig(*this);
}

// ---------------------------------------------------------------- commands

const FwFeature *FwMgr::featureFor(long cmd) {
  for (size_t i = 0; i < kFeatureCount; ++i)
    if (cmd != 0 && kFeatures[i].cmd == cmd) return &kFeatures[i];
  return nullptr;
}

// Queue 203: 2 and 3 are the WAN's, the others the features'. Numbers
// without a record (1, 6, 19 and above) are taken off the queue and ignored.
void FwMgr::onCommand(long cmd) {
  const FwFeature *f = featureFor(cmd);
  if (cmd != 2 && cmd != 3 && !f) return;
  Shell::Batch batch(sh_);  // a command's lines (WAN-up, a feature's reload) through one shell
  if (cmd == 2)
    wanUp();
  else if (cmd == 3) {
    if (wanconnflag == 1) wanDown();
  } else if (f->command)
    f->command(*this, *f);
  else
    reload(*f);
}

void FwMgr::reload(const FwFeature &f) {
  const bool wan = wanconnflag == 1;
  if (f.unload)
    f.unload(*this);
  else if (wan && f.wanUnload)
    f.wanUnload(*this);
  cfm_.Init_vxm810_cfm();
  if (f.reread)
    f.reread(*this);
  else if (f.read)
    f.read(*this);
  cfm_.CloseCfm();
  if (f.load) f.load(*this);
  if (wan && f.wanLoad) {
    f.wanLoad(*this);
    wanloaded = 1;
  }
}

void FwMgr::flushChains(const FwFeature &f, const char *table) {
  for (const FwChain &c : f.chains)
    if (c.name && (!table || strcmp(c.table, table) == 0)) sh_.vk_SystemEx("iptables -t %s -F %s", c.table, c.name);
}

// ---------------------------------------------------------------- WAN up and down

void FwMgr::readIfAddress(bool withMask) {
  uint32_t addr = 0, mask = 0;
  s_.getipmask(wanname, &addr, &mask);
  struct in_addr a;
  a.s_addr = addr;
  if (addr) {
    bcopy_text(strwanip, inet_ntoa(a));
  } else {
    printf("fwmgr: %s has no address\n", wanname);
    strwanip[0] = '\0';
  }
  if (!withMask) return;
  a.s_addr = mask;
  if (mask)
    bcopy_text(strwanmask, inet_ntoa(a));
  else
    strwanmask[0] = '\0';
}

void FwMgr::arpRule(char op) {
  if (!is_ipv4(strwanip) || !is_ipv4(strwanmask)) {
    char ip[kShownSize], mask[kShownSize];
    printf("fwmgr: WAN address \"%s\" mask \"%s\" unusable; no arptables rule\n", shown(strwanip, ip),
           shown(strwanmask, mask));
    return;
  }
  if (op == 'A')
    sh_.doSystemCmd("arptables -A INPUT -i %s -j ipfilter --ip %s --netmask %s", wanname, strwanip,
                    strwanmask);
  else
    sh_.doSystemCmd("arptables -D INPUT -i %s -j ipfilter --ip %s --netmask %s", wanname, strwanip,
                    strwanmask);
}

void FwMgr::wanUp() {
  // netmgr posts command 2 on every lease renewal: the rules of the last
  // WAN-up go first (with the old name and address), so nothing piles up.
  // The same holds for what the commands loaded while a static WAN counted
  // as up before its first command 2.
  if (wanloaded) wanDown();
  wanconnflag = 1;
  cfm_.Init_vxm810_cfm();
  wanconntype = readNumber("wan_connecttype");
  setWanName();
  switch (wanconntype) {
    case 1:
      readAddress("wan_ip", strwanip);
      readAddress("wan_mask", strwanmask);
      arpRule('A');
      break;
    case 2:
    case 4:
      readIfAddress(true);
      dns.dnsOverride(*this);
      arpRule('A');
      break;
    case 3:
    case 5:
    case 6:
      readIfAddress(false);
      dns.dnsOverride(*this);
      break;
    default:
      break;
  }
  cfm_.CloseCfm();
  {
    // The load steps' lines go ahead: between them the steps read nothing
    // the lines change, and what they print waits for the lines before it.
    Shell::Stream stream(sh_);
    for (size_t i = 0; i < kFeatureCount; ++i)
      if (kFeatures[i].wanLoad) kFeatures[i].wanLoad(*this);
  }
  wanloaded = 1;
}

void FwMgr::wanDown() {
  if (wanconntype == 1 || wanconntype == 2 || wanconntype == 4) arpRule('D');
  wanconnflag = 0;
  {
    // The unload steps' lines go ahead: the steps print nothing and read
    // nothing the lines change (DDNS's client is stopped after them).
    Shell::Stream stream(sh_);
    for (size_t i = 0; i < kFeatureCount; ++i)
      if (kFeatures[i].wanUnload) kFeatures[i].wanUnload(*this);
  }
  wanloaded = 0;
}

// ---------------------------------------------------------------- UPnP

void FwMgr::upnpSwitch() {
  int old = upnpen;
  cfm_.Init_vxm810_cfm();
  upnpen = readNumber("upnpen");
  cfm_.CloseCfm();
  if (upnpen == old) return;
  if (wanconnflag == 1 && upnpen == 1) {
    upnpStart();
    wanloaded = 1;
  } else if (upnpen == 0)
    upnpStop();
}

void FwMgr::upnpStart() { sh_.doSystemCmd("upnp %s &", wanname); }

void FwMgr::upnpStop() {
  sh_.doSystemCmd("killall -9 upnp");
  sh_.vk_SystemEx("iptables -t nat -F %s", kUpnpChain);
  sh_.doSystemCmd("rm -f /etc/upnpmap");
}

// ---------------------------------------------------------------- processes

void FwMgr::watchdog() {
  if (s_.procs.get_proc_pid("trafmon") == 0) {
    puts("trafmon down, restart");
    sh_.doSystemCmd("trafmon &");
    if (wanconnflag == 1) {
      // The new trafmon learns that the WAN is up.
      s_.clock.sleepMicros(50000);
      sh_.vk_SystemEx("sendmsg 201 2");
    }
  }
  if (s_.procs.get_proc_pid("httpd") == 0) {
    puts("httpd down, restart");
    sh_.doSystemCmd("httpd &");
  }
}

void FwMgr::restart_proc(const char *name) {
  sh_.doSystemCmd("killall -9 %s 1>/dev/null 2>&1", name);
  s_.clock.sleepMicros(300000);
  sh_.systemQuiet("/bin/%s &", name);
}

void FwMgr::loadkinwatch() { restart_proc("kinwatch"); }

// ---------------------------------------------------------------- the pass

void FwMgr::onTick() {
  ++tickcount;
  struct tm now;
  s_.clock.localNow(&now);
  for (size_t i = 0; i < kFeatureCount; ++i)
    if (kFeatures[i].pass) kFeatures[i].pass(*this, now);
  if (tickcount % kWatchdogEvery == 0) watchdog();
}

}  // namespace rc
