// Queue-203 commands in both WAN states, WAN up by type, WAN up twice, the
// UPnP switch, the watchdog and process restarts.
#include <csignal>
#include <string>

#include "fixture.h"

namespace rc::test {
namespace {

const std::vector<std::string> kArpAdd = {
    "D: arptables -A INPUT -i eth2.2 -j ipfilter --ip 10.0.0.2 --netmask 255.255.255.0"};
const std::vector<std::string> kArpDel = {
    "D: arptables -D INPUT -i eth2.2 -j ipfilter --ip 10.0.0.2 --netmask 255.255.255.0"};
const std::vector<std::string> kFwdAdd = {
    "vk: iptables -t nat -A port_forward_pre -p tcp -d 10.0.0.2 --dport 8080 -j DNAT --to 192.168.0.10:80",
    "vk: iptables -t nat -A port_forward_post -p tcp -d 192.168.0.10 -s 192.168.0.0/24 --dport 80 -j SNAT --to 192.168.0.1"};
const std::vector<std::string> kFwdFlush = {"vk: iptables -t nat -F port_forward_pre",
                                            "vk: iptables -t nat -F port_forward_post"};
const std::vector<std::string> kDmzAdd = {
    "vk: iptables -t nat -A dmz_forward_pre -d 10.0.0.2 -j DNAT --to 192.168.0.20",
    "vk: iptables -t nat -A dmz_forward_post -d 192.168.0.20 -s 192.168.0.0/24 -j SNAT --to 192.168.0.1"};
const std::vector<std::string> kDmzFlush = {"vk: iptables -t nat -F dmz_forward_pre",
                                            "vk: iptables -t nat -F dmz_forward_post"};
const std::vector<std::string> kWanAdminFlush = {"vk: iptables -t nat -F web_wanadmin"};
const std::vector<std::string> kUpnpStart = {"D: upnp eth2.2 &"};
const std::vector<std::string> kUpnpStop = {"D: killall -9 upnp", "vk: iptables -t nat -F MINIUPNPD",
                                            "D: rm -f /etc/upnpmap"};
const std::string kFirewallAdd =
    "vk: iptables -t mangle -A PREROUTING -i br0 -j FIREWALL --flags 0 --ipscan 0 --portscan 0 --icmpflood 0 "
    "--udpflood 0 --synflood 0";
const std::vector<std::string> kAttackOff = {
    "vk: iptables -t filter -F ping",
    "vk: iptables -t mangle -D PREROUTING -i br0 -j FIREWALL --flags 0 --ipscan 0 --portscan 0 --icmpflood 0 "
    "--udpflood 0 --synflood 0",
    "vk: iptables -t filter -F safe_filter"};
const std::vector<std::string> kAlg = {"vk: iptables -t filter -F alg_filter",
                                       "vk: iptables -t filter -A alg_filter -p tcp --dport 21 -j DROP"};

class CommandTest : public FwMgrTest {
 protected:
  void SetUp() override {
    store.set("wan_connecttype", "2");
    store.set("virtualser_list", "1;8080;80;0;192.168.0.10;1");
    store.set("dmzen", "1");
    store.set("dmzip", "192.168.0.20");
    store.set("alg_service", "01111");
    store.set("upnpen", "1");
    setIf("10.0.0.2", "255.255.255.0");
    mgr.start();
    sh.clear();
    clock.sleeps.clear();
  }
};

TEST_F(CommandTest, EveryCommandInBothWanStates) {
  struct Case {
    long cmd;
    std::vector<std::string> down, up;  // lines with the WAN down, and up
  } cases[] = {
      {1, {}, {}},
      {2, cat({kArpAdd, kFwdAdd, kDmzAdd, kUpnpStart}),
       cat({kArpDel, kFwdFlush, kDmzFlush, kWanAdminFlush, kUpnpStop, kArpAdd, kFwdAdd, kDmzAdd, kUpnpStart})},
      {3, {}, cat({kArpDel, kFwdFlush, kDmzFlush, kWanAdminFlush, kUpnpStop})},
      {4, kFwdFlush, cat({kFwdFlush, kFwdAdd})},
      {5, kDmzFlush, cat({kDmzFlush, kDmzAdd})},
      {6, {}, {}},
      {7, kAlg, kAlg},
      {8, {"vk: iptables -t filter -F ip_filter"}, {"vk: iptables -t filter -F ip_filter"}},
      {9, {"vk: iptables -t filter -F url_filter"}, {"vk: iptables -t filter -F url_filter"}},
      {10, {"vk: iptables -t filter -F mac_filter"}, {"vk: iptables -t filter -F mac_filter"}},
      // No IP-MAC binding, no QoS records: nothing to remove or add.
      {11, {}, {}},
      {12, {}, {}},
      {13, kWanAdminFlush, kWanAdminFlush},
      {14, {"vk: iptables -t filter -F web_access", "vk: iptables -t nat -F web_lanadmin"},
       {"vk: iptables -t filter -F web_access", "vk: iptables -t nat -F web_lanadmin"}},
      {15, cat({kAttackOff, {kFirewallAdd}}), cat({kAttackOff, {kFirewallAdd}})},
      {16, {}, {}},  // upnpen unchanged
      {17, {"D: echo 0 > /etc/ddns"}, {"D: echo 0 > /etc/ddns"}},
      // dnsen absent: the saved file comes back (no server in it: no proxy rule).
      {18, {"vk: cp /etc/bakresolv.conf /etc/resolv.conf"}, {"vk: cp /etc/bakresolv.conf /etc/resolv.conf"}},
      {19, {}, {}}, {100, {}, {}},
  };
  for (const auto &c : cases) {
    for (int up = 0; up < 2; ++up) {
      if (up) {
        mgr.onCommand(2);
        sh.clear();
      } else if (mgr.wanconnflag) {
        mgr.onCommand(3);
        sh.clear();
      }
      mgr.onCommand(c.cmd);
      EXPECT_TRUE(SameLines(sh, up ? c.up : c.down)) << "command " << c.cmd << (up ? " WAN up" : " WAN down");
      EXPECT_FALSE(store.isOpen()) << c.cmd;
    }
  }
}

TEST_F(CommandTest, WanUpByType) {
  store.set("wan_ip", "10.0.0.20");
  store.set("wan_mask", "255.255.0.0");
  setIf("10.9.0.5", "255.255.255.0");
  const std::string fwd10920 =
      "vk: iptables -t nat -A port_forward_pre -p tcp -d 10.0.0.20 --dport 8080 -j DNAT --to 192.168.0.10:80";
  const std::string fwd1095 =
      "vk: iptables -t nat -A port_forward_pre -p tcp -d 10.9.0.5 --dport 8080 -j DNAT --to 192.168.0.10:80";
  const std::string fwd7777 =
      "vk: iptables -t nat -A port_forward_pre -p tcp -d 10.7.7.7 --dport 8080 -j DNAT --to 192.168.0.10:80";
  const std::string snat = kFwdAdd[1];
  struct Case {
    const char *type;
    const char *wanname, *strwanip, *strwanmask;
    std::vector<std::string> queries, lines;
  } cases[] = {
      {"1", "eth2.2", "10.0.0.20", "255.255.0.0", {},
       {"D: arptables -A INPUT -i eth2.2 -j ipfilter --ip 10.0.0.20 --netmask 255.255.0.0", fwd10920, snat}},
      {"2", "eth2.2", "10.9.0.5", "255.255.255.0", {"eth2.2"},
       {"D: arptables -A INPUT -i eth2.2 -j ipfilter --ip 10.9.0.5 --netmask 255.255.255.0", fwd1095, snat}},
      {"4", "eth2.2", "10.9.0.5", "255.255.255.0", {"eth2.2"},
       {"D: arptables -A INPUT -i eth2.2 -j ipfilter --ip 10.9.0.5 --netmask 255.255.255.0", fwd1095, snat}},
      {"3", "ppp0", "10.9.0.5", "old-mask", {"ppp0"}, {fwd1095, snat}},
      {"5", "ppp0", "10.9.0.5", "old-mask", {"ppp0"}, {fwd1095, snat}},
      {"6", "ppp0", "10.9.0.5", "old-mask", {"ppp0"}, {fwd1095, snat}},
      // Any other type leaves the name and addresses as they were.
      {"0", "old0", "10.7.7.7", "old-mask", {}, {fwd7777, snat}},
      {"7", "old0", "10.7.7.7", "old-mask", {}, {fwd7777, snat}},
  };
  store.set("dmzen", "0");
  store.set("upnpen", "0");
  for (const auto &c : cases) {
    store.set("wan_connecttype", c.type);
    FwMgr m{Services{sh, store, clock, paths, procs, ipc, fakeGetipmask}};
    m.start();
    bcopy_text(m.wanname, "old0");
    bcopy_text(m.strwanip, "10.7.7.7");
    bcopy_text(m.strwanmask, "old-mask");
    sh.clear();
    ifQueries.clear();
    m.onCommand(2);
    EXPECT_TRUE(SameLines(sh, c.lines)) << "type " << c.type;
    EXPECT_STREQ(m.wanname, c.wanname) << c.type;
    EXPECT_STREQ(m.strwanip, c.strwanip) << c.type;
    EXPECT_STREQ(m.strwanmask, c.strwanmask) << c.type;
    EXPECT_EQ(ifQueries, c.queries) << c.type;
    EXPECT_EQ(m.wanconnflag, 1);
    EXPECT_FALSE(store.isOpen());
  }
}

TEST_F(CommandTest, WanWithoutAddressLoadsNoWanRule) {
  ifAddr = ifMask = 0;
  testing::internal::CaptureStdout();
  mgr.onCommand(2);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(SameLines(sh, kUpnpStart));
  EXPECT_NE(out.find("fwmgr: eth2.2 has no address"), std::string::npos) << out;
  EXPECT_NE(out.find("no valid WAN address; port forwards not loaded"), std::string::npos) << out;
}

// netmgr posts command 2 on every lease renewal: the second one removes what
// the first added (with the old address) before adding it again.
TEST_F(CommandTest, WanUpTwiceRunsWanDownFirst) {
  mgr.onCommand(2);
  EXPECT_TRUE(SameLines(sh, cat({kArpAdd, kFwdAdd, kDmzAdd, kUpnpStart})));
  setIf("10.0.0.3", "255.255.255.0");
  mgr.onCommand(2);
  EXPECT_TRUE(SameLines(
      sh, cat({kArpDel, kFwdFlush, kDmzFlush, kWanAdminFlush, kUpnpStop,
               {"D: arptables -A INPUT -i eth2.2 -j ipfilter --ip 10.0.0.3 --netmask 255.255.255.0",
                "vk: iptables -t nat -A port_forward_pre -p tcp -d 10.0.0.3 --dport 8080 -j DNAT --to 192.168.0.10:80",
                kFwdAdd[1],
                "vk: iptables -t nat -A dmz_forward_pre -d 10.0.0.3 -j DNAT --to 192.168.0.20",
                kDmzAdd[1]},
               kUpnpStart})));
  EXPECT_EQ(mgr.wanconnflag, 1);
}

// A static WAN is up from the start, but nothing is loaded before the first
// command 2: that one adds the rules once, without a WAN-down before it.
TEST_F(CommandTest, StaticWanFirstUpIsPlain) {
  store.set("wan_connecttype", "1");
  store.set("wan_ip", "10.0.0.2");
  store.set("wan_mask", "255.255.255.0");
  FwMgr m{Services{sh, store, clock, paths, procs, ipc, fakeGetipmask}};
  m.start();
  sh.clear();
  EXPECT_EQ(m.wanconnflag, 1);
  m.onCommand(2);
  EXPECT_TRUE(SameLines(sh, cat({kArpAdd, kFwdAdd, kDmzAdd, kUpnpStart})));
}

// A static WAN counts as up from the start, so commands load their WAN
// rules and services before the first command 2: that command 2 removes
// them before it adds them, so nothing is there twice.
TEST_F(CommandTest, StaticWanLoadsBeforeTheFirstUpAreNotDoubled) {
  const std::string dnsAdd =
      "vk: iptables -t nat -A PREROUTING -i br0 -p udp -d 192.168.0.1 --dport 53 -j DNAT --to 10.0.0.53:53";
  const std::string dnsDel =
      "vk: iptables -t nat -D PREROUTING -i br0 -p udp -d 192.168.0.1 --dport 53 -j DNAT --to 10.0.0.53:53";
  const std::string inadyn = "D: inadyn -u me -p pw -a my.example.net --dyndns_system  default@freedns.afraid.org &";
  const std::vector<std::string> down = cat({kArpDel, kFwdFlush, kWanAdminFlush});
  struct Case {
    long cmd;
    std::vector<std::pair<std::string, std::string>> settings;
    std::vector<std::string> up;       // the lines of the first command 2 after the command
    std::vector<std::string> signals;  // sent by that command 2
  } cases[] = {
      {4, {{"virtualser_list", "1;8080;80;0;192.168.0.10;1"}}, cat({down, kArpAdd, kFwdAdd, {dnsAdd}}), {}},
      {16, {{"upnpen", "1"}}, cat({down, kUpnpStop, kArpAdd, {dnsAdd}, kUpnpStart}), {}},
      {17,
       {{"ddns_en", "1"}, {"ddns_type", "2"}, {"ddns_user", "me"}, {"ddns_pwd", "pw"}, {"ddns_domain", "my.example.net"}},
       cat({down, kArpAdd, {inadyn, dnsAdd}}),
       {std::to_string(SIGKILL) + " inadyn"}},
      {18, {{"dnsen", "0"}}, cat({down, {dnsDel}, kArpAdd, {dnsAdd}}), {}},
  };
  for (const auto &c : cases) {
    MemStore s{{"lan_ip", "192.168.0.1"}, {"lan_mask", "255.255.255.0"}, {"wan_connecttype", "1"},
               {"wan_ip", "10.0.0.2"},    {"wan_mask", "255.255.255.0"}};
    dir.write("etc/resolv.conf", "nameserver 10.0.0.53\n");
    FwMgr m{Services{sh, s, clock, paths, procs, ipc, fakeGetipmask}};
    m.start();
    for (const auto &kv : c.settings) s.set(kv.first, kv.second);
    m.onCommand(c.cmd);
    procs.add("inadyn", 61);
    procs.signals.clear();
    sh.clear();
    m.onCommand(2);
    EXPECT_TRUE(SameLines(sh, c.up)) << "command " << c.cmd;
    EXPECT_EQ(procs.signals, c.signals) << "command " << c.cmd;
  }
}

TEST_F(CommandTest, UpnpSwitch) {
  struct Case {
    int old;
    const char *now;
    bool wanUp;
    std::vector<std::string> lines;
  } cases[] = {
      {0, "1", true, kUpnpStart}, {0, "1", false, {}},      {1, "0", true, kUpnpStop},
      {1, "0", false, kUpnpStop}, {1, "1", true, {}},       {0, "0", true, {}},
      {0, "2", true, {}},         {1, "2", true, {}},       {2, "0", false, kUpnpStop},
      {2, "1", true, kUpnpStart}, {1, "", true, kUpnpStop},
  };
  for (const auto &c : cases) {
    mgr.upnpen = c.old;
    mgr.wanconnflag = c.wanUp;
    store.set("upnpen", c.now);
    mgr.onCommand(16);
    EXPECT_TRUE(SameLines(sh, c.lines)) << c.old << " -> " << c.now << (c.wanUp ? " up" : " down");
    EXPECT_EQ(mgr.upnpen, atoi(c.now));
    EXPECT_FALSE(store.isOpen());
  }
}

TEST_F(CommandTest, WatchdogEveryEighthPass) {
  struct Case {
    bool trafmon, httpd, wanUp;
    std::vector<std::string> lines;
    std::string out;
    std::vector<long> sleeps;
  } cases[] = {
      {true, true, true, {}, "", {}},
      {false, true, true, {"D: trafmon &", "vk: sendmsg 201 2"}, "trafmon down, restart\ntrafmon &\n", {50000}},
      {false, true, false, {"D: trafmon &"}, "trafmon down, restart\ntrafmon &\n", {}},
      {true, false, true, {"D: httpd &"}, "httpd down, restart\nhttpd &\n", {}},
      {false, false, false, {"D: trafmon &", "D: httpd &"},
       "trafmon down, restart\ntrafmon &\nhttpd down, restart\nhttpd &\n", {}},
  };
  for (const auto &c : cases) {
    procs.remove("trafmon");
    procs.remove("httpd");
    if (c.trafmon) procs.add("trafmon", 40);
    if (c.httpd) procs.add("httpd", 41);
    mgr.wanconnflag = c.wanUp;
    for (int i = 0; i < 7; ++i) mgr.onTick();
    EXPECT_TRUE(SameLines(sh, {})) << "before the 8th pass";
    testing::internal::CaptureStdout();
    mgr.onTick();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    EXPECT_TRUE(SameLines(sh, c.lines)) << c.trafmon << c.httpd << c.wanUp;
    EXPECT_EQ(clock.sleeps, c.sleeps);
    clock.sleeps.clear();
  }
}

TEST_F(CommandTest, RestartProc) {
  testing::internal::CaptureStdout();
  mgr.restart_proc("trafmon");
  // The start line goes through system() directly and is not printed.
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "killall -9 trafmon 1>/dev/null 2>&1\n");
  EXPECT_TRUE(SameLines(sh, {"D: killall -9 trafmon 1>/dev/null 2>&1", "sys: /bin/trafmon &"}));
  EXPECT_EQ(clock.sleeps, std::vector<long>{300000});
}

// Commands 8, 9 and 10 remove the rules at once; those in force come back
// with the next pass.
TEST_F(CommandTest, FilterCommandFlushesAndNextPassRestores) {
  store.set("mac_filter_en", "1");
  store.set("mac_filter_num", "1");
  store.set("mac_filter_0", "0;00:11:22:33:44:55;0:0-0:0;1;1;1;1;1;1;1;");
  mgr.onCommand(10);
  EXPECT_TRUE(SameLines(sh, {"vk: iptables -t filter -F mac_filter"}));
  mgr.onTick();
  const std::string add = "vk: iptables -t filter -A mac_filter -m mac --mac-source 00:11:22:33:44:55 -j DROP";
  EXPECT_TRUE(SameLines(sh, {add}));
  mgr.onTick();
  EXPECT_TRUE(SameLines(sh, {}));
  mgr.onCommand(10);
  mgr.onTick();
  EXPECT_TRUE(SameLines(sh, {"vk: iptables -t filter -F mac_filter", add}));
}

}  // namespace
}  // namespace rc::test
