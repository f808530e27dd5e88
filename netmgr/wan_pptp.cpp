// The PPTP WAN (type 5): pppd with the pptp program, over eth2.2 with a
// fixed address or one leased by DHCP. With a fixed address pppd starts at
// once; with a leased one the underlay's lease posts 23, which starts it.
// pppd's ip-up and ip-down post 2 and 3; while the link is up eth2.2 is
// masqueraded too.
#include <cstdlib>

#include "netmgr/netmgr.h"
#include "netmgr/ppp_files.h"

namespace rc {

using namespace ppp;

namespace {

constexpr const char *kOptions = "/etc/options.pptp";
// The fixed lines that end the option file.
constexpr const char *kLinkOptions[] = {"usepeerdns",
                                        "persist",
                                        "defaultroute",
                                        "ipcp-accept-remote ipcp-accept-local noipdefault",
                                        "ktune",
                                        "default-asyncmap nopcomp noaccomp",
                                        "novj nobsdcomp nodeflate",
                                        "lcp-echo-interval 300",
                                        "lcp-echo-failure 6",
                                        "unit 0"};

}  // namespace

void NetMgr::pptpRead() { readTunnel("pptp", pptp, pptp_ser); }

void NetMgr::pptpFiles() { Set_pptp_conf(pptp.user, pptp.pwd, pptp_ser, pptp.mtu, pptp.mppe); }

void NetMgr::pptpStart() {
  if (atoi(pptp.addrmode) == 1) {
    fixedTunnelAddress(pptp, pptp_ser);
    startPptp();
  } else {
    setwandhcp("eth2.2", "1500", "23", "24");
  }
}

void NetMgr::pptpMasquerade(char op) {
  sh_.vk_SystemEx("iptables -t nat -%c POSTROUTING -o eth2.2 -j MASQUERADE", op);
}

void NetMgr::pptpConnect() {
  tunnelStop("pptp");
  startPptp();
}

void NetMgr::pptpDisconnect() {
  tunnelStop("pptp");
  wanDownNotice();
}

void NetMgr::pptpBound() {
  sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
  startPptp();
}

void NetMgr::startPptp() { sh_.doSystemCmd("%s file /etc/options.pptp &", kPppd); }

void NetMgr::Set_pptp_conf(const char *user, const char *pwd, const char *server, const char *mtu,
                           const char *mppe) {
  const char *f = kOptions;
  sh_.doSystemCmd("mkdir /etc/ppp");
  writeLinkScripts(sh_);
  createPrivate(s_.paths, f);
  sh_.doSystemCmd("echo noauth > %s ", f);
  sh_.doSystemCmd("echo refuse-eap >> %s ", f);
  if (atoi(mppe) == 1) sh_.doSystemCmd("echo require-mppe >> %s ", f);
  appendText(sh_, f, "user", user, Echo::Bare);
  appendText(sh_, f, "password", pwd, Echo::Bare);
  sh_.doSystemCmd("echo connect true >> %s ", f);
  if (serverOk(server, f))
    sh_.doSystemCmd("echo \"pty '/bin/pptp %s --nolaunchpppd'\" >> %s ", server, f);
  sh_.doSystemCmd("echo lock >> %s ", f);
  int m = 0;  // set by pppMtu when it returns true
  if (pppMtu("mtu", f, mtu, &m)) sh_.doSystemCmd("echo \"mtu %d\" >> %s ", m, f);
  sh_.doSystemCmd("echo \"maxfail 0\" >> %s ", f);
  echoLines(f, 0, kLinkOptions);
}

}  // namespace rc
