// Queue-204 commands, the stop sequences and the PPPoE schedule.
#include <signal.h>

#include <algorithm>

#include "fixture.h"

namespace rc::test {
namespace {

class CommandTest : public NetMgrTest {
 protected:
  void SetUp() override {
    dir.write("etc/.keep", "");
    store.set("dhcps_en", "1");
    store.set("lan_ip", "192.168.0.1");
    store.set("lan_mask", "255.255.255.0");
  }
  void pppoe(const char *mtu, int alive) {
    mgr.wanconntype = 3;
    bcopy_text(mgr.wanname, "ppp0");
    bcopy_text(mgr.pppoe.mtu, mtu);
    mgr.pppd_alive_flag = alive;
    if (alive) procs.add("pppd", 300);
  }
  std::string sig(int s, const char *name) { return std::to_string(s) + " " + name; }
};

const std::vector<std::string> kUpNotice = {"vk: sendmsg 201 2", "vk: sendmsg 203 2"};
const std::vector<std::string> kDownNotice = {"vk: sendmsg 201 3", "vk: sendmsg 203 3"};
const std::vector<std::string> kDhcpRestart = {"vk: killall -9 udhcpd",
                                               "D: udhcpd /etc/udhcpd.conf &"};
const std::vector<std::string> kPppoeStopLines = {"vk: echo -n > /etc/resolv.conf",
                                                  "vk: echo \"0 0\" > /etc/at"};

TEST_F(CommandTest, LinkUpByType) {
  struct Case {
    int type;
    const char *wanname, *mtu;
    std::vector<std::string> lines;
  } cases[] = {
      {2, "eth2.2", "1492", {"vk: iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE"}},
      {3, "ppp0", "1492", {"vk: iptables -t nat -A POSTROUTING -o ppp0 -j MASQUERADE"}},
      {3,
       "ppp0",
       "1400",
       {"vk: iptables -t nat -A POSTROUTING -o ppp0 -j MASQUERADE", "vk: ifconfig ppp0 mtu 1400",
        "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
        "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360"}},
      {5,
       "ppp0",
       "1400",
       {"vk: iptables -t nat -A POSTROUTING -o ppp0 -j MASQUERADE",
        "vk: iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE"}},
  };
  for (const auto &c : cases) {
    mgr.wanconntype = c.type;
    bcopy_text(mgr.wanname, c.wanname);
    bcopy_text(mgr.pppoe.mtu, c.mtu);
    procs.add("udhcpd", 50);
    mgr.onCommand(2);
    EXPECT_TRUE(SameLines(sh, cat({c.lines, kUpNotice, kDhcpRestart}))) << c.type << " " << c.mtu;
    EXPECT_EQ(procs.signals, std::vector<std::string>{sig(SIGUSR1, "udhcpd")});
    EXPECT_EQ(clock.sleeps, std::vector<long>{100000});
    procs.signals.clear();
    clock.sleeps.clear();
  }
  EXPECT_TRUE(dir.exists("etc/udhcpd.conf"));
}

TEST_F(CommandTest, DhcpServerOffIsNotRestarted) {
  store.set("dhcps_en", "0");
  mgr.onCommand(9);
  EXPECT_TRUE(SameLines(sh, {"vk: killall -9 udhcpd"}));
  EXPECT_FALSE(store.isOpen());
}

TEST_F(CommandTest, LinkDownByType) {
  struct Case {
    int type;
    const char *wanname, *mtu;
    std::vector<std::string> lines;
  } cases[] = {
      {2, "eth2.2", "1400", {"vk: iptables -t nat -D POSTROUTING -o eth2.2 -j MASQUERADE"}},
      {3, "ppp0", "1492", {"vk: iptables -t nat -D POSTROUTING -o ppp0 -j MASQUERADE"}},
      {3,
       "ppp0",
       "1400",
       {"vk: iptables -t nat -D POSTROUTING -o ppp0 -j MASQUERADE",
        "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
        "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360"}},
      {5,
       "ppp0",
       "1400",
       {"vk: iptables -t nat -D POSTROUTING -o ppp0 -j MASQUERADE",
        "vk: iptables -t nat -D POSTROUTING -o eth2.2 -j MASQUERADE"}},
  };
  for (const auto &c : cases) {
    mgr.wanconntype = c.type;
    bcopy_text(mgr.wanname, c.wanname);
    bcopy_text(mgr.pppoe.mtu, c.mtu);
    mgr.onCommand(3);
    EXPECT_TRUE(SameLines(sh, cat({c.lines, kDownNotice}))) << c.type << " " << c.mtu;
  }
}

TEST_F(CommandTest, PppoeDisconnectAndConnect) {
  // 7 while pppd is not marked alive, 8 while it is: nothing.
  pppoe("1400", 0);
  mgr.onCommand(7);
  EXPECT_TRUE(SameLines(sh, {}));
  mgr.pppd_alive_flag = 1;
  mgr.onCommand(8);
  EXPECT_TRUE(SameLines(sh, {}));

  procs.add("pppd", 300);
  mgr.onCommand(7);
  EXPECT_TRUE(SameLines(
      sh, cat({{"vk: iptables -t nat -D POSTROUTING -o ppp0 -j MASQUERADE",
                "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
                "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360"},
               kDownNotice,
               kPppoeStopLines})));
  EXPECT_EQ(procs.signals, (std::vector<std::string>{sig(SIGHUP, "pppd"), sig(SIGKILL, "pppd")}));
  EXPECT_EQ(clock.sleeps, std::vector<long>{50000});
  EXPECT_EQ(mgr.pppd_alive_flag, 0);

  mgr.onCommand(8);
  EXPECT_TRUE(SameLines(sh, {"D: pppd file /etc/options.pppoe &"}));
  EXPECT_EQ(mgr.pppd_alive_flag, 1);
}

TEST_F(CommandTest, TunnelCommands) {
  struct Case {
    long cmd;
    const char *program;
    std::vector<std::string> after;
  } cases[] = {
      {12, "pptp", {"D: pppd file /etc/options.pptp &"}},
      {13, "pptp", kDownNotice},
      {14, "xl2tpd", {"D: xl2tpd &", "D: echo 'c Linkn'> /var/run/xl2tpd/l2tp-control"}},
      {15, "xl2tpd", kDownNotice},
  };
  for (const auto &c : cases) {
    procs.add("pppd", 300);
    procs.add(c.program, 301);
    mgr.onCommand(c.cmd);
    EXPECT_TRUE(SameLines(sh, cat({{"vk: echo \"0 0\" > /etc/at"}, c.after}))) << c.cmd;
    EXPECT_EQ(procs.signals, (std::vector<std::string>{sig(SIGQUIT, "pppd"), sig(SIGKILL, "pppd"),
                                                       sig(SIGQUIT, c.program),
                                                       sig(SIGKILL, c.program)}))
        << c.cmd;
    procs.signals.clear();
  }
}

TEST_F(CommandTest, UnderlayLeaseCommands) {
  // A file at the control pipe's place goes before xl2tpd starts (mkfifo
  // fails otherwise); the command follows once xl2tpd's pipe exists.
  dir.write("var/run/xl2tpd/l2tp-control", "c Linkn\n");
  sh.on("xl2tpd &",
        [this](const std::string &) { ASSERT_EQ(mkfifo((dir / "var/run/xl2tpd/l2tp-control").c_str(), 0600), 0); });
  mgr.onCommand(23);
  EXPECT_TRUE(SameLines(sh, {"vk: echo \"0 0\" > /etc/at", "D: pppd file /etc/options.pptp &"}));
  mgr.onCommand(25);
  EXPECT_TRUE(SameLines(sh, {"vk: echo \"0 0\" > /etc/at", "D: xl2tpd &",
                             "D: echo 'c Linkn'> /var/run/xl2tpd/l2tp-control"}));
  EXPECT_EQ(clock.sleeps, std::vector<long>{50000});
}

TEST_F(CommandTest, L2tpCommandWaitIsBounded) {
  mgr.onCommand(25);
  EXPECT_EQ(clock.sleeps, std::vector<long>(100, 50000));
}

TEST_F(CommandTest, IgnoredNumbers) {
  for (long cmd : {1L, 16L, 22L, 24L, 26L, 99L, 0L}) {
    mgr.onCommand(cmd);
    EXPECT_TRUE(SameLines(sh, {})) << cmd;
  }
}

// Lines of a DHCP client (re)start without the script-writing lines.
std::vector<std::string> withoutScript(const std::vector<std::string> &lines) {
  std::vector<std::string> out;
  for (const auto &l : lines)
    if (l.find(" /etc/udhcpc.script ") == std::string::npos || l.rfind("D: udhcpc ", 0) == 0)
      out.push_back(l);
  return out;
}

TEST_F(CommandTest, DhcpCommands) {
  mgr.wanconntype = 2;
  bcopy_text(mgr.wanname, "eth2.2");
  bcopy_text(mgr.strwanmtu, "1500");
  const std::vector<std::string> unset = {"vk: ifconfig eth2.2 0.0.0.0",
                                          "vk: echo -n > /etc/resolv.conf",
                                          "vk: echo \"0 0\" > /etc/at"};
  const std::vector<std::string> set = {
      "D: udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid &"};
  procs.add("udhcpc", 44);
  mgr.onCommand(5);
  EXPECT_TRUE(SameLines(sh, cat({unset, kDownNotice})));
  EXPECT_EQ(procs.signals, std::vector<std::string>{sig(SIGTERM, "udhcpc")});
  mgr.onCommand(11);
  EXPECT_TRUE(SameLines(sh, cat({unset, kDownNotice})));

  mgr.onCommand(6);
  auto lines = sh.take();
  EXPECT_TRUE(SameLines(withoutScript(lines), set));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "D: echo '        sendmsg 204 2 &' >> /etc/udhcpc.script "),
            lines.end());
  mgr.onCommand(10);
  lines = sh.take();
  EXPECT_TRUE(SameLines(withoutScript(lines), set));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "D: echo '        sendmsg 204 21 &' >> /etc/udhcpc.script "),
            lines.end());
}

