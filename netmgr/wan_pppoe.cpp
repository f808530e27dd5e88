// The PPPoE WAN (type 3): pppd with the rp-pppoe plugin on eth2.2, its
// option file, the connection modes (0 always on, 1 manual: commands 8 and
// 7, 2 on demand, 3 timed) and the schedule of modes 2 and 3. pppd's ip-up
// and ip-down post commands 2 and 3.
#include <signal.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "netmgr/netmgr.h"
#include "netmgr/ppp_files.h"

namespace rc {

using namespace ppp;

namespace {

constexpr const char *kOptions = "/etc/options.pppoe";
// The fixed lines of the option file before and after the MTU lines.
constexpr const char *kLinkOptions[] = {"nomppe",       "hide-password", "noipdefault",
                                        "defaultroute", "nodetach",      "usepeerdns"};
constexpr const char *kRedialOptions[] = {"persist", "ipcp-accept-remote", "ipcp-accept-local",
                                          "lcp-echo-failure 3", "lcp-echo-interval 60"};
// On-demand PPPoE with no idle limit: a limit that is never reached.
constexpr int kNoIdleLimit = 268435456;

// A decimal number with nothing else in it, or -1.
int plainNumber(const char *text) {
  if (!*text || strlen(text) > 9) return -1;
  for (const char *p = text; *p; ++p)
    if (!isdigit(static_cast<unsigned char>(*p))) return -1;
  return atoi(text);
}

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

void NetMgr::pppoeRead() {
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
}

void NetMgr::pppoeFiles() {
  Set_pppoe_conf(pppoe.user, pppoe.pwd, pppoe.service, pppoe.ac, pppoe.mtu);
}

// Always on starts pppd now; on demand marks the LAN's traffic for the
// schedule; manual and timed start nothing here.
void NetMgr::pppoeStart() {
  if (ppp_conn_type == 0) {
    startPppoe();
  } else if (ppp_conn_type == 2 && checkAddress("lan_ip", lan_ip, false) &&
             checkAddress("lan_mask", lan_mask, false)) {
    sh_.doSystemCmd("iptables -t mangle -i br0 -A PREROUTING -j NETCHECK --ipaddr %s --netmask %s",
                    lan_ip, lan_mask);
  }
}

// Only what netmgr started is torn down: with pppd not marked alive the
// NETCHECK rule of on-demand mode stays.
void NetMgr::pppoeTearDown() {
  if (pppd_alive_flag != 1) return;
  sh_.vk_SystemEx("iptables -t nat -D POSTROUTING -o %s -j MASQUERADE", wanname);
  mssClampRemoval();
  if (ppp_conn_type == 2 && is_ipv4(lan_ip) && is_ipv4(lan_mask))
    sh_.doSystemCmd("iptables -t mangle -i br0 -D PREROUTING -j NETCHECK --ipaddr %s --netmask %s",
                    lan_ip, lan_mask);
  pppoeStop();
}

void NetMgr::pppoeUp() {
  int mtu = pppoeMtu();
  if (mtu >= 0 && mtu != 1492) {
    sh_.vk_SystemEx("ifconfig %s mtu %d", wanname, mtu);
    addMssClamp('A', mtu);
  }
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

void NetMgr::pppoeDisconnect() {
  if (pppd_alive_flag != 1) return;
  sh_.vk_SystemEx("iptables -t nat -D POSTROUTING -o %s -j MASQUERADE", wanname);
  mssClampRemoval();
  wanDownNotice();
  pppoeStop();
}

void NetMgr::pppoeConnect() {
  if (pppd_alive_flag == 0) startPppoe();
}

void NetMgr::startPppoe() {
  sh_.doSystemCmd("%s file /etc/options.pppoe &", kPppd);
  pppd_alive_flag = 1;
}

void NetMgr::pppoeStop() {
  s_.procs.send_signal(SIGHUP, kPppd);
  s_.clock.sleepMicros(50000);
  s_.procs.send_signal(SIGKILL, kPppd);
  pppd_alive_flag = 0;
  sh_.vk_SystemEx("echo -n > /etc/resolv.conf");
  sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
}

void NetMgr::pppoeSchedule() {
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

// /etc/ppp exists already: netmgr's start creates it.
void NetMgr::Set_pppoe_conf(const char *user, const char *pwd, const char *service, const char *ac,
                            const char *mtu) {
  const char *f = kOptions;
  writeLinkScripts(sh_);
  createPrivate(s_.paths, f);
  sh_.doSystemCmd("echo noauth > %s ", f);
  appendText(sh_, f, "user", user, Echo::SingleQuoted);
  appendText(sh_, f, "password", pwd, Echo::SingleQuoted);
  echoLines(f, 0, kLinkOptions);
  int m = 0;  // set by pppMtu when it returns true
  if (pppMtu("mru", f, mtu, &m)) sh_.doSystemCmd("echo mru %d >> %s ", m, f);
  if (pppMtu("mtu", f, mtu, &m)) sh_.doSystemCmd("echo mtu %d >> %s ", m, f);
  echoLines(f, 0, kRedialOptions);
  sh_.doSystemCmd("echo \"plugin /etc_ro/ppp/plugins/%s %s \" >> %s ", "rp-pppoe.so", "eth2.2", f);
  // An empty service or concentrator name leaves its option out: pppd reads
  // an options file as one stream of words, so a bare "rp_pppoe_service"
  // would take the next line's word as the service name and no concentrator
  // would answer.
  if (service[0]) appendText(sh_, f, "rp_pppoe_service", service, Echo::Bare);
  if (ac[0]) appendText(sh_, f, "rp_pppoe_ac", ac, Echo::Bare);
}

}  // namespace rc
