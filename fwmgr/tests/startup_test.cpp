// Start-up: the LAN and WAN state, the read steps, and the lines of the load
// steps that do not depend on the WAN.
#include <csignal>
#include <string>

#include "fixture.h"

namespace rc::test {
namespace {

using StartupTest = FwMgrTest;

// What every start empties and deletes first: a killed instance's rules.
const std::vector<std::string> kChainFlush = {
    "vk: iptables -t filter -F ip_filter",       "vk: iptables -t filter -F url_filter",
    "vk: iptables -t filter -F mac_filter",      "vk: iptables -t filter -F qos",
    "vk: iptables -t filter -F web_access",      "vk: iptables -t nat -F port_forward_pre",
    "vk: iptables -t nat -F port_forward_post",  "vk: iptables -t nat -F dmz_forward_pre",
    "vk: iptables -t nat -F dmz_forward_post",   "vk: iptables -t nat -F web_wanadmin",
    "vk: iptables -t nat -F web_lanadmin",       "vk: iptables -t filter -F ping"};
const std::string kFirewall =
    "PREROUTING -i br0 -j FIREWALL --flags 0 --ipscan 0 --portscan 0 --icmpflood 0 --udpflood 0 --synflood 0";

// Each start goes over what a killed instance may have left (its IP-MAC,
// WAN arptables and DNS proxy rules, upnp and the DDNS client still there):
// fwmgr's own rules in shared chains are deleted once and its chains
// emptied before the load steps add anything.
TEST_F(StartupTest, SequenceWithStaticAndDhcpWan) {
  const std::string ipmac = " INPUT -i br0 -j ipmacbind --ipmac 192.168.0.10,00:11:22:33:44:55";
  const std::string ipmacbind = " PREROUTING -i br0 -j IPMACBIND --flags 1 --ipmac 192.168.0.10,00:11:22:33:44:55";
  struct Case {
    const char *type;
    const char *wanname, *strwanip;
    int wanconnflag;
    std::vector<std::string> wanArp;  // the WAN's arptables rule, by the type's address
  } cases[] = {
      {"1", "eth2.2", "10.0.0.20", 1, {"vk: arptables -D INPUT -i eth2.2 -j ipfilter --ip 10.0.0.20 --netmask 255.0.0.0"}},
      {"2", "eth2.2", "", 0, {"vk: arptables -D INPUT -i eth2.2 -j ipfilter --ip 10.0.0.2 --netmask 255.255.255.0"}},
      {"3", "ppp0", "", 0, {}},
      {"0", "", "", 0, {}},
  };
  dir.write("etc/resolv.conf", "nameserver 10.0.0.53\n");
  setIf("10.0.0.2", "255.255.255.0");
  for (const auto &c : cases) {
    MemStore s{{"lan_ip", "192.168.0.1"},   {"lan_mask", "255.255.255.0"},  {"wan_connecttype", c.type},
               {"wan_ip", "10.0.0.20"},     {"wan_mask", "255.0.0.0"},      {"alg_service", "01111"},
               {"upnpen", "1"},             {"virtualser_list", "1;8080;80;0;192.168.0.10;1"},
               {"ipbindenable", "1"},       {"otherenable", "1"},           {"ipbindnum", "1"},
               {"ipbindlist0", "192.168.0.10;00:11:22:33:44:55;"},          {"ddns_en", "1"},
               {"ddns_type", "2"}};
    procs.add("upnp", 60);
    procs.add("inadyn", 61);
    procs.signals.clear();
    FakeClock clk;
    FwMgr m{Services{sh, s, clk, paths, procs, ipc, fakeGetipmask}};
    m.start();
    EXPECT_TRUE(SameLines(
        sh, cat({kChainFlush,
                 {"vk: iptables -t mangle -D " + kFirewall, "vk: iptables -t filter -F safe_filter",
                  "vk: arptables -D" + ipmac, "vk: iptables -t mangle -D" + ipmacbind},
                 c.wanArp,
                 {"vk: iptables -t nat -D PREROUTING -i br0 -p udp -d 192.168.0.1 --dport 53 -j DNAT --to 10.0.0.53:53",
                  "D: killall -9 upnp", "vk: iptables -t nat -F MINIUPNPD", "D: rm -f /etc/upnpmap",
                  "vk: iptables -t filter -F alg_filter", "vk: iptables -t filter -A alg_filter -p tcp --dport 21 -j DROP",
                  "vk: arptables -A" + ipmac, "vk: iptables -t mangle -A" + ipmacbind,
                  "vk: iptables -t mangle -A " + kFirewall, "D: killall -9 kinwatch 1>/dev/null 2>&1",
                  "sys: /bin/kinwatch &"}})))
        << "type " << c.type;
    EXPECT_EQ(procs.signals, std::vector<std::string>{std::to_string(SIGKILL) + " inadyn"}) << c.type;
    EXPECT_EQ(clk.sleeps, (std::vector<long>{300000})) << c.type;
    EXPECT_EQ(s.opens, 1);
    EXPECT_EQ(s.closes, 1);
    EXPECT_STREQ(m.lanname, "br0");
    EXPECT_STREQ(m.strlanip, "192.168.0.1");
    EXPECT_STREQ(m.strlannet, "192.168.0.0");
    EXPECT_EQ(m.lanip, inet_addr("192.168.0.1"));
    EXPECT_EQ(m.netsize, 24);
    EXPECT_EQ(m.ndepth, 0);
    EXPECT_STREQ(m.wanname, c.wanname) << c.type;
    EXPECT_STREQ(m.strwanip, c.strwanip) << c.type;
    EXPECT_EQ(m.wanconnflag, c.wanconnflag) << c.type;
    EXPECT_EQ(m.upnpen, 1);
    EXPECT_EQ(m.portmap.portmnum, 1);
    EXPECT_STREQ(m.alg.algMask, "01111");
  }
  // The DHCP WAN's address is asked for its arptables rule.
  EXPECT_EQ(ifQueries, std::vector<std::string>{"eth2.2"});
}

TEST_F(StartupTest, LanNetworkAndDepth) {
  struct Case {
    const char *ip, *mask, *net;
    int netsize, ndepth;
  } cases[] = {
      {"192.168.5.1", "255.255.255.0", "192.168.5.0", 24, 0},
      {"172.16.5.1", "255.255.0.0", "172.16.0.0", 16, 1},
      {"10.1.2.3", "255.0.0.0", "10.0.0.0", 8, 2},
  };
  for (const auto &c : cases) {
    MemStore s{{"lan_ip", c.ip}, {"lan_mask", c.mask}};
    FwMgr m{Services{sh, s, clock, paths, procs, ipc, fakeGetipmask}};
    m.start();
    EXPECT_STREQ(m.strlannet, c.net);
    EXPECT_EQ(m.netsize, c.netsize);
    EXPECT_EQ(m.ndepth, c.ndepth);
  }
}

// Only the reads of the features of this daemon so far happen at start: the
// filters are read but nothing is added before the first pass.
TEST_F(StartupTest, FiltersAreReadButWaitForTheFirstPass) {
  store.set("client_filter_en", "1");
  store.set("client_filter_num", "1");
  store.set("client_filter_0", "0;192.168.0.100-192.168.0.120;6881-6889;0;0:0-0:0;1;1;1;1;1;1;1;");
  mgr.start();
  sh.clear();
  EXPECT_EQ(mgr.client.clientnum, 1);
  EXPECT_EQ(mgr.client.clientinfo[0].applied, 0);
  clock.setWeekTime(2, 10, 0);
  mgr.onTick();
  EXPECT_TRUE(SameLines(sh, {"vk: iptables -t filter -A ip_filter -p tcp --dport 6881:6889 -m iprange "
                             "--src-range 192.168.0.100-192.168.0.120 -j DROP"}));
}

}  // namespace
}  // namespace rc::test