TEST_F(CommandTest, DhcpPlusLogin) {
  mgr.wanconntype = 4;
  bcopy_text(mgr.wanname, "eth2.2");
  bcopy_text(mgr.strwanmtu, "1500");
  store.set("DHCP_plus_Name", "user1");
  store.set("DHCP_plus_Pwd", "pw1");
  authCalls.clear();

  authResult = 0;  // refused: the client keeps its 21/22 script
  mgr.onCommand(21);
  EXPECT_TRUE(SameLines(sh, {"vk: echo \"0 0\" > /etc/at"}));
  EXPECT_FALSE(store.isOpen());

  authResult = 1;
  mgr.onCommand(21);
  auto lines = sh.take();
  EXPECT_TRUE(SameLines(withoutScript(lines),
                        {"vk: echo \"0 0\" > /etc/at", "vk: ifconfig eth2.2 0.0.0.0",
                         "vk: echo -n > /etc/resolv.conf", "vk: echo \"0 0\" > /etc/at",
                         "D: udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid &"}));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "D: echo '        sendmsg 204 2 &' >> /etc/udhcpc.script "),
            lines.end());
  EXPECT_EQ(authCalls, (std::vector<std::string>{"user1/pw1", "user1/pw1"}));
}

TEST_F(CommandTest, ReconfigureFromPppoeNotAliveOnlyNotifies) {
  pppoe("1492", 0);
  mgr.ppp_conn_type = 2;
  store.set("wan_connecttype", "7");  // no WAN type: nothing is applied
  mgr.onCommand(4);
  EXPECT_TRUE(SameLines(sh, kDownNotice));
  EXPECT_EQ(mgr.wanconntype, 7);
  EXPECT_STREQ(mgr.wanname, "eth2.2");
  EXPECT_FALSE(store.isOpen());
  EXPECT_EQ(clock.sleeps, std::vector<long>{50000});
}

