// Port forwarding (virtual servers), DMZ and ALG blocking.
//
// Forwards and the DMZ go into the nat chains port_forward_pre/_post and
// dmz_forward_pre/_post while the WAN is up; ALG blocking drops the control
// ports of the blocked protocols in the filter chain alg_filter, whatever the
// WAN does.
#include <cstdio>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "fwmgr/fields.h"
#include "fwmgr/fwmgr.h"
#include "fwmgr/portmap.h"

namespace rc {

namespace {

constexpr const char *kPortPre = "port_forward_pre";
constexpr const char *kPortPost = "port_forward_post";
constexpr const char *kDmzPre = "dmz_forward_pre";
constexpr const char *kDmzPost = "dmz_forward_post";
constexpr const char *kAlgChain = "alg_filter";
constexpr size_t kMaxEntryLen = 127;
constexpr size_t kMinListLen = 10;

// Parses one "virtualser_list" entry: enable;wanport;lanport;unused;host;protocol.
bool parsePortEntry(PortEntry &e, FieldReader &f) {
  int enable, wanport, lanport, protocol;
  char unused[8];
  if (!f.number(';', enable, "enable") || !f.port(';', wanport, "WAN port") ||
      !f.port(';', lanport, "LAN port") || !f.text(';', unused, sizeof unused, "fourth field") ||
      !f.text(';', e.host, sizeof e.host, "host") || !f.number('\0', protocol, "protocol"))
    return false;
  e.enable = enable;
  e.wanport = wanport;
  e.lanport = lanport;
  e.protocol = protocol;
  return true;
}

}  // namespace

bool FwMgr::natAddressesOk(const char *feature) {
  if (!is_ipv4(strwanip) || !is_ipv4(strlanip)) sh_.settle();  // the message after the lines before it
  if (!is_ipv4(strwanip)) {
    printf("fwmgr: no valid WAN address; %s not loaded\n", feature);
    return false;
  }
  if (!is_ipv4(strlanip)) {
    printf("fwmgr: no valid LAN address; %s not loaded\n", feature);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- port forwarding

int PortMap::readportmapconfig(FwMgr &m) {
  memset(portinfo, 0, sizeof portinfo);
  portmnum = 0;
  m.settings().get("virtualser_list", m.value);
  size_t len = strlen(m.value);
  if (len < kMinListLen) return 1;

  const char *p = m.value, *listEnd = m.value + len;
  for (int n = 1; p < listEnd; ++n) {
    const char *end = static_cast<const char *>(memchr(p, ',', static_cast<size_t>(listEnd - p)));
    if (!end) end = listEnd;
    if (portmnum == kMaxPorts) {
      printf("fwmgr: virtualser_list holds more than %d entries; entry %d and later dropped\n",
             kMaxPorts, n);
      break;
    }
    PortEntry e = {};
    FieldReader f(p, end);
    if (static_cast<size_t>(end - p) > kMaxEntryLen) {
      printf("fwmgr: virtualser_list entry %d dropped: longer than %d characters\n", n,
             static_cast<int>(kMaxEntryLen));
    } else if (!parsePortEntry(e, f)) {
      printf("fwmgr: virtualser_list entry %d dropped: %s\n", n, f.why());
    } else if (!is_ipv4(e.host)) {
      char seen[kShownSize];
      printf("fwmgr: virtualser_list entry %d dropped: host \"%s\" is not an IPv4 address\n", n,
             shown(e.host, seen));
    } else {
      portinfo[portmnum++] = e;
    }
    p = end + 1;
  }
  return 1;
}

int PortMap::loadportmapconfig(FwMgr &m) {
  bool any = false;
  for (int i = 0; i < portmnum; ++i) any = any || portinfo[i].enable == 1;
  if (!any || !m.natAddressesOk("port forwards")) return 1;
  const bool snat = is_ipv4(m.strlannet);
  if (!snat) {
    m.sh().settle();
    puts("fwmgr: no usable LAN network; no SNAT line for port forwards");
  }
  static const struct {
    int protocolBit;
    const char *name;
  } kProtocols[] = {{1, "tcp"}, {2, "udp"}};
  Shell::Stream stream(m.sh());  // up to 128 lines, nothing printed or read between them
  for (int i = 0; i < portmnum; ++i) {
    const PortEntry &e = portinfo[i];
    if (e.enable != 1) continue;
    for (const auto &pr : kProtocols) {
      if (e.protocol != 3 && e.protocol != pr.protocolBit) continue;
      m.sh().vk_SystemEx("iptables -t nat -A %s -p %s -d %s --dport %d -j DNAT --to %s:%d", kPortPre,
                         pr.name, m.strwanip, e.wanport, e.host, e.lanport);
      if (snat)
        m.sh().vk_SystemEx("iptables -t nat -A %s -p %s -d %s -s %s/%d --dport %d -j SNAT --to %s",
                           kPortPost, pr.name, e.host, m.strlannet, m.netsize, e.lanport, m.strlanip);
    }
  }
  return 1;
}

int PortMap::unloadportmapconfig(FwMgr &m) {
  m.sh().vk_SystemEx("iptables -t nat -F %s", kPortPre);
  m.sh().vk_SystemEx("iptables -t nat -F %s", kPortPost);
  return 1;
}

// ---------------------------------------------------------------- DMZ

int Dmz::readdmzconfig(FwMgr &m) {
  dmzen = m.readNumber("dmzen");
  m.readAddress("dmzip", dmzip);
  return 1;
}

int Dmz::loaddmzconfig(FwMgr &m) {
  if (dmzen != 1) return 1;
  if (!is_ipv4(dmzip)) {
    m.sh().settle();
    puts("fwmgr: DMZ on without a valid dmzip; DMZ not loaded");
    return 1;
  }
  if (!m.natAddressesOk("DMZ")) return 1;
  m.sh().vk_SystemEx("iptables -t nat -A %s -d %s -j DNAT --to %s", kDmzPre, m.strwanip, dmzip);
  if (!is_ipv4(m.strlannet)) {
    m.sh().settle();
    puts("fwmgr: no usable LAN network; no SNAT line for the DMZ");
    return 1;
  }
  m.sh().vk_SystemEx("iptables -t nat -A %s -d %s -s %s/%d -j SNAT --to %s", kDmzPost, dmzip, m.strlannet,
                     m.netsize, m.strlanip);
  return 1;
}

int Dmz::unloaddmzconfig(FwMgr &m) {
  if (dmzen != 1) return 1;
  m.sh().vk_SystemEx("iptables -t nat -F %s", kDmzPre);
  m.sh().vk_SystemEx("iptables -t nat -F %s", kDmzPost);
  return 1;
}

// ---------------------------------------------------------------- ALG blocking

void Alg::readalgconfig(FwMgr &m) { m.settings().get("alg_service", algMask); }

int Alg::loadalgconfig(FwMgr &m) {
  // The drop lines of each position of algMask ("0" = blocked), by position.
  struct Drop {
    const char *proto;
    int port;
  };
  static const struct {
    Drop drops[4];
  } kPositions[5] = {
      {{{"tcp", 21}}},                                             // FTP
      {{{"tcp", 69}, {"udp", 69}}},                                // TFTP
      {{{"tcp", 1723}, {"udp", 1723}}},                            // PPTP
      {{{"tcp", 4500}, {"udp", 4500}, {"tcp", 1293}, {"udp", 1293}}},  // IPsec
      {{{"tcp", 1701}, {"udp", 1701}}},                            // L2TP
  };
  m.sh().vk_SystemEx("iptables -t filter -F %s", kAlgChain);
  size_t len = strnlen(algMask, sizeof algMask);
  for (size_t pos = 0; pos < 5; ++pos) {
    if (pos >= len || algMask[pos] != '0') continue;  // beyond the value: allowed
    for (const Drop &d : kPositions[pos].drops)
      if (d.proto)
        m.sh().vk_SystemEx("iptables -t filter -A %s -p %s --dport %d -j DROP", kAlgChain, d.proto, d.port);
  }
  return 1;
}

}  // namespace rc
