// netmgr start-up, command table of queue 204, WAN types and the PPPoE
// schedule.
#include "netmgr/netmgr.h"

#include <arpa/inet.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"

namespace rc {

namespace {

constexpr const char *kPppd = "pppd";
constexpr const char *kUdhcpdConf = "/etc/udhcpd.conf";
// On-demand PPPoE with no idle limit: a limit that is never reached.
constexpr int kNoIdleLimit = 268435456;
// xl2tpd's control pipe, and how long netmgr waits for a starting xl2tpd to
// make it (in steps of 50 ms: at most 5 s).
constexpr const char *kL2tpControl = "/var/run/xl2tpd/l2tp-control";
constexpr int kL2tpPipeSteps = 100;

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

// A decimal number with nothing else in it, or -1.
int plainNumber(const char *text) {
  if (!*text || strlen(text) > 9) return -1;
  for (const char *p = text; *p; ++p)
    if (!isdigit(static_cast<unsigned char>(*p))) return -1;
  return atoi(text);
}

}  // namespace

NetMgr::NetMgr(const NetServices &s) : s_(s), sh_(s.sh), cfm_(s.cfm), settings_(s.cfm, kNetSettings) {}

int NetMgr::readNumber(const char *key) { return settings_.number(key); }

bool NetMgr::checkAddress(const char *what, const char *value, bool allowEmpty) {
  if (is_ipv4(value) || (allowEmpty && !*value)) return true;
  char seen[kShownSize];
  printf("netmgr: %s \"%s\" is not an IPv4 address; command skipped\n", what, shown(value, seen));
  return false;
}

void NetMgr::addMssClamp(char op, int mtu) {
  sh_.vk_SystemEx("iptables -t mangle -%c FORWARD -j TCPMSS -p tcp --syn --set-mss %d", op, mtu - 40);
  sh_.vk_SystemEx(
      "iptables -t mangle -%c FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss %d",
      op, mtu - 40);
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

// ---------------------------------------------------------------- WAN types

void NetMgr::startPppoe() {
  sh_.doSystemCmd("%s file /etc/options.pppoe &", kPppd);
  pppd_alive_flag = 1;
}

// xl2tpd makes its control pipe anew when it starts, dropping whatever file
// was there: a tunnel command written before that is lost (the tunnel never
// comes up), and one written into an earlier xl2tpd's pipe waits for a reader
// that never comes. So the old pipe goes first, and the command follows once
// the new one exists (or the wait is over), not after a fixed 50 ms.
void NetMgr::startL2tpLink() {
  Paths::Buf pipe;
  s_.paths.sys(kL2tpControl, pipe);
  unlink(pipe);
  sh_.doSystemCmd("xl2tpd &");
  struct stat st;
  for (int i = 0; i < kL2tpPipeSteps; ++i) {
    s_.clock.sleepMicros(50000);
    if (stat(pipe, &st) == 0 && S_ISFIFO(st.st_mode)) break;
  }
  sh_.doSystemCmd("echo 'c Linkn'> %s", kL2tpControl);
}

namespace {

// hours * 60 + minutes of the PPPoE schedule, saturated to the range of int:
// values far outside a day (no valid setting holds them) must not overflow;
// they still lie outside every time of day.
int dayMinute(int hours, int minutes) {
  long long m = static_cast<long long>(hours) * 60 + minutes;
  if (m > INT_MAX) return INT_MAX;
  if (m < INT_MIN) return INT_MIN;
  return static_cast<int>(m);
}

}  // namespace

void NetMgr::applyWanType(bool reconfigure) {
  if (const char *name = wan_ifname(wanconntype)) bcopy_text(wanname, name);

  switch (wanconntype) {
    case 1:
      settings_.get("wan_ip", strwanip);
      settings_.get("wan_mask", strwanmask);
      settings_.get("wan_gateway", strwangate);
      settings_.get("wan_dns1", strwandns1);
      settings_.get("wan_dns2", strwandns2);
      settings_.get("staticMTU", strwanmtu);
      setwanstaticip(wanname, strwanip, strwanmask, strwangate, strwandns1, strwandns2, strwanmtu);
      wanUpNotice();
      break;

    case 2:
      settings_.get("dynamicMTU", strwanmtu);
      setwandhcp(wanname, strwanmtu, "2", "3");
      break;

    case 3: {
      ppp_conn_type = 0;
      if (settings_.get("ppoe_conmode", scratch) == 1) ppp_conn_type = atoi(scratch);
      ppp_conn_wait_time = 0;
      if (settings_.get("ppoe_idletime", scratch) == 1) ppp_conn_wait_time = atoi(scratch);
      if (ppp_conn_type == 2 && ppp_conn_wait_time == 0) ppp_conn_wait_time = kNoIdleLimit;
      int hs = readNumber("ppoe_h_s"), ms = readNumber("ppoe_m_s");
      int he = readNumber("ppoe_h_e"), me = readNumber("ppoe_m_e");
      ppp_conn_start_min = dayMinute(hs, ms);
      ppp_conn_end_min = dayMinute(he, me);
      settings_.get("ppoe_userid", pppoe.user);
      settings_.get("ppoe_pwd", pppoe.pwd);
      settings_.get("ppoe_mtu", pppoe.mtu);
      if (!pppoe.mtu[0]) bcopy_text(pppoe.mtu, "1492");
      settings_.get("ppoe_sev", pppoe.service);
      settings_.get("ppoe_ac", pppoe.ac);
      Set_pppoe_conf(pppoe.user, pppoe.pwd, pppoe.service, pppoe.ac, pppoe.mtu);
      if (ppp_conn_type == 0) {
        startPppoe();
      } else if (ppp_conn_type == 2 && checkAddress("lan_ip", lan_ip, false) &&
                 checkAddress("lan_mask", lan_mask, false)) {
        sh_.doSystemCmd("iptables -t mangle -i br0 -A PREROUTING -j NETCHECK --ipaddr %s --netmask %s",
                        lan_ip, lan_mask);
      }
      break;
    }

    case 4:
      settings_.get("DHCP_plus_mtu", strwanmtu);
      setwandhcp(wanname, strwanmtu, "21", "22");
      break;

    case 5:
      readTunnel("pptp", pptp, pptp_ser);
      Set_pptp_conf(pptp.user, pptp.pwd, pptp_ser, pptp.mtu, pptp.mppe);
      if (atoi(pptp.addrmode) == 1) {
        fixedTunnelAddress(pptp, pptp_ser);
        sh_.doSystemCmd("%s file /etc/options.pptp &", kPppd);
      } else {
        setwandhcp("eth2.2", "1500", "23", "24");
      }
      break;

    case 6:
      readTunnel("l2tp", l2tp, l2tp_ser);
      Set_l2tp_conf(l2tp.user, l2tp.pwd, l2tp_ser, l2tp.mtu);
      if (atoi(l2tp.addrmode) == 1) {
        fixedTunnelAddress(l2tp, l2tp_ser);
        startL2tpLink();
      } else {
        setwandhcp("eth2.2", "1500", "25", "26");
      }
      break;

    default:
      break;
  }
  if (reconfigure) cfm_.CloseCfm();
}

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

// ---------------------------------------------------------------- stop sequences

void NetMgr::wanUpNotice() {
  sh_.vk_SystemEx("sendmsg 201 2");
  sh_.vk_SystemEx("sendmsg 203 2");
}

void NetMgr::wanDownNotice() {
  sh_.vk_SystemEx("sendmsg 201 3");
  sh_.vk_SystemEx("sendmsg 203 3");
}

void NetMgr::pppoeStop() {
  s_.procs.send_signal(SIGHUP, kPppd);
  s_.clock.sleepMicros(50000);
  s_.procs.send_signal(SIGKILL, kPppd);
  pppd_alive_flag = 0;
  sh_.vk_SystemEx("echo -n > /etc/resolv.conf");
  sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
}

void NetMgr::tunnelStop(const char *program) {
  sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
  s_.procs.send_signal(SIGQUIT, kPppd);
  s_.clock.sleepMicros(50000);
  s_.procs.send_signal(SIGKILL, kPppd);
  s_.procs.send_signal(SIGQUIT, program);
  s_.clock.sleepMicros(50000);
  s_.procs.send_signal(SIGKILL, program);
}

int NetMgr::pppoeMtu() const {
  int mtu = plainNumber(pppoe.mtu);
  char seen[kShownSize];
  if (mtu < 0)
    printf("netmgr: PPPoE MTU \"%s\" is not a number; MTU and MSS left alone\n", shown(pppoe.mtu, seen));
  return mtu;
}

void NetMgr::mssClampRemoval() {
  int mtu = pppoeMtu();
  if (mtu >= 0 && mtu != 1492) addMssClamp('D', mtu);
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

void NetMgr::tearDownWan() {
  switch (wanconntype) {
    case 1:
      unsetwanstaticip(wanname, strwanip, strwanmask, strwangate, strwandns1, strwandns2, strwanmtu);
      break;
    case 2:
    case 4:
      unsetwandhcp(wanname, strwanmtu);
      break;
    case 3:
      if (pppd_alive_flag != 1) break;
      sh_.vk_SystemEx("iptables -t nat -D POSTROUTING -o %s -j MASQUERADE", wanname);
      mssClampRemoval();
      if (ppp_conn_type == 2 && is_ipv4(lan_ip) && is_ipv4(lan_mask))
        sh_.doSystemCmd("iptables -t mangle -i br0 -D PREROUTING -j NETCHECK --ipaddr %s --netmask %s",
                        lan_ip, lan_mask);
      pppoeStop();
      break;
    case 5: tunnelStop("pptp"); break;
    case 6: tunnelStop("xl2tpd"); break;
    default: break;
  }
}

// ---------------------------------------------------------------- commands

void NetMgr::onCommand(long cmd) {
  Shell::Batch batch(sh_);  // a command's lines through one shell
  switch (cmd) {
    case 2: {
      sh_.vk_SystemEx("iptables -t nat -A POSTROUTING -o %s -j MASQUERADE", wanname);
      if (wanconntype == 3) {
        int mtu = pppoeMtu();
        if (mtu >= 0 && mtu != 1492) {
          sh_.vk_SystemEx("ifconfig %s mtu %d", wanname, mtu);
          addMssClamp('A', mtu);
        }
      }
      if (wanconntype == 5) sh_.vk_SystemEx("iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE");
      wanUpNotice();
      dhcpServerRestart();
      break;
    }
    case 3:
      sh_.vk_SystemEx("iptables -t nat -D POSTROUTING -o %s -j MASQUERADE", wanname);
      if (wanconntype == 3) mssClampRemoval();
      if (wanconntype == 5) sh_.vk_SystemEx("iptables -t nat -D POSTROUTING -o eth2.2 -j MASQUERADE");
      wanDownNotice();
      break;
    case 4:
      tearDownWan();
      wanDownNotice();
      s_.clock.sleepMicros(50000);
      cfm_.Init_vxm810_cfm();
      wanconntype = readNumber("wan_connecttype");
      bcopy_text(wanname, "eth2.2");
      applyWanType(true);
      break;
    case 5:
      unsetwandhcp(wanname, strwanmtu);
      wanDownNotice();
      break;
    case 6:
      setwandhcp(wanname, strwanmtu, "2", "3");
      break;
    case 7:
      if (pppd_alive_flag != 1) break;
      sh_.vk_SystemEx("iptables -t nat -D POSTROUTING -o %s -j MASQUERADE", wanname);
      mssClampRemoval();
      wanDownNotice();
      pppoeStop();
      break;
    case 8:
      if (pppd_alive_flag == 0) startPppoe();
      break;
    case 9:
      dhcpServerRestart();
      break;
    case 10:
      setwandhcp(wanname, strwanmtu, "21", "22");
      break;
    case 11:
      unsetwandhcp(wanname, strwanmtu);
      wanDownNotice();
      break;
    case 12:
      tunnelStop("pptp");
      sh_.doSystemCmd("%s file /etc/options.pptp &", kPppd);
      break;
    case 13:
      tunnelStop("pptp");
      wanDownNotice();
      break;
    case 14:
      tunnelStop("xl2tpd");
      startL2tpLink();
      break;
    case 15:
      tunnelStop("xl2tpd");
      wanDownNotice();
      break;
    case 21:
      sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
      cfm_.Init_vxm810_cfm();
      settings_.get("DHCP_plus_Name", dhcpplus_name);
      settings_.get("DHCP_plus_Pwd", dhcpplus_pwd);
      cfm_.CloseCfm();
      if (s_.dodhcpauth && s_.dodhcpauth(dhcpplus_name, dhcpplus_pwd) == 1) {
        unsetwandhcp(wanname, strwanmtu);
        setwandhcp(wanname, strwanmtu, "2", "3");
      }
      break;
    case 23:
      sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
      sh_.doSystemCmd("%s file /etc/options.pptp &", kPppd);
      break;
    case 25:
      sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
      startL2tpLink();
      break;
    default:  // 1, 22, 24, 26 and unknown numbers
      break;
  }
}

// ---------------------------------------------------------------- periodic work

void NetMgr::pppoeSchedule() {
  if (wanconntype != 3) return;
  if (ppp_conn_type == 3) {
    struct tm tm;
    s_.clock.localNow(&tm);
    int now = tm.tm_hour * 60 + tm.tm_min;
    bool inside = (ppp_conn_start_min == 0 && ppp_conn_end_min == 0) ||
                  (ppp_conn_start_min <= now && now <= ppp_conn_end_min);
    if (pppd_alive_flag == 0 && inside) {
      startPppoe();
    } else if (pppd_alive_flag == 1 && !inside) {
      wanDownNotice();
      pppoeStop();
    }
  } else if (ppp_conn_type == 2) {
    Paths::Buf path;
    char text[32];
    long stamp = 0;
    if (read_head(s_.paths.kernel("/proc/vkproc/netcheck", path), text, sizeof text) > 0)
      stamp = strtol(text, nullptr, 10);
    long idle = GetUptime(s_.paths.sys("/proc/uptime", path)) - stamp;
    if (pppd_alive_flag == 1 && idle > ppp_conn_wait_time) {
      wanDownNotice();
      pppoeStop();
    } else if (pppd_alive_flag == 0 && stamp > 0 && idle < 60) {
      startPppoe();
    }
  }
}

void NetMgr::onTick() {
  pppoeSchedule();
  read_fw_log();
}

}  // namespace rc
