// The small services: LAN and WAN management access to the web pages, the
// DDNS client, the DNS override and the DNS proxy rule, the kernel's NAT
// session-limit table and the static routes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/abi/connlimit.h"
#include "common/bstr.h"
#include "common/netutil.h"
#include "fwmgr/fields.h"
#include "fwmgr/fwmgr.h"
#include "fwmgr/services.h"

namespace rc {

namespace {

constexpr const char *kLanAdminChain = "web_lanadmin";
constexpr const char *kWanAdminChain = "web_wanadmin";
constexpr const char *kAccessChain = "web_access";

// An address that stands for "any": empty or 0.0.0.0.
bool anyAddress(const char *ip) { return !ip[0] || strcmp(ip, "0.0.0.0") == 0; }

// The DDNS clients: program to stop, and for inadyn the system identifier.
struct DdnsService {
  const char *program;
  const char *inadynSystem;  // nullptr: not an inadyn service
};
constexpr DdnsService kDdns[] = {
    {"3322ip", nullptr},
    {"88ip", nullptr},
    {"inadyn", "default@freedns.afraid.org"},  // FreeDNS
    {"inadyn", "default@zoneedit.com"},        // ZoneEdit
    {"inadyn", "default@no-ip.com"},           // No-IP
    {"inadyn", "dyndns@dyndns.org"},           // DynDNS
};
constexpr int kDdnsTypes = sizeof kDdns / sizeof kDdns[0];

void putLe32(unsigned char *at, uint32_t v) {
  at[0] = static_cast<unsigned char>(v);
  at[1] = static_cast<unsigned char>(v >> 8);
  at[2] = static_cast<unsigned char>(v >> 16);
  at[3] = static_cast<unsigned char>(v >> 24);
}

// Reads a port key: a number from 1 to 65535, else (printed) fallback.
int readPort(FwMgr &m, const char *key, int fallback) {
  m.settings().get(key, m.value);
  int port = atoi(m.value);
  if (port >= 1 && port <= 65535) return port;
  char seen[kShownSize];
  printf("fwmgr: %s \"%s\" is not a port from 1 to 65535; %d used\n", key, shown(m.value, seen), fallback);
  return fallback;
}

// Reads a management address key into dst: an address, a network or
// empty. Anything else leaves dst empty and returns false.
bool readNet(FwMgr &m, const char *key, char (&dst)[20]) {
  m.settings().get(key, m.value);
  bool ok = !m.value[0] || (strlen(m.value) < sizeof dst && is_ipv4_net(m.value));
  bcopy_text(dst, ok ? m.value : "");
  return ok;
}

}  // namespace

// ---------------------------------------------------------------- management access

int LanWeb::readwebaccessconfig(FwMgr &m) {
  webaccessen = m.readNumber("webipen");
  lanwebipbad = !readNet(m, "webip", lanwebip);
  if (lanwebipbad) {
    char seen[kShownSize];
    printf("fwmgr: webip \"%s\" is not an IPv4 address or network; refused\n", shown(m.value, seen));
  }
  weblistenport = webaccessen == 1 ? readPort(m, "webport", 80) : 80;
  return 1;
}

int WanWeb::readwanwebconfig(FwMgr &m) {
  wanweben = m.readNumber("wanweben");
  wanwebipbad = !readNet(m, "wanwebip", wanwebip);
  if (wanwebipbad) {
    char seen[kShownSize];
    printf("fwmgr: wanwebip \"%s\" is not an IPv4 address or network; no WAN management rule\n",
           shown(m.value, seen));
  }
  wanwebport = wanweben == 1 ? readPort(m, "wanwebport", 0) : m.readNumber("wanwebport");
  return 1;
}

void LanWeb::loadlanwebrules(FwMgr &m) {
  if (webaccessen != 1) return;
  if (!is_ipv4(m.strlanip)) {
    puts("fwmgr: no valid LAN address; LAN management rules not loaded");
    return;
  }
  if (weblistenport != 80) {
    m.sh().vk_SystemEx("iptables -t nat -A %s -i %s -d %s -p tcp --dport 80 -j DROP", kLanAdminChain, m.lanname,
                       m.strlanip);
    m.sh().vk_SystemEx("iptables -t nat -A %s -i %s -d %s -p tcp --dport %d -j DNAT --to %s:80", kLanAdminChain,
                       m.lanname, m.strlanip, weblistenport, m.strlanip);
  }
  // The one host admitted is unknown when its address was refused: none is,
  // rather than every one.
  if (lanwebipbad) puts("fwmgr: no valid webip; the management pages are closed to every LAN host");
  if (lanwebipbad || !anyAddress(lanwebip)) {
    if (!lanwebipbad)
      m.sh().vk_SystemEx("iptables -t filter -A %s -i %s -s %s -d %s -p tcp --dport 80 -j ACCEPT", kAccessChain,
                         m.lanname, lanwebip, m.strlanip);
    m.sh().vk_SystemEx("iptables -t filter -A %s -i %s -d %s -p tcp --dport 80 -j DROP", kAccessChain, m.lanname,
                       m.strlanip);
  }
}

void LanWeb::cmdLanWeb(FwMgr &m, const FwFeature &self) {
  // The settings are read before the flush: a refused address with the host
  // limit on keeps the rules in force (and their settings), since replacing
  // them could only lift the limit.
  const int oldEn = webaccessen, oldBad = lanwebipbad, oldPort = weblistenport;
  char oldIp[sizeof lanwebip];
  bcopy_text(oldIp, lanwebip);
  ConfigStore &cfm = m.services().cfm;
  cfm.Init_vxm810_cfm();
  readwebaccessconfig(m);
  cfm.CloseCfm();
  if (webaccessen == 1 && lanwebipbad) {
    puts("fwmgr: LAN management rules left as they were");
    webaccessen = oldEn;
    lanwebipbad = oldBad;
    weblistenport = oldPort;
    bcopy_text(lanwebip, oldIp);
    return;
  }
  m.flushChains(self);  // web_access, web_lanadmin
  loadlanwebrules(m);
}

void WanWeb::unloadwanwebrule(FwMgr &m) { m.sh().vk_SystemEx("iptables -t nat -F %s", kWanAdminChain); }

void WanWeb::loadwanwebrule(FwMgr &m) {
  if (wanweben != 1 || wanwebport < 1) return;
  // A refused source address adds no rule: without "-s" the pages would be
  // open to the whole WAN.
  if (wanwebipbad) return;
  if (!m.natAddressesOk("WAN management rule")) return;
  if (!anyAddress(wanwebip))
    m.sh().vk_SystemEx("iptables -t nat -A %s -p tcp -d %s -s %s --dport %d -j DNAT --to %s:80", kWanAdminChain,
                       m.strwanip, wanwebip, wanwebport, m.strlanip);
  else
    m.sh().vk_SystemEx("iptables -t nat -A %s -p tcp -d %s --dport %d -j DNAT --to %s:80", kWanAdminChain, m.strwanip,
                       wanwebport, m.strlanip);
}

// ---------------------------------------------------------------- DDNS

int Ddns::readddnsconfig(FwMgr &m) {
  ddnsen = m.readNumber("ddns_en");
  ddnstype = m.readNumber("ddns_type");
  m.settings().get("ddns_user", ddnsuser);
  m.settings().get("ddns_pwd", ddnspwd);
  m.settings().get("ddns_domain", ddnsdomain);
  return 1;
}

int Ddns::loadddnsconfig(FwMgr &m) {
  if (ddnsen == 0 || ddnstype < 0 || ddnstype >= kDdnsTypes) return 1;
  if (ddnstype != 1 && !is_hostname(ddnsdomain)) {
    m.sh().settle();  // the message after the lines before it (WAN-up streams them)
    char seen[kShownSize];
    printf("fwmgr: ddns_domain \"%s\" is not a host name; DDNS not started\n", shown(ddnsdomain, seen));
    return 1;
  }
  char user[4 * sizeof ddnsuser + 3], pwd[4 * sizeof ddnspwd + 3];
  shell_quote(ddnsuser, user);
  shell_quote(ddnspwd, pwd);
  // The line must fit doSystemCmd's buffer whole: a cut line could end
  // inside a quoted value.
  char line[Shell::kDoSystemBufSize + 1];
  int n;
  if (ddnstype == 0)
    n = snprintf(line, sizeof line, "3322ip -S qdns -u %s:%s -h %s &", user, pwd, ddnsdomain);
  else if (ddnstype == 1)
    n = snprintf(line, sizeof line, "88ip %s %s  &", user, pwd);
  else
    n = snprintf(line, sizeof line, "inadyn -u %s -p %s -a %s --dyndns_system  %s &", user, pwd, ddnsdomain,
                 kDdns[ddnstype].inadynSystem);
  if (n < 0 || n >= static_cast<int>(Shell::kDoSystemBufSize)) {
    m.sh().settle();
    puts("fwmgr: the DDNS start line is longer than 255 characters; DDNS not started");
    return 1;
  }
  m.sh().doSystemCmd("%s", line);
  return 1;
}

int Ddns::unloadddnsconfig(FwMgr &m) {
  if (ddnsen == 0 || ddnstype < 0 || ddnstype >= kDdnsTypes) return 1;
  m.sh().settle();  // the client is stopped after the lines before it (WAN-down streams them)
  m.services().procs.send_signal(SIGKILL, kDdns[ddnstype].program);
  return 1;
}

void Ddns::clearDdnsStatus(FwMgr &m) {
  int status = m.sh().doSystemCmd("echo 0 > /etc/ddns");
  if (status != 0)
    printf("fwmgr: cannot write /etc/ddns: exit status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : status);
}

// ---------------------------------------------------------------- DNS

void Dns::dnsOverride(FwMgr &m) {
  if (m.readNumber("dnsen") != 1) return;
  char dns1[16], dns2[16];
  m.readAddress("dns_dns1", dns1);
  m.readAddress("dns_dns2", dns2);
  if (anyAddress(dns1)) {
    puts("fwmgr: DNS override on without a first server; resolv.conf left alone");
    return;
  }
  // The lines run through the shell, which reports nothing back: each file
  // is read again to see whether the write arrived (a full /etc). Without a
  // whole backup the WAN's servers stay, or a later restore would copy the
  // broken backup over them.
  Paths::Buf resolv, bak;
  m.services().paths.sys("/etc/resolv.conf", resolv);
  m.services().paths.sys("/etc/bakresolv.conf", bak);
  m.sh().vk_SystemEx("cp /etc/resolv.conf /etc/bakresolv.conf");
  if (copy_differs(resolv, bak) == 1) {
    puts("fwmgr: cannot write /etc/bakresolv.conf: the copy of /etc/resolv.conf is incomplete; "
         "DNS servers left as they are");
    // The part that arrived goes, so no later restore can take it.
    if (unlink(bak) != 0 && errno != ENOENT) printf("fwmgr: cannot remove %s: %s\n", bak, strerror(errno));
    return;
  }
  m.sh().vk_SystemEx("echo nameserver %s > /etc/resolv.conf", dns1);
  // Any valid second address counts, also one of 7 characters (1.1.1.1).
  bool second = !anyAddress(dns2);
  if (second) m.sh().vk_SystemEx("echo nameserver %s >> /etc/resolv.conf", dns2);
  char got1[24], got2[24] = "";
  getDns(1, got1, sizeof got1, resolv);
  if (second) getDns(2, got2, sizeof got2, resolv);
  if (strcmp(got1, dns1) != 0 || (second && strcmp(got2, dns2) != 0))
    printf("fwmgr: cannot write /etc/resolv.conf: it does not name %s%s%s\n", dns1, second ? " and " : "",
           second ? dns2 : "");
}

void Dns::dnsRestore(FwMgr &m) {
  Paths::Buf resolv, bak;
  // A backup that is there but not whole (empty, or cut inside a line: a
  // copy that ran out of room, or one made by an earlier program) would put
  // a broken server list over the current one: it goes instead.
  m.services().paths.sys("/etc/bakresolv.conf", bak);
  int fd = open(bak, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    char last = '\0';
    bool whole = fstat(fd, &st) == 0 && st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) == 1 && last == '\n';
    close(fd);
    if (!whole) {
      puts("fwmgr: /etc/bakresolv.conf is not a whole copy (empty or cut); removed, resolv.conf left as it is");
      unlink(bak);
      return;
    }
  }
  m.sh().vk_SystemEx("cp /etc/bakresolv.conf /etc/resolv.conf");
  // No backup: nothing was copied, resolv.conf stays as it is.
  if (copy_differs(bak, m.services().paths.sys("/etc/resolv.conf", resolv)) == 1)
    puts("fwmgr: cannot write /etc/resolv.conf: the copy of /etc/bakresolv.conf is incomplete");
}

void Dns::readdnsconfig(FwMgr &m) {
  if (m.readNumber("dnsen") == 1)
    dnsOverride(m);
  else
    dnsRestore(m);
}

int Dns::loaddnsproxy(FwMgr &m) {
  Paths::Buf path;
  char dns[24] = "";
  getDns(1, dns, sizeof dns, m.services().paths.sys("/etc/resolv.conf", path));
  if (!is_ipv4(dns)) {
    pridns[0] = '\0';
    m.sh().settle();
    char seen[kShownSize];
    if (dns[0])
      printf("fwmgr: first DNS server \"%s\" is not an IPv4 address; no DNS proxy rule\n", shown(dns, seen));
    return 1;
  }
  bcopy_text(pridns, dns);
  if (!is_ipv4(m.strlanip)) return 1;
  m.sh().vk_SystemEx("iptables -t nat -A PREROUTING -i %s -p udp -d %s --dport 53 -j DNAT --to %s:53", m.lanname,
                     m.strlanip, pridns);
  return 1;
}

int Dns::unloaddnsproxy(FwMgr &m) {
  if (!pridns[0] || !is_ipv4(m.strlanip)) return 1;
  m.sh().vk_SystemEx("iptables -t nat -D PREROUTING -i %s -p udp -d %s --dport 53 -j DNAT --to %s:53", m.lanname,
                     m.strlanip, pridns);
  pridns[0] = '\0';
  return 1;
}

// ---------------------------------------------------------------- connection limits

int FwMgr::loadnatlimitconfig() {
  // The kernel's table (connlimit_table), written byte by byte: its words
  // are little-endian whatever this processor's order.
  unsigned char rec[sizeof(connlimit_table)];
  putLe32(rec + offsetof(connlimit_table, enable), static_cast<uint32_t>(readNumber("natlimit_enble")));
  size_t len = offsetof(connlimit_table, entry);
  settings_.get("natlimit_list", value);
  const char *p = value, *listEnd = value + strlen(value);
  for (int n = 1; p < listEnd; ++n) {
    const char *end = static_cast<const char *>(memchr(p, ',', static_cast<size_t>(listEnd - p)));
    if (!end) end = listEnd;
    if (len == sizeof rec) {
      printf("fwmgr: natlimit_list holds more than %d entries; entry %d and later dropped\n", kConnLimits, n);
      break;
    }
    FieldReader f(p, end);
    char start[16], last[16];
    int first, second;
    const char *why = nullptr;
    if (!f.text(';', start, sizeof start, "start address") || !f.text(';', last, sizeof last, "end address") ||
        !f.number(';', first, "first number") || !f.number('\0', second, "second number"))
      why = f.why();
    else if (!is_ipv4(start) || !is_ipv4(last))
      why = "an address is not an IPv4 address";
    if (why) {
      printf("fwmgr: natlimit_list entry %d dropped: %s\n", n, why);
    } else {
      uint32_t a = inet_addr(start), b = inet_addr(last);  // network byte order, copied as they are
      unsigned char *e = rec + len;
      memcpy(e + offsetof(connlimit_entry, start), &a, 4);
      memcpy(e + offsetof(connlimit_entry, end), &b, 4);
      putLe32(e + offsetof(connlimit_entry, first), static_cast<uint32_t>(first));
      putLe32(e + offsetof(connlimit_entry, second), static_cast<uint32_t>(second));
      len += sizeof(connlimit_entry);
    }
    p = end + 1;
  }
  Paths::Buf path;
  int fd = open(s_.paths.kernel("/proc/vkproc/connlimit", path), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    printf("fwmgr: cannot open %s: %s; no connection limits\n", path, strerror(errno));
    return 1;
  }
  ssize_t n = write(fd, rec, len);
  if (n < 0)
    printf("fwmgr: cannot write %s: %s\n", path, strerror(errno));
  else if (static_cast<size_t>(n) != len)
    printf("fwmgr: cannot write %s: %zd of %zu bytes written\n", path, n, len);
  close(fd);
  return 1;
}

// ---------------------------------------------------------------- static routes

int FwMgr::loadroutestatic() {
  char key[24];
  for (int i = 0; i < kMaxRoutes; ++i) {
    snprintf(key, sizeof key, "static_route_%d", i);
    settings_.get(key, value);
    if (strlen(value) < 11) break;
    FieldReader f(value, value + strlen(value));
    char net[16], mask[16], gw[16];
    const char *why = nullptr;
    if (!f.text(';', net, sizeof net, "network") || !f.text(';', mask, sizeof mask, "mask") ||
        !f.text('\0', gw, sizeof gw, "gateway"))
      why = f.why();
    else if (!is_ipv4(net) || !is_ipv4(mask) || !is_ipv4(gw))
      why = "network, mask and gateway must be IPv4 addresses";
    if (why) {
      printf("fwmgr: %s skipped: %s\n", key, why);
      continue;
    }
    sh_.doSystemCmd("route add -net %s netmask %s gw %s", net, mask, gw);
  }
  return 1;
}

}  // namespace rc
