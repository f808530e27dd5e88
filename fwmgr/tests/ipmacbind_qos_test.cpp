// IP-MAC binding and QoS: read, load, check, unload, check.
#include <algorithm>
#include <string>

#include "fixture.h"

namespace rc::test {
namespace {

class IpMacBindTest : public FwMgrTest {
 protected:
  void SetUp() override { lanState(); }
};

TEST_F(IpMacBindTest, AddAndRemove) {
  const std::string arp = "vk: arptables -%c INPUT -i br0 -j ipmacbind --ipmac ";
  struct Case {
    const char *enable, *other, *num, *list;
    std::vector<std::string> add;
  } cases[] = {
      {"0", "1", "2", "192.168.0.10;00:11:22:33:44:55;", {}},
      {"1", "0", "1", "192.168.0.10;00:11:22:33:44:55;rest ignored",
       {"vk: arptables -A INPUT -i br0 -j ipmacbind --ipmac 192.168.0.10,00:11:22:33:44:55",
        "vk: iptables -t mangle -A PREROUTING -i br0 -j IPMACBIND --flags 0 --ipmac 192.168.0.10,00:11:22:33:44:55"}},
      {"1", "3", "2", "192.168.0.10;00:11:22:33:44:55;~192.168.0.11;00:11:22:33:44:66;",
       {"vk: arptables -A INPUT -i br0 -j ipmacbind --ipmac 192.168.0.10,00:11:22:33:44:55~192.168.0.11,00:11:22:33:44:66",
        "vk: iptables -t mangle -A PREROUTING -i br0 -j IPMACBIND --flags 3 --ipmac "
        "192.168.0.10,00:11:22:33:44:55~192.168.0.11,00:11:22:33:44:66"}},
  };
  for (const auto &c : cases) {
    store.set("ipbindenable", c.enable);
    store.set("otherenable", c.other);
    store.set("ipbindnum", c.num);
    store.set("ipbindlist0", c.list);
    mgr.ipmacbind.readipmacbindconfig(mgr);
    mgr.ipmacbind.loadipmacbindconfig(mgr, 1);
    EXPECT_TRUE(SameLines(sh, c.add)) << c.list;
    mgr.ipmacbind.loadipmacbindconfig(mgr, 0);
    std::vector<std::string> del = c.add;
    for (auto &l : del) l.replace(l.find(" -A "), 4, " -D ");
    EXPECT_TRUE(SameLines(sh, del)) << c.list;
  }
}

// Command 11 removes with the list and flags in memory, then adds the new.
TEST_F(IpMacBindTest, CommandReplacesWithOldFlags) {
  store.set("ipbindenable", "1");
  store.set("otherenable", "1");
  store.set("ipbindnum", "1");
  store.set("ipbindlist0", "192.168.0.10;00:11:22:33:44:55;");
  mgr.onCommand(11);
  sh.clear();
  store.set("otherenable", "2");
  mgr.onCommand(11);
  const std::string pair = "192.168.0.10,00:11:22:33:44:55";
  EXPECT_TRUE(SameLines(sh, {"vk: arptables -D INPUT -i br0 -j ipmacbind --ipmac " + pair,
                             "vk: iptables -t mangle -D PREROUTING -i br0 -j IPMACBIND --flags 1 --ipmac " + pair,
                             "vk: arptables -A INPUT -i br0 -j ipmacbind --ipmac " + pair,
                             "vk: iptables -t mangle -A PREROUTING -i br0 -j IPMACBIND --flags 2 --ipmac " + pair}));
  // Binding switched off: the old rules go, none come.
  store.set("ipbindenable", "0");
  mgr.onCommand(11);
  EXPECT_TRUE(SameLines(sh, {"vk: arptables -D INPUT -i br0 -j ipmacbind --ipmac " + pair,
                             "vk: iptables -t mangle -D PREROUTING -i br0 -j IPMACBIND --flags 2 --ipmac " + pair}));
  EXPECT_FALSE(store.isOpen());
}

TEST_F(IpMacBindTest, CapAndBadPairs) {
  for (int k = 0; k < 19; ++k) {
    std::string list;
    for (int r = 0; r < 16; ++r) {
      char rec[64];
      snprintf(rec, sizeof rec, "%s10.0.%d.%d;00:11:22:33:%02x:%02x;", r ? "~" : "", k, r + 1, k, r);
      list += rec;
    }
    store.set("ipbindlist" + std::to_string(k), list);
  }
  store.set("ipbindenable", "1");
  store.set("ipbindnum", "300");
  mgr.ipmacbind.readipmacbindconfig(mgr);
  EXPECT_EQ(mgr.ipmacbind.ipmacbindnum, 256);
  EXPECT_STREQ(mgr.ipmacbind.ipmacbindinfo[255].ip, "10.0.15.16");
  mgr.ipmacbind.loadipmacbindconfig(mgr, 1);
  auto lines = sh.take();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), '~'), 255);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 29), "~10.0.15.16,00:11:22:33:0f:0f");
  store.set("ipbindnum", "3");
  store.set("ipbindlist0", "10.0.0.1;00:11:22:33:44:55 x;~10.0.0.300;00:11:22:33:44:55;~10.0.0.2;");
  testing::internal::CaptureStdout();
  mgr.ipmacbind.readipmacbindconfig(mgr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "fwmgr: IP-MAC binding record 1 dropped: MAC address is not six hexadecimal pairs separated by \":\"\n"
            "fwmgr: IP-MAC binding record 2 dropped: address is not an IPv4 address\n"
            "fwmgr: IP-MAC binding record 3 dropped: no MAC address\n");
  EXPECT_EQ(mgr.ipmacbind.ipmacbindnum, 0);
}