TEST_F(CommandTest, ReconfigureFromOnDemandPppoe) {
  pppoe("1400", 1);
  mgr.ppp_conn_type = 2;
  bcopy_text(mgr.lan_ip, "192.168.0.1");
  bcopy_text(mgr.lan_mask, "255.255.255.0");
  store.set("wan_connecttype", "0");
  mgr.onCommand(4);
  EXPECT_TRUE(SameLines(
      sh, cat({{"vk: iptables -t nat -D POSTROUTING -o ppp0 -j MASQUERADE",
                "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
                "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360",
                "D: iptables -t mangle -i br0 -D PREROUTING -j NETCHECK --ipaddr 192.168.0.1 --netmask 255.255.255.0"},
               kPppoeStopLines,
               kDownNotice})));
  EXPECT_EQ(mgr.pppd_alive_flag, 0);
}

TEST_F(CommandTest, ReconfigureDhcpToStatic) {
  mgr.wanconntype = 2;
  bcopy_text(mgr.wanname, "eth2.2");
  bcopy_text(mgr.strwanmtu, "1500");
  bcopy_text(mgr.strlannet, "192.168.0.0");
  mgr.netsize = 24;
  store.set("wan_connecttype", "1");
  store.set("wan_ip", "10.0.0.2");
  store.set("wan_mask", "255.255.255.0");
  store.set("wan_gateway", "10.0.0.1");
  store.set("wan_dns1", "10.0.0.1");
  store.set("wan_dns2", "10.0.0.254");
  store.set("staticMTU", "");
  mgr.onCommand(4);
  EXPECT_TRUE(SameLines(
      sh, cat({{"vk: ifconfig eth2.2 0.0.0.0", "vk: echo -n > /etc/resolv.conf",
                "vk: echo \"0 0\" > /etc/at"},
               kDownNotice,
               {"vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0",
                "vk: route add default gw 10.0.0.1",
                "vk: echo nameserver 10.0.0.1 > /etc/resolv.conf",
                "vk: echo nameserver 10.0.0.254 >> /etc/resolv.conf",
                "vk: iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE",
                "vk: cat /proc/uptime > /etc/at",
                "vk: iptables -t mangle -A PREROUTING -i eth2.2 -d 192.168.0.0/24 -j DROP"},
               kUpNotice})));
  EXPECT_EQ(mgr.wanconntype, 1);
  EXPECT_FALSE(store.isOpen());
}

