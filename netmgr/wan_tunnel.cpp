// What the tunnel types PPTP and L2TP share: their settings, the fixed
// address of eth2.2 with the host route to the server, and the tunnel stop.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "netmgr/netmgr.h"
#include "netmgr/ppp_files.h"

namespace rc {

// Reads the settings of a tunnel type, keyed <prefix>IP, <prefix>PUN, ...
// (PPTP alone has an MPPE switch). An MTU whose number is 0 becomes 1450.
void NetMgr::readTunnel(const char *prefix, Tunnel &t, char (&server)[32]) {
  char key[32];
  auto get = [&](const char *suffix, char *dst, size_t size) {
    snprintf(key, sizeof key, "%s%s", prefix, suffix);
    settings_.get(key, dst, size);
  };
  get("IP", server, sizeof server);
  get("PUN", t.user, sizeof t.user);
  get("PPW", t.pwd, sizeof t.pwd);
  get("MTU", t.mtu, sizeof t.mtu);
  if (atoi(t.mtu) == 0) bcopy_text(t.mtu, "1450");
  get("AddrMode", t.addrmode, sizeof t.addrmode);
  if (strcmp(prefix, "pptp") == 0) get("MPPE", t.mppe, sizeof t.mppe);
  get("WANIP", t.wanip, sizeof t.wanip);
  get("WANMASK", t.wanmask, sizeof t.wanmask);
  get("WANGW", t.wangw, sizeof t.wangw);
}

void NetMgr::fixedTunnelAddress(const Tunnel &t, const char *server) {
  if (checkAddress("tunnel WAN address", t.wanip, false) &&
      checkAddress("tunnel WAN mask", t.wanmask, false))
    sh_.vk_SystemEx("ifconfig %s %s netmask %s", "eth2.2", t.wanip, t.wanmask);
  if (!is_ipv4(server) && !is_hostname(server)) {
    char seen[kShownSize];
    printf("netmgr: tunnel server \"%s\" is neither an address nor a host name; route skipped\n",
           shown(server, seen));
  } else if (checkAddress("tunnel gateway", t.wangw, false)) {
    sh_.vk_SystemEx("route add -net %s netmask 255.255.255.255 gw %s", server, t.wangw);
  }
}

// pppd first, then the tunnel program.
void NetMgr::tunnelStop(const char *program) {
  sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
  s_.procs.send_signal(SIGQUIT, ppp::kPppd);
  s_.clock.sleepMicros(50000);
  s_.procs.send_signal(SIGKILL, ppp::kPppd);
  s_.procs.send_signal(SIGQUIT, program);
  s_.clock.sleepMicros(50000);
  s_.procs.send_signal(SIGKILL, program);
}

}  // namespace rc