class QosTest : public FwMgrTest {
 protected:
  void SetUp() override {
    wanUpState();
    store.set("qos_enable", "1");
  }
  void lan(const char *ip, const char *mask) {
    store.set("lan_ip", ip);
    store.set("lan_mask", mask);
    FwMgr fresh{Services{sh, store, clock, paths, procs, ipc, fakeGetipmask}};
    fresh.start();
    mgr.lanip = fresh.lanip;
    mgr.ndepth = fresh.ndepth;
    sh.clear();
  }
  void records(const std::vector<std::string> &recs) {
    std::string list;
    for (const auto &r : recs) list += (list.empty() ? "" : "~") + r;
    store.set("qos_num", std::to_string(recs.size()));
    store.set("qoslist0", list);
    mgr.qos.readqosconfig(mgr);
  }
  // The six lines of one address (its octet digits) with 256 down, 64 up.
  static std::vector<std::string> address(const std::string &o) {
    return {"vk: tc class add dev br0 parent 1:1 classid 1:1" + o + " htb rate 256kbps ceil 256kbps",
            "vk: tc qdisc add dev br0 parent 1:1" + o + " handle 1" + o + " sfq perturb 10",
            "vk: tc filter add dev br0 parent 1:0 protocol ip handle 100" + o + " fw classid 1:1" + o,
            "vk: tc class add dev eth2.2 parent 1:1 classid 1:1" + o + " htb rate 64kbps ceil 64kbps",
            "vk: tc qdisc add dev eth2.2 parent 1:1" + o + " handle 1" + o + " sfq perturb 10",
            "vk: tc filter add dev eth2.2 parent 1:0 protocol ip handle 100" + o + " fw classid 1:1" + o};
  }
  static std::vector<std::string> marks(const std::string &range, int net) {
    return {"vk: iptables -A qos -m iprange --src-range " + range + " -j GROUPMARK --ip 0 --port 0 --dir 1 --net " +
                std::to_string(net),
            "vk: iptables -A qos -m iprange --dst-range " + range + " -j GROUPMARK --ip 0 --port 0 --dir 2 --net " +
                std::to_string(net)};
  }
  const std::vector<std::string> roots = {"vk: tc qdisc add dev br0 root handle 1: htb",
                                          "vk: tc qdisc add dev eth2.2 root handle 1: htb"};
  const std::vector<std::string> unload = {"vk: tc qdisc del dev br0 root", "vk: tc qdisc del dev eth2.2 root",
                                           "vk: iptables -t filter -F qos"};
};

TEST_F(QosTest, PerAddressByDepth) {
  struct Case {
    const char *ip, *mask, *range;
    int net;
    std::vector<std::string> octets;
  } cases[] = {
      // The router's own address (.1) gets no classes.
      {"192.168.0.1", "255.255.255.0", "192.168.0.0-192.168.0.2", 0, {"0", "2"}},
      {"192.168.0.1", "255.255.0.0", "192.168.1.23-192.168.1.23", 1, {"123"}},
      {"10.0.0.1", "255.0.0.0", "10.1.2.3-10.1.2.4", 2, {"123", "124"}},
      {"192.168.0.1", "255.255.255.0", "192.168.0.9-192.168.0.8", 0, {}},  // end below start
  };
  for (const auto &c : cases) {
    lan(c.ip, c.mask);
    records({std::string(c.range) + ";0-64;0-256;0;1"});
    mgr.qos.loadqosconfig(mgr);
    std::vector<std::vector<std::string>> parts = {roots, marks(c.range, c.net)};
    for (const auto &o : c.octets) parts.push_back(address(o));
    EXPECT_TRUE(SameLines(sh, cat(parts))) << c.range;
    mgr.qos.unloadqosconfig(mgr);
    EXPECT_TRUE(SameLines(sh, unload));
  }
}

