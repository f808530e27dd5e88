// Attack defence and application blocking: the router kernel's FIREWALL
// target for LAN flood and scan defence, ping blocking in the chain ping,
// and the application drop lines in safe_filter.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "fwmgr/fwmgr.h"
#include "fwmgr/attack.h"

namespace rc {

namespace {

constexpr const char *kPingChain = "ping";
constexpr const char *kSafeChain = "safe_filter";
// The host the QQ web client is fetched from.
constexpr const char *kQqWebHost = "w.qq.com";
constexpr int kAttackFields = 20;

// Reads a ","-separated address list into dst with "~" between the
// addresses; a list with anything but addresses, or one that does not fit
// (cut, it would end inside an address), is refused (dst empty, false).
bool readSourceList(const char *key, const char *value, char (&dst)[256]) {
  dst[0] = '\0';
  if (strlen(value) >= sizeof dst) {
    char seen[kShownSize];
    printf("fwmgr: %s \"%s\" is longer than %d characters; its rules are not added\n", key, shown(value, seen),
           static_cast<int>(sizeof dst) - 1);
    return false;
  }
  char one[16];
  const char *p = value;
  while (*p) {
    const char *comma = strchr(p, ',');
    size_t n = comma ? static_cast<size_t>(comma - p) : strlen(p);
    bool ok = n < sizeof one;
    if (ok) {
      memcpy(one, p, n);
      one[n] = '\0';
      ok = is_ipv4(one);
    }
    if (!ok) {
      char seen[kShownSize];
      printf("fwmgr: %s \"%s\" holds something other than IPv4 addresses; its rules are not added\n", key,
             shown(value, seen));
      dst[0] = '\0';
      return false;
    }
    if (dst[0]) bappend_text(dst, sizeof dst, "~");
    bappend_text(dst, sizeof dst, one);
    p += comma ? n + 1 : n;
  }
  return true;
}

}  // namespace

int Attack::readattackconfig(FwMgr &m) {
  int f[kAttackFields] = {};
  m.settings().get("lan_attack_defence", m.value);
  const char *p = m.value;
  for (int i = 0; i < kAttackFields && *p; ++i) {
    f[i] = atoi(p);
    const char *comma = strchr(p, ',');
    if (!comma) break;
    p = comma + 1;
  }
  attackflags = 0;
  ipscan = 0;
  if (f[0]) attackflags += 2;
  portscan = f[1];
  if (f[2]) attackflags += 8;
  icmpflood = f[3];
  if (f[4]) attackflags += 16;
  udpflood = f[5];
  if (f[6]) attackflags += 32;
  synflood = f[7];
  if (f[8]) attackflags += 1048576;
  wanping = f[8];
  if (f[9]) attackflags += 2097152;
  lanping = f[9];
  ActiveX = f[10];
  Javascript = f[11];
  Sock4 = f[12];
  Sock5 = f[13];
  Httpproxy = f[14];
  QQ = f[15];
  MSN = f[16];
  BT = f[17];
  eDonkey = f[18];
  Virus = f[19];
  // A refused list leaves the blocking off rather than on for every source.
  m.settings().get("qqip", m.value);
  if (!readSourceList("qqip", m.value, qqip)) QQ = 0;
  m.settings().get("msnip", m.value);
  if (!readSourceList("msnip", m.value, msnip)) MSN = 0;
  return 1;
}

int Attack::loadattackconfig(FwMgr &m) {
  if (lanping == 1)
    m.sh().vk_SystemEx("iptables -t filter -A %s -i %s -p icmp --icmp-type 8 -j DROP", kPingChain, m.lanname);
  m.sh().vk_SystemEx(
      "iptables -t mangle -A PREROUTING -i %s -j FIREWALL --flags %d --ipscan %d --portscan %d --icmpflood %d "
      "--udpflood %d --synflood %d",
      m.lanname, attackflags, ipscan, portscan, icmpflood, udpflood, synflood);
  if (Sock5 == 1) m.sh().vk_SystemEx("iptables -t filter -A %s -m layer7 --l7proto socks -j DROP", kSafeChain);
  if (QQ == 1) {
    if (qqip[0]) {
      m.sh().vk_SystemEx("iptables -t filter -A %s -m groupip --sip %s -m layer7 --l7proto qq -j DROP", kSafeChain,
                         qqip);
      if (Sock5 == 0)
        m.sh().vk_SystemEx("iptables -t filter -A %s -m groupip --sip %s -m layer7 --l7proto socks -j DROP", kSafeChain,
                           qqip);
      m.sh().vk_SystemEx(
          "iptables -t filter -A %s -m groupip --sip %s -p tcp --dport 80 -m groupurl --src-groupurl %s -j DROP",
          kSafeChain, qqip, kQqWebHost);
    } else {
      m.sh().vk_SystemEx("iptables -t filter -A %s -m layer7 --l7proto qq -j DROP", kSafeChain);
      if (Sock5 == 0) m.sh().vk_SystemEx("iptables -t filter -A %s -m layer7 --l7proto socks -j DROP", kSafeChain);
      m.sh().vk_SystemEx("iptables -t filter -A %s -p tcp --dport 80 -m groupurl --src-groupurl %s -j DROP", kSafeChain,
                         kQqWebHost);
    }
  }
  if (MSN == 1) {
    if (msnip[0])
      m.sh().vk_SystemEx("iptables -t filter -A %s -m groupip --sip %s -m layer7 --l7proto msn -j DROP", kSafeChain,
                         msnip);
    else
      m.sh().vk_SystemEx("iptables -t filter -A %s -m layer7 --l7proto msn -j DROP", kSafeChain);
  }
  if (BT == 1) m.sh().vk_SystemEx("iptables -t filter -A %s -m layer7 --l7proto bittorrent -j DROP", kSafeChain);
  if (eDonkey == 1) m.sh().vk_SystemEx("iptables -t filter -A %s -m layer7 --l7proto edonkey -j DROP", kSafeChain);
  const char *types = ActiveX == 1 && Javascript == 1 ? "ocx~cab~js~class"
                      : ActiveX == 1                  ? "ocx~cab"
                      : Javascript == 1               ? "js~class"
                                                      : nullptr;
  if (types)
    m.sh().vk_SystemEx("iptables -t filter -A %s -i %s -p tcp --dport 80 -m filetype --ft %s -j DROP", kSafeChain,
                       m.lanname, types);
  if (Httpproxy == 1)
    m.sh().vk_SystemEx("iptables -t filter -A %s -i %s -p tcp -m httpproxy --flag 1 -j DROP", kSafeChain, m.lanname);
  return 1;
}

int Attack::unloadattackconfig(FwMgr &m) {
  m.sh().vk_SystemEx("iptables -t filter -F %s", kPingChain);
  m.sh().vk_SystemEx(
      "iptables -t mangle -D PREROUTING -i %s -j FIREWALL --flags %d --ipscan %d --portscan %d --icmpflood %d "
      "--udpflood %d --synflood %d",
      m.lanname, attackflags, ipscan, portscan, icmpflood, udpflood, synflood);
  m.sh().vk_SystemEx("iptables -t filter -F %s", kSafeChain);
  return 1;
}

void Attack::wanPingRule(FwMgr &m, char op) {
  if (wanping != 1) return;
  m.sh().vk_SystemEx("iptables -t filter -%c %s -i %s -p icmp --icmp-type 8 -j DROP", op, kPingChain, m.wanname);
}

}  // namespace rc
