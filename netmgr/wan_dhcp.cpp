// The DHCP client on eth2.2: the DHCP type (2) and what the DHCP+ type and
// the dynamic-address underlay of PPTP and L2TP use too: bring-up and
// tear-down with the MTU rule, and the udhcpc event script that reports
// lease events back to queue 204.
#include <signal.h>

#include <cstdio>
#include <cstring>

#include "common/netutil.h"
#include "netmgr/netmgr.h"

namespace rc {

namespace {

constexpr const char *kScript = "/etc/udhcpc.script";
constexpr const char *kPidFile = "/var/run/udhcpc.pid";

// The fixed lines of the script around its command and route lines.
constexpr const char *kHead[] = {"RESOLV_CONF=\"/etc/resolv.conf\"", "case \"$1\" in",
                                 "    deconfig)", "        ifconfig $interface 0.0.0.0"};
// busybox udhcpc gives the dotted mask in $subnet and a prefix length in
// $mask, which ifconfig refuses (the interface would keep the classful
// mask); other clients give the dotted mask in $mask.
constexpr const char *kBound[] = {"        ;;", "    bound)",
                                  "        ifconfig $interface $ip netmask ${subnet:-$mask}",
                                  "        for i in $router ; do"};
constexpr const char *kDns[] = {"        done",
                                "        echo -n > $RESOLV_CONF",
                                "        for i in $dns ; do",
                                "            echo adding dns $i",
                                "            echo nameserver $i >> $RESOLV_CONF",
                                "        done"};
constexpr const char *kTail[] = {"        cat /proc/uptime > /etc/at", "        ;;", "    renew)",
                                 "        ;;", "esac", "exit 0"};

// The host route of the udhcpc script carries the tunnel server; it is
// written only for an address or a host name.
bool routableServer(const char *server) { return is_ipv4(server) || is_hostname(server); }

}  // namespace

void NetMgr::dhcpRead() { settings_.get("dynamicMTU", strwanmtu); }

// The lease events post 2 (bound) and 3 (deconfig).
void NetMgr::dhcpConnect() { setwandhcp(wanname, strwanmtu, "2", "3"); }

void NetMgr::dhcpStop() { unsetwandhcp(wanname, strwanmtu); }

void NetMgr::dhcpRelease() {
  unsetwandhcp(wanname, strwanmtu);
  wanDownNotice();
}

// The script udhcpc runs on lease events: "deconfig" clears the address and
// posts `lost`, "bound" sets address, routes and name servers and posts
// `bound`. For the PPTP (23) and L2TP (25) underlays the lease's routers
// carry only a host route to the tunnel server, never the default route.
void NetMgr::Set_dhcpc_conf(const char *bound, const char *lost) {
  const char *f = kScript;
  sh_.doSystemCmd("echo \"#!/bin/sh\" > %s ", f);
  echoLines(f, '\'', kHead);
  sh_.doSystemCmd("echo '        sendmsg 204 %s &' >> %s ", lost, f);
  echoLines(f, '\'', kBound);

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

  echoLines(f, '\'', kDns);
  sh_.doSystemCmd("echo '        sendmsg 204 %s &' >> %s ", bound, f);
  echoLines(f, '\'', kTail);
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