TEST_F(QosTest, GroupsDisabledRecordsAndPositions) {
  lan("192.168.0.1", "255.255.255.0");
  records({"192.168.0.10-192.168.0.20;0-64;0-256;1;1", "192.168.0.30-192.168.0.31;0-64;0-256;1;0",
           "192.168.0.40-192.168.0.50;5-100;6-200;1;2"});
  EXPECT_EQ(mgr.qos.activeqos, 1);
  mgr.qos.loadqosconfig(mgr);
  auto group = [](const std::string &range, int n, int down, int up) {
    std::string m = std::to_string(n);
    return std::vector<std::string>{
        "vk: iptables -A qos -m iprange --dst-range " + range + " -j GROUPMARK --set-mark 2" + m,
        "vk: iptables -A qos -m iprange --src-range " + range + " -j GROUPMARK --set-mark 2" + m,
        "vk: tc class add dev br0 parent 1:1 classid 1:2" + m + " htb rate " + std::to_string(down) + "kbps ceil " +
            std::to_string(down) + "kbps",
        "vk: tc qdisc add dev br0 parent 1:2" + m + " handle 2" + m + " sfq perturb 10",
        "vk: tc filter add dev br0 parent 1:0 protocol ip handle 2" + m + " fw classid 1:2" + m,
        "vk: tc class add dev eth2.2 parent 1:1 classid 1:2" + m + " htb rate " + std::to_string(up) + "kbps ceil " +
            std::to_string(up) + "kbps",
        "vk: tc qdisc add dev eth2.2 parent 1:2" + m + " handle 2" + m + " sfq perturb 10",
        "vk: tc filter add dev eth2.2 parent 1:0 protocol ip handle 2" + m + " fw classid 1:2" + m};
  };
  // Record 2 is off; record 3 (enable 2) is loaded as the third.
  EXPECT_TRUE(SameLines(sh, cat({roots, group("192.168.0.10-192.168.0.20", 1, 256, 64),
                                 group("192.168.0.40-192.168.0.50", 3, 200, 100)})));
  // Only enable 2: nothing counts as active, nothing is loaded or removed.
  records({"192.168.0.40-192.168.0.50;5-100;6-200;1;2"});
  EXPECT_EQ(mgr.qos.activeqos, 0);
  mgr.qos.loadqosconfig(mgr);
  mgr.qos.unloadqosconfig(mgr);
  EXPECT_TRUE(SameLines(sh, {}));
  // Record 12 as a group: mark 212.
  std::vector<std::string> twelve;
  for (int i = 0; i < 12; ++i) twelve.push_back("192.168.0.5-192.168.0.6;0-64;0-256;1;" + std::string(i == 11 ? "1" : "0"));
  records(twelve);
  mgr.qos.loadqosconfig(mgr);
  EXPECT_TRUE(SameLines(sh, cat({roots, group("192.168.0.5-192.168.0.6", 12, 256, 64)})));
  // Text after the enable number is ignored, numbers may be longer than 7
  // characters, and a refused record keeps its number for the later ones.
  records({"192.168.0.10-192.168.0.20;0-64;0-256;1;1 trailing", "x-192.168.0.11;0-64;0-256;1;1",
           "192.168.0.40-192.168.0.50;0-12345678;0-256;1;1"});
  mgr.qos.loadqosconfig(mgr);
  EXPECT_TRUE(SameLines(sh, cat({roots, group("192.168.0.10-192.168.0.20", 1, 256, 64),
                                 group("192.168.0.40-192.168.0.50", 3, 256, 12345678)})));
  // QoS off: no record is read.
  store.set("qos_enable", "0");
  mgr.qos.readqosconfig(mgr);
  EXPECT_EQ(mgr.qos.qosnum, 0);
  EXPECT_EQ(mgr.qos.activeqos, 0);
}

TEST_F(QosTest, CommandInBothWanStates) {
  lan("192.168.0.1", "255.255.255.0");
  records({"192.168.0.10-192.168.0.20;0-64;0-256;1;1"});
  store.set("qoslist0", "192.168.0.10-192.168.0.20;0-32;0-128;1;1");
  mgr.onCommand(12);
  auto lines = sh.take();
  ASSERT_EQ(lines.size(), 3u + 2u + 8u);
  EXPECT_TRUE(SameLines(std::vector<std::string>(lines.begin(), lines.begin() + 5), cat({unload, roots})));
  EXPECT_EQ(lines[7], "vk: tc class add dev br0 parent 1:1 classid 1:21 htb rate 128kbps ceil 128kbps");
  // WAN down: re-read only; the next WAN-up loads.
  mgr.onCommand(3);
  sh.clear();
  mgr.onCommand(12);
  EXPECT_TRUE(SameLines(sh, {}));
  EXPECT_EQ(mgr.qos.activeqos, 1);
}

TEST_F(QosTest, BadRecordsAndHugeRanges) {
  lan("192.168.0.1", "255.255.255.0");
  testing::internal::CaptureStdout();
  records({"192.168.0.10;0-64;0-256;1;1", "192.168.0.10-192.168.0.20;0-64;0-256;1",
           "1.2.3.4-1.2.3.4 -j ACCEPT;0-64;0-256;1;1", "192.168.0.0-192.168.255.255;0-64;0-256;0;1"});
  mgr.qos.loadqosconfig(mgr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "fwmgr: QoS record 1 dropped: start address not followed by \"-\"\n"
            "fwmgr: QoS record 2 dropped: group not followed by \";\"\n"
            "fwmgr: QoS record 3 dropped: end address longer than 15 characters\n"
            "fwmgr: QoS range 192.168.0.0-192.168.255.255 holds more than 1024 addresses; no classes per address\n");
  EXPECT_TRUE(SameLines(sh, cat({roots, marks("192.168.0.0-192.168.255.255", 0)})));
}

}  // namespace
}  // namespace rc::test
