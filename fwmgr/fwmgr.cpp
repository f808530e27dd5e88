// fwmgr start-up, the command table of queue 203, WAN up and down, the UPnP
// switch, the process watchdog and process restarts.
#include "fwmgr/fwmgr.h"

#include <arpa/inet.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"

namespace rc {

namespace {
constexpr const char *kWanAdminChain = "web_wanadmin";
constexpr const char *kLanAdminChain = "web_lanadmin";
constexpr const char *kAccessChain = "web_access";
constexpr const char *kUpnpChain = "MINIUPNPD";
}  // namespace

// Queue 203. Numbers without a row (1, 6, 19 and above) are taken off the
// queue and ignored.
const FwMgr::Command FwMgr::kCommands[] = {
    {2, &FwMgr::wanUp},      // WAN link up
    {3, &FwMgr::cmdWanDown},  // WAN link down
    {4, &FwMgr::cmdPortmap},  // port forwarding changed
    {5, &FwMgr::cmdDmz},      // DMZ changed
    {7, &FwMgr::cmdAlg},      // ALG blocking changed
    {8, &FwMgr::cmdClient},   // client filter changed
    {9, &FwMgr::cmdUrl},      // URL filter changed
    {10, &FwMgr::cmdMac},     // MAC filter changed
    {11, &FwMgr::cmdIpMacBind},  // IP-MAC binding changed
    {12, &FwMgr::cmdQos},        // QoS changed
    {13, &FwMgr::cmdWanWeb},     // WAN management access changed
    {14, &FwMgr::cmdLanWeb},     // LAN management access changed
    {15, &FwMgr::cmdAttack},     // attack defence changed
    {16, &FwMgr::upnpSwitch},    // UPnP switch changed
    {17, &FwMgr::cmdDdns},       // DDNS changed
    {18, &FwMgr::cmdDns},        // DNS settings changed
};

FwMgr::FwMgr(const Services &s) : s_(s), sh_(s.sh), cfm_(s.cfm) {}

int FwMgr::readNumber(const char *key) {
  cfm_.GetCfmValue(key, value);
  return atoi(value);
}

void FwMgr::readAddress(const char *key, char (&dst)[16]) {
  cfm_.GetCfmValue(key, value);
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
  getdepth(lanmask, netsize, ndepth);
  const unsigned char *ip = reinterpret_cast<const unsigned char *>(&lanip);
  const unsigned char *mk = reinterpret_cast<const unsigned char *>(&lanmask);
  snprintf(strlannet, sizeof strlannet, "%d.%d.%d.%d", ip[0] & mk[0], ip[1] & mk[1], ip[2] & mk[2],
           ip[3] & mk[3]);
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
  switch (wanconntype) {
    case 1: case 2: case 4: bcopy_text(wanname, "eth2.2"); break;
    case 3: case 5: case 6: bcopy_text(wanname, "ppp0"); break;
    default: break;  // the name stays as it was
  }
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
  readportmapconfig();
  readdmzconfig();
  readalgconfig();
  readclientconfig();
  readurlconfig();
  readmacconfig();
  readipmacbindconfig();
  readqosconfig();
  readattackconfig();
  readwebaccessconfig();
  readwanwebconfig();
  upnpen = readNumber("upnpen");
  readddnsconfig();
  loadnatlimitconfig();
  loadroutestatic();
  cfm_.CloseCfm();

  removeLeftovers();
  loadalgconfig();
  loadipmacbindconfig(1);
  loadattackconfig();
  loadkinwatch();
  loadlanwebrules();
}

// An instance that was killed leaves its rules and its WAN services behind.
// Before the load steps add them again, the chains that only fwmgr fills are
// emptied, and its own single rules in the chains it shares with netmgr and
// kinwatch are deleted with the values just read, which are the values the
// killed instance added them with. Every start removes them before anything
// adds them, so at most one copy can be left and one deletion suffices. The
// filter records start unapplied, as their chains now are; alg_filter is
// emptied by loadalgconfig; the WAN rules come back with the next command 2.
void FwMgr::removeLeftovers() {
  static const char *const kFilterChains[] = {"ip_filter", "url_filter", "mac_filter", "qos", kAccessChain};
  static const char *const kNatChains[] = {"port_forward_pre", "port_forward_post", "dmz_forward_pre",
                                           "dmz_forward_post", kWanAdminChain,     kLanAdminChain};
  for (const char *chain : kFilterChains) sh_.vk_SystemEx("iptables -t filter -F %s", chain);
  for (const char *chain : kNatChains) sh_.vk_SystemEx("iptables -t nat -F %s", chain);
  unloadattackconfig();    // ping and safe_filter emptied, the FIREWALL rule of mangle PREROUTING
  loadipmacbindconfig(0);  // the IP-MAC rules of arptables INPUT and mangle PREROUTING

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
  char dns[24] = "";
  getDns(1, dns, sizeof dns, s_.paths.sys("/etc/resolv.conf", path));
  if (is_ipv4(dns)) {
    bcopy_text(pridns, dns);
    unloaddnsproxy();
  }
  if (s_.procs.get_proc_pid("upnp") > 0) upnpStop();
  unloadddnsconfig();
}

// ---------------------------------------------------------------- commands

void FwMgr::onCommand(long cmd) {
  for (const Command &c : kCommands) {
    if (c.cmd == cmd) {
      Shell::Batch batch(sh_);  // a command's lines (WAN-up, a feature's reload) through one shell
      (this->*c.run)();
      return;
    }
  }
}

void FwMgr::cmdWanDown() {
  if (wanconnflag == 1) wanDown();
}

void FwMgr::cmdPortmap() {
  unloadportmapconfig();
  cfm_.Init_vxm810_cfm();
  readportmapconfig();
  cfm_.CloseCfm();
  if (wanconnflag == 1) {
    loadportmapconfig();
    wanloaded = 1;
  }
}

void FwMgr::cmdDmz() {
  unloaddmzconfig();
  cfm_.Init_vxm810_cfm();
  readdmzconfig();
  cfm_.CloseCfm();
  if (wanconnflag == 1) {
    loaddmzconfig();
    wanloaded = 1;
  }
}

void FwMgr::cmdAlg() {
  cfm_.Init_vxm810_cfm();
  readalgconfig();
  cfm_.CloseCfm();
  loadalgconfig();
}

// The filters' rules come back with the next pass's load steps.
void FwMgr::cmdClient() {
  unloadclientconfig();
  cfm_.Init_vxm810_cfm();
  readclientconfig();
  cfm_.CloseCfm();
}

void FwMgr::cmdUrl() {
  unloadurlconfig();
  cfm_.Init_vxm810_cfm();
  readurlconfig();
  cfm_.CloseCfm();
}

void FwMgr::cmdMac() {
  unloadmacconfig();
  cfm_.Init_vxm810_cfm();
  readmacconfig();
  cfm_.CloseCfm();
}

void FwMgr::cmdIpMacBind() {
  loadipmacbindconfig(0);  // the old list and flags
  cfm_.Init_vxm810_cfm();
  readipmacbindconfig();
  cfm_.CloseCfm();
  loadipmacbindconfig(1);
}

void FwMgr::cmdQos() {
  if (wanconnflag == 1) unloadqosconfig();
  cfm_.Init_vxm810_cfm();
  readqosconfig();
  cfm_.CloseCfm();
  if (wanconnflag == 1) {
    loadqosconfig();
    wanloaded = 1;
  }
}

void FwMgr::cmdWanWeb() {
  sh_.vk_SystemEx("iptables -t nat -F %s", kWanAdminChain);
  cfm_.Init_vxm810_cfm();
  readwanwebconfig();
  cfm_.CloseCfm();
  if (wanconnflag == 1) {
    loadwanwebrule();
    wanloaded = 1;
  }
}

void FwMgr::cmdLanWeb() {
  // The settings are read before the flush: a refused address with the host
  // limit on keeps the rules in force (and their settings), since replacing
  // them could only lift the limit.
  const int oldEn = webaccessen, oldBad = lanwebipbad, oldPort = weblistenport;
  char oldIp[sizeof lanwebip];
  bcopy_text(oldIp, lanwebip);
  cfm_.Init_vxm810_cfm();
  readwebaccessconfig();
  cfm_.CloseCfm();
  if (webaccessen == 1 && lanwebipbad) {
    puts("fwmgr: LAN management rules left as they were");
    webaccessen = oldEn;
    lanwebipbad = oldBad;
    weblistenport = oldPort;
    bcopy_text(lanwebip, oldIp);
    return;
  }
  sh_.vk_SystemEx("iptables -t filter -F %s", kAccessChain);
  sh_.vk_SystemEx("iptables -t nat -F %s", kLanAdminChain);
  loadlanwebrules();
}

void FwMgr::cmdAttack() {
  unloadattackconfig();
  cfm_.Init_vxm810_cfm();
  readattackconfig();
  cfm_.CloseCfm();
  loadattackconfig();
  if (wanconnflag == 1) {
    wanPingRule('A');  // the flush of ping took it
    wanloaded = 1;
  }
}

void FwMgr::cmdDdns() {
  int status = sh_.doSystemCmd("echo 0 > /etc/ddns");
  if (status != 0)
    printf("fwmgr: cannot write /etc/ddns: exit status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : status);
  unloadddnsconfig();  // the client of the old settings
  cfm_.Init_vxm810_cfm();
  readddnsconfig();
  cfm_.CloseCfm();
  if (wanconnflag == 1) {
    loadddnsconfig();
    wanloaded = 1;
  }
}

void FwMgr::cmdDns() {
  if (wanconnflag == 1) unloaddnsproxy();
  cfm_.Init_vxm810_cfm();
  cfm_.GetCfmValue("dnsen", value);
  if (atoi(value) == 1)
    dnsOverride();
  else
    dnsRestore();
  cfm_.CloseCfm();
  if (wanconnflag == 1) {
    loaddnsproxy();
    wanloaded = 1;
  }
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
      dnsOverride();
      arpRule('A');
      break;
    case 3:
    case 5:
    case 6:
      readIfAddress(false);
      dnsOverride();
      break;
    default:
      break;
  }
  cfm_.CloseCfm();
  loadportmapconfig();
  loaddmzconfig();
  loadqosconfig();
  wanPingRule('A');
  loadwanwebrule();
  loadddnsconfig();
  loaddnsproxy();
  if (upnpen == 1) sh_.doSystemCmd("upnp %s &", wanname);
  wanloaded = 1;
}

void FwMgr::wanDown() {
  if (wanconntype == 1 || wanconntype == 2 || wanconntype == 4) arpRule('D');
  wanconnflag = 0;
  unloadportmapconfig();
  unloaddmzconfig();
  unloadqosconfig();
  wanPingRule('D');
  sh_.vk_SystemEx("iptables -t nat -F %s", kWanAdminChain);
  unloadddnsconfig();
  unloaddnsproxy();
  if (upnpen == 1) upnpStop();
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
    sh_.doSystemCmd("upnp %s &", wanname);
    wanloaded = 1;
  } else if (upnpen == 0)
    upnpStop();
}

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
  loadclientconfig(now);
  loadurlconfig(now);
  loadmacconfig(now);
  if (tickcount % kWatchdogEvery == 0) watchdog();
}

}  // namespace rc
