// Port forwarding, DMZ and ALG blocking: read, load, check, unload, check.
#include <string>

#include "fixture.h"

namespace rc::test {
namespace {

class PortmapTest : public FwMgrTest {
 protected:
  void SetUp() override { wanUpState(); }
  // Reads the list and loads it; returns what was printed.
  std::string readAndLoad(const std::string &list) {
    store.set("virtualser_list", list);
    testing::internal::CaptureStdout();
    mgr.portmap.readportmapconfig(mgr);
    mgr.portmap.loadportmapconfig(mgr);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(PortmapTest, ForwardsByProtocol) {
  readAndLoad("1;8080;80;0;192.168.0.10;1,1;5000;5000;0;192.168.0.20;3,1;53;5353;0;192.168.0.30;2,"
              "0;21;21;0;192.168.0.40;1,1;22;22;0;192.168.0.50;0,2;23;23;0;192.168.0.60;1");
  EXPECT_EQ(mgr.portmap.portmnum, 6);
  EXPECT_TRUE(SameLines(sh, {
      "vk: iptables -t nat -A port_forward_pre -p tcp -d 10.0.0.2 --dport 8080 -j DNAT --to 192.168.0.10:80",
      "vk: iptables -t nat -A port_forward_post -p tcp -d 192.168.0.10 -s 192.168.0.0/24 --dport 80 -j SNAT --to 192.168.0.1",
      "vk: iptables -t nat -A port_forward_pre -p tcp -d 10.0.0.2 --dport 5000 -j DNAT --to 192.168.0.20:5000",
      "vk: iptables -t nat -A port_forward_post -p tcp -d 192.168.0.20 -s 192.168.0.0/24 --dport 5000 -j SNAT --to 192.168.0.1",
      "vk: iptables -t nat -A port_forward_pre -p udp -d 10.0.0.2 --dport 5000 -j DNAT --to 192.168.0.20:5000",
      "vk: iptables -t nat -A port_forward_post -p udp -d 192.168.0.20 -s 192.168.0.0/24 --dport 5000 -j SNAT --to 192.168.0.1",
      "vk: iptables -t nat -A port_forward_pre -p udp -d 10.0.0.2 --dport 53 -j DNAT --to 192.168.0.30:5353",
      "vk: iptables -t nat -A port_forward_post -p udp -d 192.168.0.30 -s 192.168.0.0/24 --dport 5353 -j SNAT --to 192.168.0.1",
  }));
  mgr.portmap.unloadportmapconfig(mgr);
  EXPECT_TRUE(SameLines(sh, {"vk: iptables -t nat -F port_forward_pre", "vk: iptables -t nat -F port_forward_post"}));
}

TEST_F(PortmapTest, ShortListHasNoEntries) {
  for (const char *list : {"", "1;80;80;0", "1;8;8;0;1;"}) {
    readAndLoad(list);
    EXPECT_EQ(mgr.portmap.portmnum, 0) << list;
    EXPECT_TRUE(SameLines(sh, {})) << list;
  }
}

TEST_F(PortmapTest, BadEntriesAreDroppedWithAReason) {
  struct Case {
    const char *entry, *reason;
  } cases[] = {
      {"1;8080;80;0;192.168.0.10", "entry 1 dropped: host not followed by \";\""},
      {"1;8080;80;0;192.168.0.1;reboot;1", "entry 1 dropped: protocol longer than 7 characters"},
      {"1;8080;80;0;192.168.0.999;1", "entry 1 dropped: host \"192.168.0.999\" is not an IPv4 address"},
      {"1;8080;80;0;$(reboot);1", "entry 1 dropped: host \"$(reboot)\" is not an IPv4 address"},
      {"1;0;80;0;192.168.0.10;1", "entry 1 dropped: WAN port 0 outside 1 to 65535"},
      {"1;8080;65536;0;192.168.0.10;1", "entry 1 dropped: LAN port 65536 outside 1 to 65535"},
      {"1;80800000;80;0;192.168.0.10;1", "entry 1 dropped: WAN port longer than 7 characters"},
      {"1;8080;80;0;192.168.000.0010;1", "entry 1 dropped: host longer than 15 characters"},
      {"1;8080;80;0;192.168.0.10;1;                                                                                                                   ",
       "entry 1 dropped: longer than 127 characters"},
  };
  for (const auto &c : cases) {
    // A good entry after the bad one is still read.
    std::string out = readAndLoad(std::string(c.entry) + ",1;22;22;0;192.168.0.9;1");
    EXPECT_NE(out.find(std::string("fwmgr: virtualser_list ") + c.reason + "\n"), std::string::npos)
        << c.entry << "\nprinted: " << out;
    EXPECT_EQ(mgr.portmap.portmnum, 1) << c.entry;
    EXPECT_STREQ(mgr.portmap.portinfo[0].host, "192.168.0.9");
    EXPECT_EQ(sh.take().size(), 2u);
  }
}

TEST_F(PortmapTest, MoreThan32EntriesKeepsTheFirst32) {
  std::string list;
  for (int i = 1; i <= 34; ++i) list += (i > 1 ? "," : "") + std::string("1;") + std::to_string(1000 + i) + ";80;0;192.168.0.10;1";
  std::string out = readAndLoad(list);
  EXPECT_EQ(mgr.portmap.portmnum, 32);
  EXPECT_EQ(mgr.portmap.portinfo[31].wanport, 1032);
  EXPECT_EQ(out, "fwmgr: virtualser_list holds more than 32 entries; entry 33 and later dropped\n");
  EXPECT_EQ(sh.take().size(), 64u);
}

TEST_F(PortmapTest, DmzOnOff) {
  store.set("dmzen", "1");
  store.set("dmzip", "192.168.0.20");
  mgr.dmz.readdmzconfig(mgr);
  mgr.dmz.loaddmzconfig(mgr);
  EXPECT_TRUE(SameLines(sh, {"vk: iptables -t nat -A dmz_forward_pre -d 10.0.0.2 -j DNAT --to 192.168.0.20",
                             "vk: iptables -t nat -A dmz_forward_post -d 192.168.0.20 -s 192.168.0.0/24 -j SNAT --to 192.168.0.1"}));
  // Switched off while up: the old rules go (old dmzen 1), none come.
  store.set("dmzen", "0");
  mgr.onCommand(5);
  EXPECT_TRUE(SameLines(sh, {"vk: iptables -t nat -F dmz_forward_pre", "vk: iptables -t nat -F dmz_forward_post"}));
  // Off: neither load nor unload does anything.
  mgr.onCommand(5);
  EXPECT_TRUE(SameLines(sh, {}));
}

TEST_F(PortmapTest, DmzWithBadAddressAddsNothing) {
  store.set("dmzen", "1");
  store.set("dmzip", "192.168.0.20 -j ACCEPT");
  testing::internal::CaptureStdout();
  mgr.dmz.readdmzconfig(mgr);
  mgr.dmz.loaddmzconfig(mgr);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(SameLines(sh, {}));
  EXPECT_EQ(out, "fwmgr: dmzip \"192.168.0.20 -j ACCEPT\" is not an IPv4 address; refused\n"
                 "fwmgr: DMZ on without a valid dmzip; DMZ not loaded\n");
}

// Without a usable LAN mask the SNAT lines' source would be 0.0.0.0/0 or
// wider than the LAN: the DNAT lines stay, no SNAT line is added.
TEST_F(PortmapTest, NoSnatLineWithoutAUsableLanNetwork) {
  store.set("dmzen", "1");
  store.set("dmzip", "192.168.0.20");
  store.set("virtualser_list", "1;8080;80;0;192.168.0.10;1");
  for (const char *mask : {"255.255.255.0 ", "0.0.0.0", "255.0.255.0"}) {
    store.set("lan_mask", mask);
    mgr.start();
    sh.clear();
    mgr.portmap.loadportmapconfig(mgr);
    mgr.dmz.loaddmzconfig(mgr);
    EXPECT_TRUE(SameLines(sh, {"vk: iptables -t nat -A port_forward_pre -p tcp -d 10.0.0.2 --dport 8080 -j DNAT --to 192.168.0.10:80",
                               "vk: iptables -t nat -A dmz_forward_pre -d 10.0.0.2 -j DNAT --to 192.168.0.20"})) << mask;
  }
}

TEST_F(PortmapTest, AlgPositions) {
  const std::string h = "vk: iptables -t filter -A alg_filter -p ";
  const std::vector<std::string> ftp = {h + "tcp --dport 21 -j DROP"};
  const std::vector<std::string> tftp = {h + "tcp --dport 69 -j DROP", h + "udp --dport 69 -j DROP"};
  const std::vector<std::string> pptp = {h + "tcp --dport 1723 -j DROP", h + "udp --dport 1723 -j DROP"};
  const std::vector<std::string> ipsec = {h + "tcp --dport 4500 -j DROP", h + "udp --dport 4500 -j DROP",
                                          h + "tcp --dport 1293 -j DROP", h + "udp --dport 1293 -j DROP"};
  const std::vector<std::string> l2tp = {h + "tcp --dport 1701 -j DROP", h + "udp --dport 1701 -j DROP"};
  struct Case {
    const char *mask;
    std::vector<std::string> lines;
  } cases[] = {
      {"11111", {}},
      {"01111", ftp},
      {"10111", tftp},
      {"11011", pptp},
      {"11101", ipsec},
      {"11110", l2tp},
      {"00000", cat({ftp, tftp, pptp, ipsec, l2tp})},
      {"1111100", {}},  // positions 6 and 7 are not read
      {"0", ftp},       // positions beyond the value are allowed
      {"", {}},
      {"x0y0z", cat({tftp, ipsec})},
  };
  for (const auto &c : cases) {
    store.set("alg_service", c.mask);
    mgr.onCommand(7);
    EXPECT_TRUE(SameLines(sh, cat({{"vk: iptables -t filter -F alg_filter"}, c.lines}))) << c.mask;
  }
}

// Commands 4 and 5 with the WAN down re-read only; the next command 2 loads.
TEST_F(PortmapTest, SettingsWhileWanDownWaitForWanUp) {
  mgr.wanconnflag = 0;
  mgr.wanloaded = 0;
  store.set("virtualser_list", "1;8080;80;0;192.168.0.10;1");
  mgr.onCommand(4);
  EXPECT_TRUE(SameLines(sh, {"vk: iptables -t nat -F port_forward_pre", "vk: iptables -t nat -F port_forward_post"}));
  EXPECT_EQ(mgr.portmap.portmnum, 1);
}

}  // namespace
}  // namespace rc::test