// ---------------------------------------------------------------- schedule

class ScheduleTest : public CommandTest {
 protected:
  void timed(int start, int end) {
    pppoe("1492", 0);
    mgr.ppp_conn_type = 3;
    mgr.ppp_conn_start_min = start;
    mgr.ppp_conn_end_min = end;
  }
  // Runs one pass at the given time and returns the lines it ran.
  std::vector<std::string> at(int hour, int min) {
    clock.setWeekTime(2, hour, min);
    mgr.onTick();
    return sh.take();
  }
  const std::vector<std::string> kStart = {"D: pppd file /etc/options.pppoe &"};
  std::vector<std::string> stop() { return cat({kDownNotice, kPppoeStopLines}); }
};

TEST_F(ScheduleTest, WholeDayWindowStartsOnceAndNeverStops) {
  timed(0, 0);
  EXPECT_TRUE(SameLines(at(0, 0), kStart));
  procs.add("pppd", 300);
  for (int h : {3, 12, 23}) EXPECT_TRUE(SameLines(at(h, 59), {}));
  EXPECT_EQ(mgr.pppd_alive_flag, 1);
}

TEST_F(ScheduleTest, WindowAcrossMidnightIsNeverEntered) {
  timed(22 * 60, 6 * 60);
  for (int h : {22, 23, 0, 5, 6, 12}) EXPECT_TRUE(SameLines(at(h, 0), {})) << h;
}

TEST_F(ScheduleTest, TimedWindowBounds) {
  timed(8 * 60, 18 * 60);
  EXPECT_TRUE(SameLines(at(7, 59), {}));
  EXPECT_TRUE(SameLines(at(8, 0), kStart));
  procs.add("pppd", 300);
  EXPECT_TRUE(SameLines(at(18, 0), {}));
  EXPECT_TRUE(SameLines(at(18, 1), stop()));
  EXPECT_EQ(mgr.pppd_alive_flag, 0);
}

TEST_F(ScheduleTest, OnlyPppoeHasASchedule) {
  timed(0, 0);
  mgr.wanconntype = 2;
  EXPECT_TRUE(SameLines(at(12, 0), {}));
}

class OnDemandTest : public ScheduleTest {
 protected:
  void onDemand(int limit, int alive) {
    pppoe("1492", alive);
    mgr.ppp_conn_type = 2;
    mgr.ppp_conn_wait_time = limit;
  }
  std::vector<std::string> pass(const char *stamp, const char *uptime) {
    if (stamp) dir.write("kernel/proc/vkproc/netcheck", stamp);
    dir.write("proc/uptime", uptime);
    mgr.onTick();
    return sh.take();
  }
};

