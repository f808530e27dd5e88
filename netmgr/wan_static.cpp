// The static-address WAN (type 1) on eth2.2: its settings, bring-up with
// the user's name servers and tear-down. It posts no link commands: netmgr
// sends the WAN up notice itself.
#include <cstdio>
#include <cstring>

#include "common/netutil.h"
#include "netmgr/netmgr.h"

namespace rc {

namespace {

// A second name server is written when the text is at least 8 characters
// long (shorter texts are the "no second server" of the settings pages), or
// when it is a complete address anyway: 1.1.1.1 or 8.8.8.8 have only 7.
// "0.0.0.0", the settings pages' placeholder, still means no second server.
bool hasSecondDns(const char *dns) {
  return strlen(dns) >= 8 || (is_ipv4(dns) && strcmp(dns, "0.0.0.0") != 0);
}

}  // namespace

void NetMgr::staticRead() {
  settings_.get("wan_ip", strwanip);
  settings_.get("wan_mask", strwanmask);
  settings_.get("wan_gateway", strwangate);
  settings_.get("wan_dns1", strwandns1);
  settings_.get("wan_dns2", strwandns2);
  settings_.get("staticMTU", strwanmtu);
}

void NetMgr::staticStart() {
  setwanstaticip(wanname, strwanip, strwanmask, strwangate, strwandns1, strwandns2, strwanmtu);
  wanUpNotice();
}

void NetMgr::staticStop() {
  unsetwanstaticip(wanname, strwanip, strwanmask, strwangate, strwandns1, strwandns2, strwanmtu);
}

void NetMgr::setwanstaticip(const char *ifname, const char *ip, const char *mask, const char *gw,
                            const char *dns1, const char *dns2, const char *mtu) {
  if (checkAddress("wan_ip", ip, true) && checkAddress("wan_mask", mask, true))
    sh_.vk_SystemEx("ifconfig %s %s netmask %s", ifname, ip, mask);
  if (checkAddress("wan_gateway", gw, true)) sh_.vk_SystemEx("route add default gw %s", gw);
  if (checkAddress("wan_dns1", dns1, true))
    sh_.vk_SystemEx("echo nameserver %s > /etc/resolv.conf", dns1);
  if (hasSecondDns(dns2) && checkAddress("wan_dns2", dns2, false))
    sh_.vk_SystemEx("echo nameserver %s >> /etc/resolv.conf", dns2);

  // User-defined name servers replace the WAN ones; the WAN list is kept.
  // Without a whole backup (a full /etc) the WAN's servers stay, or a later
  // restore would copy the broken backup over them.
  if (readNumber("dnsen") == 1) {
    Paths::Buf resolv, bak;
    sh_.vk_SystemEx("cp /etc/resolv.conf /etc/bakresolv.conf");
    if (copy_differs(s_.paths.sys("/etc/resolv.conf", resolv), s_.paths.sys("/etc/bakresolv.conf", bak)) == 1) {
      puts("netmgr: cannot write /etc/bakresolv.conf: the copy of /etc/resolv.conf is incomplete; "
           "DNS servers left as they are");
    } else {
      char user1[32], user2[32];
      settings_.get("dns_dns1", user1);
      settings_.get("dns_dns2", user2);
      if (checkAddress("dns_dns1", user1, true))
        sh_.vk_SystemEx("echo nameserver %s > /etc/resolv.conf", user1);
      if (hasSecondDns(user2) && checkAddress("dns_dns2", user2, false))
        sh_.vk_SystemEx("echo nameserver %s >> /etc/resolv.conf", user2);
    }
  }

  if (int m = usableMtu(mtu)) {
    sh_.vk_SystemEx("ifconfig %s mtu %d", ifname, m);
    addMssClamp('A', m);
  }
  sh_.vk_SystemEx("iptables -t nat -A POSTROUTING -o %s -j MASQUERADE", ifname);
  sh_.vk_SystemEx("cat /proc/uptime > /etc/at");
  // Packets arriving on the WAN addressed to the LAN network are dropped.
  sh_.vk_SystemEx("iptables -t mangle -A PREROUTING -i %s -d %s/%d -j DROP", ifname, strlannet,
                  netsize);
}

void NetMgr::unsetwanstaticip(const char *ifname, const char *, const char *, const char *,
                              const char *, const char *, const char *mtu) {
  sh_.vk_SystemEx("iptables -t nat -D POSTROUTING -o %s -j MASQUERADE", ifname);
  if (int m = usableMtu(mtu)) {
    sh_.vk_SystemEx("ifconfig %s mtu 1500", ifname);
    addMssClamp('D', m);
  }
  sh_.vk_SystemEx("route del default");
  sh_.vk_SystemEx("ifconfig %s 0.0.0.0", ifname);
  sh_.vk_SystemEx("echo -n > /etc/resolv.conf");
  sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
  sh_.vk_SystemEx("iptables -t mangle -D PREROUTING -i %s -d %s/%d -j DROP", ifname, strlannet,
                  netsize);
}

}  // namespace rc
