// IP-MAC binding: the whole list of LAN address and MAC pairs goes to the
// router kernel's arptables target ipmacbind and mangle target IPMACBIND on
// the LAN interface, one line each.
#include <cstdio>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "fwmgr/fields.h"
#include "fwmgr/fwmgr.h"
#include "fwmgr/ipmacbind.h"

namespace rc {

int IpMacBind::readipmacbindconfig(FwMgr &m) {
  memset(ipmacbindinfo, 0, sizeof ipmacbindinfo);
  ipmacbindnum = 0;
  if (m.readNumber("ipbindenable") == 0) return 1;
  ipmacbindother = m.readNumber("otherenable");
  int count = m.readNumber("ipbindnum");
  if (count > kMaxIpMac) count = kMaxIpMac;
  m.readspecialdata(m.listbuf, FwMgr::kMacListBufSize, count, "ipbindlist", 16);
  forEachRecord(m.listbuf, count, "IP-MAC binding", [&](int n, const char *p, const char *end) {
    IpMacPair pair = {};
    FieldReader f(p, end);
    const char *why = nullptr;
    if (!f.text(';', pair.ip, sizeof pair.ip, "address") || !f.text(';', pair.mac, sizeof pair.mac, "MAC address"))
      why = f.why();
    else if (!is_ipv4(pair.ip))
      why = "address is not an IPv4 address";
    else if (!is_mac(pair.mac))
      why = "MAC address is not six hexadecimal pairs separated by \":\"";
    if (why) {
      printf("fwmgr: IP-MAC binding record %d dropped: %s\n", n, why);
      return;
    }
    ipmacbindinfo[ipmacbindnum++] = pair;
  });
  return 1;
}

int IpMacBind::loadipmacbindconfig(FwMgr &m, int add) {
  if (ipmacbindnum <= 0) return 1;
  pairlist[0] = '\0';
  for (int i = 0; i < ipmacbindnum; ++i) {
    if (i) bappend_text(pairlist, sizeof pairlist, "~");
    bappend_text(pairlist, sizeof pairlist, ipmacbindinfo[i].ip);
    bappend_text(pairlist, sizeof pairlist, ",");
    bappend_text(pairlist, sizeof pairlist, ipmacbindinfo[i].mac);
  }
  char op = add == 1 ? 'A' : 'D';
  m.sh().vk_SystemEx("arptables -%c INPUT -i %s -j ipmacbind --ipmac %s", op, m.lanname, pairlist);
  m.sh().vk_SystemEx("iptables -t mangle -%c PREROUTING -i %s -j IPMACBIND --flags %d --ipmac %s", op, m.lanname,
                     ipmacbindother, pairlist);
  return 1;
}

}  // namespace rc
