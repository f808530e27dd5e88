// Static-address and DHCP-client WAN on eth2.2: bring-up and tear-down, the
// MTU rule with its MSS clamp, and the udhcpc event script that reports lease
// events back to queue 204.
#include <signal.h>

#include <cstdio>
#include <cstring>

#include "common/netutil.h"
#include "netmgr/netmgr.h"

namespace rc {

namespace {

constexpr const char *kScript = "/etc/udhcpc.script";
constexpr const char *kPidFile = "/var/run/udhcpc.pid";

// A second name server is written when the text is at least 8 characters
// long (shorter texts are the "no second server" of the settings pages), or
// when it is a complete address anyway: 1.1.1.1 or 8.8.8.8 have only 7.
// "0.0.0.0", the settings pages' placeholder, still means no second server.
bool hasSecondDns(const char *dns) {
  return strlen(dns) >= 8 || (is_ipv4(dns) && strcmp(dns, "0.0.0.0") != 0);
}

// The host route of the udhcpc script carries the tunnel server; it is
// written only for an address or a host name.
bool routableServer(const char *server) { return is_ipv4(server) || is_hostname(server); }

}  // namespace

// The MTU is applied only for 256 <= m < 1500; a text that is not a plain
// decimal number (empty, "abc", "1400;...") counts as 0, so only the parsed
// number ever reaches a command line.
int NetMgr::usableMtu(const char *mtu) {
  if (!mtu || !*mtu) return 0;
  int m = 0;
  for (const char *p = mtu; *p; ++p) {
    if (*p < '0' || *p > '9') return 0;
    if (m < 100000) m = m * 10 + (*p - '0');  // saturates: stays out of range
  }
  return (m >= 256 && m < 1500) ? m : 0;
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

// The script udhcpc runs on lease events: "deconfig" clears the address and
// posts `lost`, "bound" sets address, routes and name servers and posts
// `bound`. For the PPTP (23) and L2TP (25) underlays the lease's routers
// carry only a host route to the tunnel server, never the default route.
void NetMgr::Set_dhcpc_conf(const char *bound, const char *lost) {
  const char *f = kScript;
  sh_.doSystemCmd("echo \"#!/bin/sh\" > %s ", f);
  sh_.doSystemCmd("echo 'RESOLV_CONF=\"/etc/resolv.conf\"' >> %s ", f);
  sh_.doSystemCmd("echo 'case \"$1\" in' >> %s ", f);
  sh_.doSystemCmd("echo '    deconfig)' >> %s ", f);
  sh_.doSystemCmd("echo '        ifconfig $interface 0.0.0.0' >> %s ", f);
  sh_.doSystemCmd("echo '        sendmsg 204 %s &' >> %s ", lost, f);
  sh_.doSystemCmd("echo '        ;;' >> %s ", f);
  sh_.doSystemCmd("echo '    bound)' >> %s ", f);
  // busybox udhcpc gives the dotted mask in $subnet and a prefix length in
  // $mask, which ifconfig refuses (the interface would keep the classful
  // mask); other clients give the dotted mask in $mask.
  sh_.doSystemCmd("echo '        ifconfig $interface $ip netmask ${subnet:-$mask}' >> %s ", f);
  sh_.doSystemCmd("echo '        for i in $router ; do' >> %s ", f);

  const char *server = nullptr;
  if (strcmp(bound, "23") == 0)
    server = pptp_ser;
  else if (strcmp(bound, "25") == 0)
    server = l2tp_ser;
  if (!server) {
    sh_.doSystemCmd("echo '                route add default gw $i dev $interface ' >> %s ", f);
  } else if (routableServer(server)) {
    sh_.doSystemCmd("echo '                route add -net %s netmask 255.255.255.255 gw $i ' >> %s ",
                    server, f);
  } else {
    char seen[kShownSize];
    printf("netmgr: tunnel server \"%s\" is neither an address nor a host name; "
           "route line of %s skipped\n",
           shown(server, seen), f);
  }

  sh_.doSystemCmd("echo '        done' >> %s ", f);
  sh_.doSystemCmd("echo '        echo -n > $RESOLV_CONF' >> %s ", f);
  sh_.doSystemCmd("echo '        for i in $dns ; do' >> %s ", f);
  sh_.doSystemCmd("echo '            echo adding dns $i' >> %s ", f);
  sh_.doSystemCmd("echo '            echo nameserver $i >> $RESOLV_CONF' >> %s ", f);
  sh_.doSystemCmd("echo '        done' >> %s ", f);
  sh_.doSystemCmd("echo '        sendmsg 204 %s &' >> %s ", bound, f);
  sh_.doSystemCmd("echo '        cat /proc/uptime > /etc/at' >> %s ", f);
  sh_.doSystemCmd("echo '        ;;' >> %s ", f);
  sh_.doSystemCmd("echo '    renew)' >> %s ", f);
  sh_.doSystemCmd("echo '        ;;' >> %s ", f);
  sh_.doSystemCmd("echo 'esac' >> %s ", f);
  sh_.doSystemCmd("echo 'exit 0' >> %s ", f);
  sh_.doSystemCmd("chmod +x %s ", f);
}

void NetMgr::setwandhcp(const char *ifname, const char *mtu, const char *bound, const char *lost) {
  if (int m = usableMtu(mtu)) {
    sh_.vk_SystemEx("ifconfig %s mtu %d", ifname, m);
    addMssClamp('A', m);
  }
  Set_dhcpc_conf(bound, lost);
  sh_.doSystemCmd("udhcpc -i %s -s /etc/udhcpc.script -p %s &", ifname, kPidFile);
}

void NetMgr::unsetwandhcp(const char *ifname, const char *mtu) {
  if (int m = usableMtu(mtu)) {
    sh_.vk_SystemEx("ifconfig %s mtu 1500", ifname);
    addMssClamp('D', m);
  }
  s_.procs.send_signal(SIGTERM, "udhcpc");
  sh_.vk_SystemEx("ifconfig %s 0.0.0.0", ifname);
  sh_.vk_SystemEx("echo -n > /etc/resolv.conf");
  sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
}

}  // namespace rc
