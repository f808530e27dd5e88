// netmgr start-up, the commands of queue 204 and the pass; what the WAN
// types share: applying one, WAN-up and WAN-down, the notices, the MTU rule
// and its MSS clamp, the DHCP server restart.
#include "netmgr/netmgr.h"

#include <arpa/inet.h>
#include <signal.h>

#include <cstdio>

#include "common/bstr.h"
#include "common/netutil.h"

namespace rc {

namespace {

constexpr const char *kUdhcpdConf = "/etc/udhcpd.conf";

// Firewall chains the other daemons fill, in creation order.
constexpr const char *kNatChains[] = {"web_wanadmin",     "web_lanadmin",     "port_forward_pre",
                                      "port_forward_post", "dmz_forward_pre", "dmz_forward_post",
                                      "MINIUPNPD"};
constexpr const char *kFilterChains[] = {"alg_filter", "ip_filter", "url_filter",
                                         "mac_filter", "qos",       "ping",
                                         "web_access", "safe_filter", "account"};
// Jumps into the chains; their order is the order packets traverse them.
constexpr const char *kPreroutingJumps[] = {"web_wanadmin", "web_lanadmin", "port_forward_pre",
                                            "dmz_forward_pre", "MINIUPNPD"};
constexpr const char *kPostroutingJumps[] = {"port_forward_post", "dmz_forward_post"};
constexpr const char *kForwardJumps[] = {"account",    "qos",        "safe_filter", "mac_filter",
                                         "ip_filter",  "url_filter", "alg_filter"};
constexpr const char *kInputJumps[] = {"ping", "web_access"};

}  // namespace

NetMgr::NetMgr(const Services &s, DhcpAuth *auth)
    : s_(s), auth_(auth), sh_(s.sh), cfm_(s.cfm), settings_(s.cfm, kNetSettings) {}

int NetMgr::readNumber(const char *key) { return settings_.number(key); }

bool NetMgr::checkAddress(const char *what, const char *value, bool allowEmpty) {
  if (is_ipv4(value) || (allowEmpty && !*value)) return true;
  char seen[kShownSize];
  printf("netmgr: %s \"%s\" is not an IPv4 address; command skipped\n", what, shown(value, seen));
  return false;
}

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

void NetMgr::addMssClamp(char op, int mtu) {
  sh_.vk_SystemEx("iptables -t mangle -%c FORWARD -j TCPMSS -p tcp --syn --set-mss %d", op, mtu - 40);
  sh_.vk_SystemEx(
      "iptables -t mangle -%c FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss %d",
      op, mtu - 40);
}

void NetMgr::echoLines(const char *file, char quote, const char *const *lines, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (quote == '\'')
      sh_.doSystemCmd("echo '%s' >> %s ", lines[i], file);
    else if (quote == '"')
      sh_.doSystemCmd("echo \"%s\" >> %s ", lines[i], file);
    else
      sh_.doSystemCmd("echo %s >> %s ", lines[i], file);
  }
}

// ---------------------------------------------------------------- start-up

void NetMgr::start() {
  Shell::Batch batch(sh_);  // the start-up's lines through one shell
  cfm_.Init_vxm810_cfm();
  Init_Eth();
  bcopy_text(lanname, "br0");
  settings_.get("lan_ip", lan_ip);
  settings_.get("lan_mask", lan_mask);

  bool lanOk = checkAddress("lan_ip", lan_ip, false) && checkAddress("lan_mask", lan_mask, false);
  if (lanOk) {
    sh_.doSystemCmd("ifconfig %s %s netmask %s", lanname, lan_ip, lan_mask);
    sh_.doSystemCmd("arptables -A INPUT -i %s -j ipfilter --ip %s --netmask %s", lanname, lan_ip,
                    lan_mask);
  }

  sh_.vk_SystemEx("echo 1 > /proc/sys/net/ipv4/ip_forward");
  sh_.vk_SystemEx("echo 32768 > /proc/sys/net/nf_conntrack_max");
  sh_.vk_SystemEx("echo 1800 > /proc/sys/net/ipv4/netfilter/ip_conntrack_tcp_timeout_established");
  sh_.vk_SystemEx("echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_broadcasts");
  sh_.vk_SystemEx("echo 1 > /proc/sys/net/ipv4/icmp_ignore_bogus_error_responses");
  sh_.vk_SystemEx("echo \"1024 65000\" > /proc/sys/net/ipv4/ip_local_port_range");
  sh_.vk_SystemEx("ifconfig lo up");
  sh_.vk_SystemEx("route add -host 239.255.255.250 dev br0");

  for (const char *c : kNatChains) sh_.vk_SystemEx("iptables -t nat -N %s", c);
  for (const char *c : kFilterChains) sh_.vk_SystemEx("iptables -t filter -N %s", c);
  for (const char *c : kPreroutingJumps) sh_.vk_SystemEx("iptables -t nat -A PREROUTING -j %s", c);
  for (const char *c : kPostroutingJumps) sh_.vk_SystemEx("iptables -t nat -A POSTROUTING -j %s", c);
  for (const char *c : kForwardJumps) sh_.vk_SystemEx("iptables -t filter -A FORWARD -j %s", c);
  for (const char *c : kInputJumps) sh_.vk_SystemEx("iptables -t filter -A INPUT -j %s", c);

  sh_.doSystemCmd("mkdir /etc/ppp");
  sh_.doSystemCmd("echo 0 > /etc/ddns");
  sh_.doSystemCmd("cp -r /etc_ro/l7-protocols /etc");

  write_kernel_lanip(lan_ip, lan_mask);
  lanip = inet_addr(lan_ip);
  lanmask = inet_addr(lan_mask);
  lan_network(lanip, lanmask, strlannet, netsize, ndepth);

  switch (readNumber("wanparam")) {
    case 1: setwanmodespeed(0, 0); break;
    case 2: setwanmodespeed(1, 0); break;
    case 3: setwanmodespeed(0, 1); break;
    case 4: setwanmodespeed(1, 1); break;
    default: break;
  }

  wanconntype = readNumber("wan_connecttype");
  applyWanType(false);

  if (readNumber("dhcps_en") == 1) {
    GenDhcpdCfgFile();
    sh_.doSystemCmd("udhcpd %s &", kUdhcpdConf);
  }
  cfm_.CloseCfm();
}