TEST_F(OnDemandTest, NoIdleLimitNeverDisconnects) {
  store.set("wan_connecttype", "3");
  store.set("ppoe_conmode", "2");
  store.set("ppoe_idletime", "0");
  mgr.onCommand(4);
  sh.clear();
  EXPECT_EQ(mgr.ppp_conn_wait_time, 268435456);
  mgr.pppd_alive_flag = 1;
  EXPECT_TRUE(SameLines(pass("100\n", "9000000.00 1.00\n"), {}));
  EXPECT_EQ(mgr.pppd_alive_flag, 1);
}

TEST_F(OnDemandTest, IdleLimitAndTraffic) {
  onDemand(300, 1);
  EXPECT_TRUE(SameLines(pass("1000\n", "1300.50 0\n"), {}));     // idle 300: not above
  EXPECT_TRUE(SameLines(pass("1000\n", "1301.00 0\n"), stop()));  // idle 301
  EXPECT_EQ(mgr.pppd_alive_flag, 0);
  EXPECT_TRUE(SameLines(pass("1000\n", "1301.00 0\n"), {}));     // old traffic: stay down
  EXPECT_TRUE(SameLines(pass("1290\n", "1301.00 0\n"), kStart));  // new traffic
  EXPECT_EQ(mgr.pppd_alive_flag, 1);
}

TEST_F(OnDemandTest, NoTrafficYetOrNoFile) {
  onDemand(300, 0);
  EXPECT_TRUE(SameLines(pass("0\n", "10.00 0\n"), {}));
  dir.write("kernel/proc/vkproc/netcheck", "");
  EXPECT_TRUE(SameLines(pass(nullptr, "10.00 0\n"), {}));
}

}  // namespace
}  // namespace rc::test

namespace rc::test {
namespace {

// Command 4 into a tunnel type: what runs besides writing the option files.
TEST_F(CommandTest, ReconfigureIntoTunnelTypes) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> keys;
    std::vector<std::string> lines;
  } cases[] = {
      {{{"wan_connecttype", "5"}, {"pptpIP", "vpn.isp.net"}, {"pptpAddrMode", "1"},
        {"pptpWANIP", "10.0.0.2"}, {"pptpWANMASK", "255.255.255.0"}, {"pptpWANGW", "10.0.0.1"}},
       {"vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0",
        "vk: route add -net vpn.isp.net netmask 255.255.255.255 gw 10.0.0.1",
        "D: pppd file /etc/options.pptp &"}},
      {{{"wan_connecttype", "5"}, {"pptpIP", "10.1.1.1"}, {"pptpAddrMode", "0"}},
       {"D: udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid &"}},
      {{{"wan_connecttype", "6"}, {"l2tpIP", "10.1.1.1"}, {"l2tpAddrMode", "1"},
        {"l2tpWANIP", "10.0.0.2"}, {"l2tpWANMASK", "255.255.255.0"}, {"l2tpWANGW", "bad;gw"}},
       {"vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0", "D: xl2tpd &",
        "D: echo 'c Linkn'> /var/run/xl2tpd/l2tp-control"}},
  };
  for (const auto &c : cases) {
    MemStore fresh;
    for (const auto &kv : c.keys) fresh.set(kv.first, kv.second);
    NetMgr m(NetServices{sh, fresh, clock, paths, procs, nullptr});
    m.wanconntype = 0;
    m.onCommand(4);
    std::vector<std::string> run;  // all but the file writing and the notices
    for (const auto &l : sh.take()) {
      bool writesFiles = l.find("/etc/") != std::string::npos || l.rfind("D: mkdir", 0) == 0;
      bool starts = l.rfind("D: pppd", 0) == 0 || l.rfind("D: udhcpc", 0) == 0;
      if ((!writesFiles || starts) && l.rfind("vk: sendmsg", 0) != 0) run.push_back(l);
    }
    EXPECT_TRUE(SameLines(run, c.lines)) << c.keys[0].second;
    EXPECT_STREQ(m.wanname, "ppp0");
    EXPECT_STREQ(c.keys[0].second == "5" ? m.pptp.mtu : m.l2tp.mtu, "1450");
    EXPECT_FALSE(fresh.isOpen());
  }
}

}  // namespace
}  // namespace rc::test
