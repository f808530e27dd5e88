// QoS bandwidth control: an HTB root on the LAN interface (the hosts'
// download) and on the WAN interface (their upload), one class with an SFQ
// queue and an fw filter per limited address or range on each side; the
// marks come from the router kernel's GROUPMARK target in the chain qos.
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "common/netutil.h"
#include "fwmgr/fields.h"
#include "fwmgr/fwmgr.h"
#include "fwmgr/qos.h"

namespace rc {

namespace {
constexpr const char *kQosChain = "qos";
}  // namespace

int Qos::readqosconfig(FwMgr &m) {
  memset(qosinfo, 0, sizeof qosinfo);
  qosnum = 0;
  activeqos = 0;
  if (m.readNumber("qos_enable") == 0) return 1;
  int count = m.readNumber("qos_num");
  if (count > kMaxQos) count = kMaxQos;
  m.readspecialdata(m.listbuf, FwMgr::kListBufSize, count, "qoslist", 8);
  // A record's number (its marks and classes) is its position in the list:
  // a refused record keeps its slot, disabled, so the later ones keep theirs.
  qosnum = count > 0 ? count : 0;
  forEachRecord(m.listbuf, count, "QoS", [&](int n, const char *p, const char *end) {
    QosRecord r = {};
    FieldReader f(p, end);
    int upfirst, uprate, downfirst, downrate, group, enable;
    const char *why = nullptr;
    if (!f.text('-', r.startIp, sizeof r.startIp, "start address") ||
        !f.text(';', r.endIp, sizeof r.endIp, "end address") ||
        !f.wideNumber('-', upfirst, "upload first number") || !f.wideNumber(';', uprate, "upload rate") ||
        !f.wideNumber('-', downfirst, "download first number") || !f.wideNumber(';', downrate, "download rate") ||
        !f.wideNumber(';', group, "group") || !f.lastNumber(enable, "enable"))
      why = f.why();
    else if (!is_ipv4(r.startIp))
      why = "start address is not an IPv4 address";
    else if (!is_ipv4(r.endIp))
      why = "end address is not an IPv4 address";
    if (why) {
      printf("fwmgr: QoS record %d dropped: %s\n", n, why);
      return;
    }
    r.upfirst = upfirst;
    r.uprate = uprate;
    r.downfirst = downfirst;
    r.downrate = downrate;
    r.group = group;
    r.enable = enable;
    if (enable == 1) ++activeqos;
    qosinfo[n - 1] = r;
  });
  return 1;
}

// The classes of each address of a per-address record, named by the
// address's last ndepth+1 octets written one after the other.
void Qos::qosAddressLines(FwMgr &m, const QosRecord &r) {
  if (m.ndepth < 0 || m.ndepth > 2) return;
  uint32_t first = ntohl(inet_addr(r.startIp)), last = ntohl(inet_addr(r.endIp));
  if (last < first) return;
  if (last - first >= kMaxQosRange) {
    m.sh().settle();  // after the output of the lines before it
    printf("fwmgr: QoS range %s-%s holds more than %u addresses; no classes per address\n", r.startIp,
           r.endIp, kMaxQosRange);
    return;
  }
  const uint32_t own = ntohl(m.lanip);
  for (uint32_t a = first;; ++a) {
    if (a != own) {
      unsigned b = (a >> 16) & 255, c = (a >> 8) & 255, d = a & 255;
      char oct[16];
      if (m.ndepth == 0)
        snprintf(oct, sizeof oct, "%u", d);
      else if (m.ndepth == 1)
        snprintf(oct, sizeof oct, "%u%u", c, d);
      else
        snprintf(oct, sizeof oct, "%u%u%u", b, c, d);
      const struct {
        const char *dev;
        int rate;
      } sides[] = {{m.lanname, r.downrate}, {m.wanname, r.uprate}};
      for (const auto &side : sides) {
        m.sh().vk_SystemEx("tc class add dev %s parent 1:1 classid 1:1%s htb rate %dkbps ceil %dkbps", side.dev, oct,
                           side.rate, side.rate);
        m.sh().vk_SystemEx("tc qdisc add dev %s parent 1:1%s handle 1%s sfq perturb 10", side.dev, oct, oct);
        m.sh().vk_SystemEx("tc filter add dev %s parent 1:0 protocol ip handle 100%s fw classid 1:1%s", side.dev, oct,
                           oct);
      }
    }
    if (a == last) break;
  }
}

int Qos::loadqosconfig(FwMgr &m) {
  if (activeqos <= 0) return 1;
  // Up to 8 lines a record and 6 an address, nothing read between them.
  Shell::Stream stream(m.sh());
  m.sh().vk_SystemEx("tc qdisc add dev %s root handle 1: htb", m.lanname);
  m.sh().vk_SystemEx("tc qdisc add dev %s root handle 1: htb", m.wanname);
  for (int i = 0; i < qosnum; ++i) {
    const QosRecord &r = qosinfo[i];
    if (r.enable == 0) continue;
    int n = i + 1;
    if (r.group != 0) {
      m.sh().vk_SystemEx("iptables -A %s -m iprange --dst-range %s-%s -j GROUPMARK --set-mark 2%d", kQosChain,
                         r.startIp, r.endIp, n);
      m.sh().vk_SystemEx("iptables -A %s -m iprange --src-range %s-%s -j GROUPMARK --set-mark 2%d", kQosChain,
                         r.startIp, r.endIp, n);
      const struct {
        const char *dev;
        int rate;
      } sides[] = {{m.lanname, r.downrate}, {m.wanname, r.uprate}};
      for (const auto &side : sides) {
        m.sh().vk_SystemEx("tc class add dev %s parent 1:1 classid 1:2%d htb rate %dkbps ceil %dkbps", side.dev, n,
                           side.rate, side.rate);
        m.sh().vk_SystemEx("tc qdisc add dev %s parent 1:2%d handle 2%d sfq perturb 10", side.dev, n, n);
        m.sh().vk_SystemEx("tc filter add dev %s parent 1:0 protocol ip handle 2%d fw classid 1:2%d", side.dev, n, n);
      }
    } else {
      m.sh().vk_SystemEx("iptables -A %s -m iprange --src-range %s-%s -j GROUPMARK --ip 0 --port 0 --dir 1 --net %d",
                         kQosChain, r.startIp, r.endIp, m.ndepth);
      m.sh().vk_SystemEx("iptables -A %s -m iprange --dst-range %s-%s -j GROUPMARK --ip 0 --port 0 --dir 2 --net %d",
                         kQosChain, r.startIp, r.endIp, m.ndepth);
      qosAddressLines(m, r);
    }
  }
  return 1;
}

// Both root disciplines go, so a changed setting never meets the old WAN
// classes with their old upload rates.
int Qos::unloadqosconfig(FwMgr &m) {
  if (activeqos <= 0) return 1;
  m.sh().vk_SystemEx("tc qdisc del dev %s root", m.lanname);
  m.sh().vk_SystemEx("tc qdisc del dev %s root", m.wanname);
  m.sh().vk_SystemEx("iptables -t filter -F %s", kQosChain);
  return 1;
}

}  // namespace rc