void NetMgr::attachRing(syslog_ring *ring) {
  shmptr = ring;
  K3syslog(kMsgSystemStarted, shmptr, s_.clock);
}

void NetMgr::onQueue() {
  void *ring = nullptr;
  if (s_.ipc.createshm(&nshmid, kRingKey, kRingSize, &ring, true) < 0) ring = nullptr;
  attachRing(static_cast<syslog_ring *>(ring));
}

// ---------------------------------------------------------------- WAN types

const WanType *NetMgr::wanType(int type) {
  for (size_t i = 0; i < kWanTypeCount; ++i)
    if (kWanTypes[i].type == type) return &kWanTypes[i];
  return nullptr;
}

void NetMgr::applyWanType(bool reconfigure) {
  if (const char *name = wan_ifname(wanconntype)) bcopy_text(wanname, name);
  if (const WanType *t = wanType(wanconntype)) {
    if (t->read) t->read(*this);
    if (t->files) t->files(*this);
    if (t->start) t->start(*this);
  }
  if (reconfigure) cfm_.CloseCfm();
}

void NetMgr::wanUpNotice() {
  sh_.vk_SystemEx("sendmsg 201 2");
  sh_.vk_SystemEx("sendmsg 203 2");
}

void NetMgr::wanDownNotice() {
  sh_.vk_SystemEx("sendmsg 201 3");
  sh_.vk_SystemEx("sendmsg 203 3");
}

void NetMgr::dhcpServerRestart() {
  s_.procs.send_signal(SIGUSR1, "udhcpd");
  s_.clock.sleepMicros(100000);
  sh_.vk_SystemEx("killall -9 udhcpd");
  cfm_.Init_vxm810_cfm();
  if (readNumber("dhcps_en") == 1) {
    GenDhcpdCfgFile();
    sh_.doSystemCmd("udhcpd %s &", kUdhcpdConf);
  }
  cfm_.CloseCfm();
}

// ---------------------------------------------------------------- commands

void NetMgr::onCommand(long cmd) {
  Shell::Batch batch(sh_);  // a command's lines through one shell
  const WanType *active = wanType(wanconntype);
  switch (cmd) {
    case 2:
      sh_.vk_SystemEx("iptables -t nat -A POSTROUTING -o %s -j MASQUERADE", wanname);
      if (active && active->wanUp) active->wanUp(*this);
      wanUpNotice();
      dhcpServerRestart();
      return;
    case 3:
      sh_.vk_SystemEx("iptables -t nat -D POSTROUTING -o %s -j MASQUERADE", wanname);
      if (active && active->wanDown) active->wanDown(*this);
      wanDownNotice();
      return;
    case 4:
      if (active && active->stop) active->stop(*this);
      wanDownNotice();
      s_.clock.sleepMicros(50000);
      cfm_.Init_vxm810_cfm();
      wanconntype = readNumber("wan_connecttype");
      bcopy_text(wanname, "eth2.2");
      applyWanType(true);
      return;
    case 9:
      dhcpServerRestart();
      return;
    default:
      break;
  }
  // The commands of the types; 1, 22, 24, 26 and unknown numbers are none.
  for (size_t i = 0; i < kWanTypeCount; ++i)
    for (const WanCommand &c : kWanTypes[i].commands)
      if (c.run && c.cmd == cmd) return c.run(*this);
}

// ---------------------------------------------------------------- periodic work

void NetMgr::onTick() {
  const WanType *active = wanType(wanconntype);
  if (active && active->pass) active->pass(*this);
  read_fw_log();
}

}  // namespace rc
