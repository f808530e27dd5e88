#include <unistd.h>

#include "fixture.h"

namespace rc::test {
namespace {

class DhcpdConfTest : public NetMgrTest {
 protected:
  void SetUp() override {
    dir.write("etc/.keep", "");
    for (auto &kv : std::vector<std::pair<std::string, std::string>>{
             {"dhcps_start", "192.168.0.100"},
             {"dhcps_end", "192.168.0.200"},
             {"lan_mask", "255.255.255.0"},
             {"dhcps_dns1", "192.168.0.1"},
             {"dhcps_dns2", ""},
             {"lan_ip", "192.168.0.1"},
             {"lease_time", "120"},
             {"dhcpStaticnum", "0"},
             {"wan_connecttype", "2"},
             {"dynamicMTU", "1500"},
             {"dns_dns1", "8.8.8.8"},
             {"dns_dns2", "8.8.4.4"}})
      store.set(kv.first, kv.second);
  }
  std::string conf() { return dir.read("etc/udhcpd.conf"); }
  std::string head(const std::string &dns, const std::string &mtu) {
    return "start\t192.168.0.100\n"
           "end\t192.168.0.200\n"
           "interface\tbr0\n"
           "lease_file\t/etc/udhcpd.leases\n"
           "lanip\t192.168.0.1\n"
           "option\tsubnet\t255.255.255.0\n"
           "option\tdns\t" + dns + "\n"
           "option\trouter\t192.168.0.1\n"
           "option\tlease\t7200\n"
           "option\tmtu\t" + mtu + "\n";
  }
};

TEST_F(DhcpdConfTest, LeaseMinutesAndEmptySecondDns) {
  EXPECT_EQ(mgr.GenDhcpdCfgFile(), 1);
  EXPECT_EQ(conf(), head("192.168.0.1\t", "1500"));
}

TEST_F(DhcpdConfTest, UserDnsWhenServerDnsEmpty) {
  store.set("dhcps_dns1", "");
  EXPECT_EQ(mgr.GenDhcpdCfgFile(), 1);
  EXPECT_EQ(conf(), head("8.8.8.8\t8.8.4.4", "1500"));
}

TEST_F(DhcpdConfTest, MtuFollowsWanType) {
  store.set("staticMTU", "1400");
  store.set("dynamicMTU", "1450");
  store.set("ppoe_mtu", "");
  struct Case {
    const char *type, *mtu;
  } cases[] = {{"1", "1400"}, {"2", "1450"}, {"3", ""}, {"4", "1500"}, {"5", "1500"}, {"6", "1500"}};
  for (const auto &c : cases) {
    store.set("wan_connecttype", c.type);
    mgr.GenDhcpdCfgFile();
    EXPECT_EQ(conf(), head("192.168.0.1\t", c.mtu)) << c.type;
  }
}

TEST_F(DhcpdConfTest, StaticLeases) {
  const std::string two =
      "192.168.0.10;00:11:22:33:44:55;pc;192.168.0.11;66:77:88:99:aa:bb;printer;";
  struct Case {
    const char *num;
    std::string list;
    std::string leases;
  } cases[] = {
      {"2", two,
       "static_lease\t00:11:22:33:44:55\t192.168.0.10\n"
       "static_lease\t66:77:88:99:aa:bb\t192.168.0.11\n"},
      {"1", two, "static_lease\t00:11:22:33:44:55\t192.168.0.10\n"},
      // More leases announced than the list holds: only complete ones.
      {"5", two + "192.168.0.12;00:00:00:00:00:01",
       "static_lease\t00:11:22:33:44:55\t192.168.0.10\n"
       "static_lease\t66:77:88:99:aa:bb\t192.168.0.11\n"},
      // A lease that is not an address and a MAC is skipped.
      {"2", "192.168.0.10;bad mac;x;192.168.0.11;66:77:88:99:aa:bb;y;",
       "static_lease\t66:77:88:99:aa:bb\t192.168.0.11\n"},
      {"3", "", ""},
  };
  testing::internal::CaptureStdout();
  for (const auto &c : cases) {
    store.set("dhcpStaticnum", c.num);
    store.set("dhcpStaticip", c.list);
    EXPECT_EQ(mgr.GenDhcpdCfgFile(), 1);
    EXPECT_EQ(conf(), head("192.168.0.1\t", "1500") + c.leases) << c.num << " " << c.list;
  }
  testing::internal::GetCapturedStdout();
}

TEST_F(DhcpdConfTest, RefusedValueIsPrintedEscaped) {
  store.set("dhcps_start", "1.2.3.4\n\x1b[2J");
  testing::internal::CaptureStdout();
  mgr.GenDhcpdCfgFile();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "netmgr: dhcps_start \"1.2.3.4\\x0a\\x1b[2J\" is not an IPv4 address; left empty in udhcpd.conf\n");
}

TEST_F(DhcpdConfTest, UnwritableFile) {
  Paths nowhere("/nonexistent-root", "");
  NetMgr other(Services{sh, store, clock, nowhere, procs, ipc, nullptr}, nullptr);
  EXPECT_EQ(other.GenDhcpdCfgFile(), 0);
}

// A full file system: the failed write is reported, not taken for success.
TEST_F(DhcpdConfTest, FullFileSystemIsReported) {
  ASSERT_EQ(symlink("/dev/full", (dir / "etc/udhcpd.conf").c_str()), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(mgr.GenDhcpdCfgFile(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "netmgr: cannot write /etc/udhcpd.conf: No space left on device\n");
}

TEST_F(DhcpdConfTest, MissingDirectoryIsReported) {
  Paths nowhere("/nonexistent-root", "");
  NetMgr other(Services{sh, store, clock, nowhere, procs, ipc, nullptr}, nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(other.GenDhcpdCfgFile(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "netmgr: cannot create /etc/udhcpd.conf: No such file or directory\n");
}

// Lease minutes whose seconds exceed an int (found by fuzzing: minutes * 60
// overflowed); the seconds saturate.
TEST_F(DhcpdConfTest, LeaseBeyondIntRange) {
  for (auto c : std::vector<std::pair<std::string, std::string>>{
           {"864001400", "2147483647"}, {"-864001400", "-2147483648"}, {"35791394", "2147483640"}}) {
    store.set("lease_time", c.first);
    EXPECT_EQ(mgr.GenDhcpdCfgFile(), 1);
    EXPECT_NE(conf().find("option\tlease\t" + c.second + "\n"), std::string::npos) << c.first;
  }
}

}  // namespace
}  // namespace rc::test
