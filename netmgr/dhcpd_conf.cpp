// /etc/udhcpd.conf for the LAN DHCP server, written from the store.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "netmgr/netmgr.h"

namespace rc {

namespace {

// An address for the file: the value when it is an address or empty,
// otherwise empty (with the reason printed), so no stray text reaches
// udhcpd's configuration.
const char *addressOrEmpty(const char *key, const char *value) {
  if (!*value || is_ipv4(value)) return value;
  char seen[kShownSize];
  printf("netmgr: %s \"%s\" is not an IPv4 address; left empty in udhcpd.conf\n", key, shown(value, seen));
  return "";
}

// Takes the text up to the next ';' into out (cut to fit). Returns the
// position after the ';', or nullptr when there is none.
const char *takeField(const char *p, char *out, size_t size) {
  const char *end = strchr(p, ';');
  if (!end) return nullptr;
  size_t n = static_cast<size_t>(end - p);
  if (n >= size) n = size - 1;
  memcpy(out, p, n);
  out[n] = '\0';
  return end + 1;
}

bool digitsOnly(const char *s) {
  for (; *s; ++s)
    if (!isdigit(static_cast<unsigned char>(*s))) return false;
  return true;
}

// Lease minutes as seconds, saturated to the range of int (udhcpd reads the
// number as it stands; a value that far out must not overflow here).
long long leaseSeconds(const char *minutes) {
  long long s = static_cast<long long>(atoi(minutes)) * 60;
  return s > INT_MAX ? INT_MAX : s < INT_MIN ? INT_MIN : s;
}

}  // namespace

int NetMgr::GenDhcpdCfgFile() {
  char start[16], end[16], mask[16], dns1[16], dns2[16], ip[16], lease[16], num[16], mtu[16];
  settings_.get("dhcps_start", start);
  settings_.get("dhcps_end", end);
  settings_.get("lan_mask", mask);
  settings_.get("dhcps_dns1", dns1);
  settings_.get("dhcps_dns2", dns2);
  if (!dns1[0]) {
    settings_.get("dns_dns1", dns1);
    settings_.get("dns_dns2", dns2);
  }
  settings_.get("lan_ip", ip);
  settings_.get("lease_time", lease);
  settings_.get("dhcpStaticnum", num);
  settings_.get("dhcpStaticip", dhcpStaticip);

  Paths::Buf path;
  FILE *f = fopen(s_.paths.sys("/etc/udhcpd.conf", path), "w");
  if (!f) {
    printf("netmgr: cannot create /etc/udhcpd.conf: %s\n", strerror(errno));
    return 0;
  }

  fprintf(f, "start\t%s\n", addressOrEmpty("dhcps_start", start));
  fprintf(f, "end\t%s\n", addressOrEmpty("dhcps_end", end));
  fprintf(f, "interface\t%s\n", "br0");
  fprintf(f, "lease_file\t%s\n", "/etc/udhcpd.leases");
  fprintf(f, "lanip\t%s\n", addressOrEmpty("lan_ip", ip));
  fprintf(f, "option\tsubnet\t%s\n", addressOrEmpty("lan_mask", mask));
  fprintf(f, "option\tdns\t%s\t%s\n", addressOrEmpty("dns1", dns1), addressOrEmpty("dns2", dns2));
  fprintf(f, "option\trouter\t%s\n", addressOrEmpty("lan_ip", ip));
  fprintf(f, "option\tlease\t%lld\n", leaseSeconds(lease));

  switch (readNumber("wan_connecttype")) {
    case 1: settings_.get("staticMTU", mtu); break;
    case 2: settings_.get("dynamicMTU", mtu); break;
    case 3: settings_.get("ppoe_mtu", mtu); break;
    default: bcopy_text(mtu, "1500"); break;
  }
  if (!digitsOnly(mtu)) {
    char seen[kShownSize];
    printf("netmgr: WAN MTU \"%s\" is not a number; left empty in udhcpd.conf\n", shown(mtu, seen));
    mtu[0] = '\0';
  }
  fprintf(f, "option\tmtu\t%s\n", mtu);

  // Static leases: "ip;mac;other;" per lease, written MAC first.
  const char *p = dhcpStaticip;
  int leases = atoi(num);
  for (int i = 0; i < leases && p; ++i) {
    char leaseIp[32], leaseMac[32], skipped[32];
    p = takeField(p, leaseIp, sizeof leaseIp);
    if (p) p = takeField(p, leaseMac, sizeof leaseMac);
    if (p) p = takeField(p, skipped, sizeof skipped);
    if (!p) break;
    if (!is_ipv4(leaseIp) || !is_mac(leaseMac)) {
      char ip[kShownSize], mac[kShownSize];
      printf("netmgr: static lease \"%s\" \"%s\" is not an address and a MAC; skipped\n", shown(leaseIp, ip),
             shown(leaseMac, mac));
      continue;
    }
    fprintf(f, "static_lease\t%s\t%s\n", leaseMac, leaseIp);
  }
  // A full file system shows only here: the buffered text goes out at the
  // flush, so its failure is the write's.
  bool failed = ferror(f) != 0;
  if (fclose(f) != 0) failed = true;
  if (failed) {
    printf("netmgr: cannot write /etc/udhcpd.conf: %s\n", strerror(errno ? errno : EIO));
    return 0;
  }
  return 1;
}

}  // namespace rc
