// The L2TP WAN (type 6): xl2tpd, whose pppd carries the link, over eth2.2
// with a fixed address or one leased by DHCP. With a fixed address the
// tunnel is brought up at once; with a leased one the underlay's lease posts
// 25, which brings it up. The pppd of xl2tpd posts 2 and 3.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "netmgr/netmgr.h"
#include "netmgr/ppp_files.h"

namespace rc {

using namespace ppp;

namespace {

constexpr const char *kOptions = "/etc/ppp/options.xl2tpd";
constexpr const char *kConf = "/etc/xl2tpd/xl2tpd.conf";
// xl2tpd's control pipe, and how long netmgr waits for a starting xl2tpd to
// make it (in steps of 50 ms: at most 5 s).
constexpr const char *kControl = "/var/run/xl2tpd/l2tp-control";
constexpr int kPipeSteps = 100;

// The fixed lines of the files: options.xl2tpd up to the user line (after
// its first), xl2tpd.conf around the server and user lines (after its first).
constexpr const char *kPppOptions[] = {
    "ipcp-accept-remote", "lock",    "noauth",    "debug",   "dump",     "logfile /var/log/l2tpd.log",
    "passive",            "nodetach", "noccp",    "novj",    "novjccomp", "nopcomp",
    "noaccomp",           "proxyarp", "defaultroute"};
constexpr const char *kLnsSection[] = {"ip range = 192.168.191.2-192.168.191.254",
                                       "local ip = 192.168.191.1",
                                       "require chap = yes",
                                       "require pap = yes",
                                       "require authentication = yes",
                                       "name = l2tpvpnserver",
                                       "ppp debug = yes",
                                       "pppoptfile = /etc/ppp/options.xl2tpd",
                                       "length bit = yes",
                                       "[lac Linkn]"};
constexpr const char *kLacRedial[] = {"redial = yes",       "redial timeout = 15", "max redials = 5",
                                      "require chap = yes", "refuse pap = yes",
                                      "require authentication = yes"};
constexpr const char *kLacEnd[] = {"ppp debug = no", "pppoptfile = /etc/ppp/options.xl2tpd"};

}  // namespace

void NetMgr::l2tpRead() { readTunnel("l2tp", l2tp, l2tp_ser); }

void NetMgr::l2tpFiles() { Set_l2tp_conf(l2tp.user, l2tp.pwd, l2tp_ser, l2tp.mtu); }

void NetMgr::l2tpStart() {
  if (atoi(l2tp.addrmode) == 1) {
    fixedTunnelAddress(l2tp, l2tp_ser);
    startL2tpLink();
  } else {
    setwandhcp("eth2.2", "1500", "25", "26");
  }
}

void NetMgr::l2tpConnect() {
  tunnelStop("xl2tpd");
  startL2tpLink();
}

void NetMgr::l2tpDisconnect() {
  tunnelStop("xl2tpd");
  wanDownNotice();
}

void NetMgr::l2tpBound() {
  sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
  startL2tpLink();
}

// xl2tpd makes its control pipe anew when it starts, dropping whatever file
// was there: a tunnel command written before that is lost (the tunnel never
// comes up), and one written into an earlier xl2tpd's pipe waits for a reader
// that never comes. So the old pipe goes first, and the command follows once
// the new one exists (or the wait is over), not after a fixed 50 ms.
void NetMgr::startL2tpLink() {
  Paths::Buf pipe;
  s_.paths.sys(kControl, pipe);
  unlink(pipe);
  sh_.doSystemCmd("xl2tpd &");
  struct stat st;
  for (int i = 0; i < kPipeSteps; ++i) {
    s_.clock.sleepMicros(50000);
    if (stat(pipe, &st) == 0 && S_ISFIFO(st.st_mode)) break;
  }
  sh_.doSystemCmd("echo 'c Linkn'> %s", kControl);
}

// The L2TP files carry no MTU line: the link MTU is left to what pppd and the
// server negotiate, so the MTU setting is accepted but not used here.
void NetMgr::Set_l2tp_conf(const char *user, const char *pwd, const char *server, const char *) {
  const char *f = kOptions;
  sh_.doSystemCmd("mkdir /etc/ppp");
  writeLinkScripts(sh_);
  createPrivate(s_.paths, f);
  sh_.doSystemCmd("echo \"ipcp-accept-local\" > %s ", f);
  echoLines(f, '"', kPppOptions);
  appendText(sh_, f, "user", user, Echo::DoubleQuoted);
  appendText(sh_, f, "password", pwd, Echo::DoubleQuoted);
  sh_.doSystemCmd("echo noipdefault >> %s ", f);
  sh_.doSystemCmd("echo 'usepeerdns 1' >> %s ", f);

  sh_.doSystemCmd("mkdir /etc/xl2tpd");
  sh_.doSystemCmd("mkdir /var/run/xl2tpd");
  const char *c = kConf;
  sh_.doSystemCmd("echo '[lns default]' > %s ", c);
  echoLines(c, '\'', kLnsSection);
  if (serverOk(server, c)) sh_.doSystemCmd("echo 'lns = %s' >> %s ", server, c);
  echoLines(c, '\'', kLacRedial);
  appendText(sh_, c, "name", user, Echo::Conf);
  echoLines(c, '\'', kLacEnd);
}

}  // namespace rc
