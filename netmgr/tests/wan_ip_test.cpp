// Static and DHCP WAN: the MTU rule, bring-up and tear-down sequences, the
// udhcpc script line by line, and refusal of values that are not addresses.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/bstr.h"
#include "fixture.h"
#include "run_lines.h"

namespace rc::test {
namespace {

class WanTest : public NetMgrTest {
 protected:
  WanTest() {
    bcopy_text(mgr.strlannet, "192.168.1.0");
    mgr.netsize = 24;
  }
  std::vector<std::string> vkLines() { return linesStarting("vk: "); }
};

using WanMtuTest = WanTest;
using WanStaticTest = WanTest;
using WanDhcpTest = WanTest;
using DhcpcScriptTest = WanTest;
using WanInjectionTest = WanTest;

TEST_F(WanMtuTest, AppliedOnlyFrom256Below1500) {
  struct Case {
    const char *mtu;
    std::vector<std::string> up, down;
  } cases[] = {
      {"1500", {}, {}},
      {"1400",
       {"vk: ifconfig eth2.2 mtu 1400",
        "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
        "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360"},
       {"vk: ifconfig eth2.2 mtu 1500",
        "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
        "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360"}},
      {"255", {}, {}},
      {"256",
       {"vk: ifconfig eth2.2 mtu 256",
        "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --syn --set-mss 216",
        "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 216"},
       {"vk: ifconfig eth2.2 mtu 1500",
        "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --syn --set-mss 216",
        "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 216"}},
      {"1499",
       {"vk: ifconfig eth2.2 mtu 1499",
        "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --syn --set-mss 1459",
        "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1459"},
       {"vk: ifconfig eth2.2 mtu 1500",
        "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --syn --set-mss 1459",
        "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1459"}},
      {"", {}, {}},
      {"abc", {}, {}},
      {"0", {}, {}},
      {"1400;touch CANARY", {}, {}},
      {"99999999999999999999", {}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string("mtu \"") + c.mtu + "\"");
    mgr.setwandhcp("eth2.2", c.mtu, "2", "3");
    EXPECT_TRUE(SameLines(vkLines(), c.up));
    std::vector<std::string> down = c.down;
    down.insert(down.end(), {"vk: ifconfig eth2.2 0.0.0.0", "vk: echo -n > /etc/resolv.conf",
                             "vk: echo \"0 0\" > /etc/at"});
    mgr.unsetwandhcp("eth2.2", c.mtu);
    EXPECT_TRUE(SameLines(sh, down));
  }
}

TEST_F(WanStaticTest, BringUpWithTheWanServers) {
  mgr.setwanstaticip("eth2.2", "10.0.0.2", "255.255.255.0", "10.0.0.1", "10.0.0.53", "10.0.0.54",
                     "1500");
  EXPECT_TRUE(SameLines(sh, {
                                "vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0",
                                "vk: route add default gw 10.0.0.1",
                                "vk: echo nameserver 10.0.0.53 > /etc/resolv.conf",
                                "vk: echo nameserver 10.0.0.54 >> /etc/resolv.conf",
                                "vk: iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE",
                                "vk: cat /proc/uptime > /etc/at",
                                "vk: iptables -t mangle -A PREROUTING -i eth2.2 -d 192.168.1.0/24 -j DROP",
                            }));
}

TEST_F(WanStaticTest, UserServersReplaceTheWanOnes) {
  store.set("dnsen", "1");
  store.set("dns_dns1", "202.96.128.86");
  store.set("dns_dns2", "");
  mgr.setwanstaticip("eth2.2", "10.0.0.2", "255.255.255.0", "10.0.0.1", "10.0.0.53", "10.0.0.54",
                     "1400");
  std::vector<std::string> lines = sh.lines();
  EXPECT_TRUE(SameLines(
      sh, {
              "vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0",
              "vk: route add default gw 10.0.0.1",
              "vk: echo nameserver 10.0.0.53 > /etc/resolv.conf",
              "vk: echo nameserver 10.0.0.54 >> /etc/resolv.conf",
              "vk: cp /etc/resolv.conf /etc/bakresolv.conf",
              "vk: echo nameserver 202.96.128.86 > /etc/resolv.conf",
              "vk: ifconfig eth2.2 mtu 1400",
              "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
              "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360",
              "vk: iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE",
              "vk: cat /proc/uptime > /etc/at",
              "vk: iptables -t mangle -A PREROUTING -i eth2.2 -d 192.168.1.0/24 -j DROP",
          }));

  // Run the resolver lines: resolv.conf keeps only the user's server, the
  // copy keeps the WAN ones.
  std::vector<std::string> files;
  for (auto &l : lines)
    if (l.compare(0, 9, "vk: echo ") == 0 || l.compare(0, 7, "vk: cp ") == 0) files.push_back(l);
  dir.write("etc/.keep", "");
  runInDir(files, dir.path());
  EXPECT_EQ(dir.read("etc/resolv.conf"), "nameserver 202.96.128.86\n");
  EXPECT_EQ(dir.read("etc/bakresolv.conf"), "nameserver 10.0.0.53\nnameserver 10.0.0.54\n");
}

// A backup that did not arrive (a full /etc) keeps the WAN's servers: a later
// restore would copy the broken backup over them.
TEST_F(WanStaticTest, NoUserServersWithoutAWholeBackup) {
  store.set("dnsen", "1");
  store.set("dns_dns1", "202.96.128.86");
  dir.write("etc/resolv.conf", "nameserver 10.0.0.53\n");
  testing::internal::CaptureStdout();
  mgr.setwanstaticip("eth2.2", "10.0.0.2", "255.255.255.0", "10.0.0.1", "10.0.0.53", "", "1500");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("cp /etc/resolv.conf /etc/bakresolv.conf\n"
                     "netmgr: cannot write /etc/bakresolv.conf: the copy of /etc/resolv.conf is incomplete; "
                     "DNS servers left as they are\n"),
            std::string::npos)
      << out;
  EXPECT_TRUE(SameLines(sh, {
                                "vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0",
                                "vk: route add default gw 10.0.0.1",
                                "vk: echo nameserver 10.0.0.53 > /etc/resolv.conf",
                                "vk: cp /etc/resolv.conf /etc/bakresolv.conf",
                                "vk: iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE",
                                "vk: cat /proc/uptime > /etc/at",
                                "vk: iptables -t mangle -A PREROUTING -i eth2.2 -d 192.168.1.0/24 -j DROP",
                            }));
}

TEST_F(WanStaticTest, SecondServerNeedsEightCharactersOrAnAddress) {
  struct Case {
    const char *dns2;
    bool written;
  } cases[] = {
      {"", false},
      {"0", false},
      {"none", false},
      {"1.2.3", false},
      {"8.8.8.8", true},  // a whole address of 7 characters still counts
      {"0.0.0.0", false},  // the placeholder for no server
      {"10.0.0.54", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.dns2);
    store.set("dnsen", "1");
    store.set("dns_dns1", "10.1.1.1");
    store.set("dns_dns2", c.dns2);
    mgr.setwanstaticip("eth2.2", "10.0.0.2", "255.255.255.0", "10.0.0.1", "10.0.0.53", c.dns2,
                       "1500");
    std::vector<std::string> expected = {
        "vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0",
        "vk: route add default gw 10.0.0.1",
        "vk: echo nameserver 10.0.0.53 > /etc/resolv.conf",
    };
    if (c.written) expected.push_back(std::string("vk: echo nameserver ") + c.dns2 + " >> /etc/resolv.conf");
    expected.push_back("vk: cp /etc/resolv.conf /etc/bakresolv.conf");
    expected.push_back("vk: echo nameserver 10.1.1.1 > /etc/resolv.conf");
    if (c.written) expected.push_back(std::string("vk: echo nameserver ") + c.dns2 + " >> /etc/resolv.conf");
    expected.insert(expected.end(),
                    {"vk: iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE",
                     "vk: cat /proc/uptime > /etc/at",
                     "vk: iptables -t mangle -A PREROUTING -i eth2.2 -d 192.168.1.0/24 -j DROP"});
    EXPECT_TRUE(SameLines(sh, expected));
  }
}

TEST_F(WanStaticTest, TearDownUsesOnlyInterfaceAndMtu) {
  mgr.unsetwanstaticip("eth2.2", "10.0.0.2", "255.255.255.0", "10.0.0.1", "10.0.0.53", "10.0.0.54",
                       "1400");
  EXPECT_TRUE(SameLines(
      sh, {
              "vk: iptables -t nat -D POSTROUTING -o eth2.2 -j MASQUERADE",
              "vk: ifconfig eth2.2 mtu 1500",
              "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
              "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360",
              "vk: route del default",
              "vk: ifconfig eth2.2 0.0.0.0",
              "vk: echo -n > /etc/resolv.conf",
              "vk: echo \"0 0\" > /etc/at",
              "vk: iptables -t mangle -D PREROUTING -i eth2.2 -d 192.168.1.0/24 -j DROP",
          }));
  mgr.unsetwanstaticip("eth2.2", "", "", "", "", "", "1500");
  EXPECT_TRUE(SameLines(sh, {
                                "vk: iptables -t nat -D POSTROUTING -o eth2.2 -j MASQUERADE",
                                "vk: route del default",
                                "vk: ifconfig eth2.2 0.0.0.0",
                                "vk: echo -n > /etc/resolv.conf",
                                "vk: echo \"0 0\" > /etc/at",
                                "vk: iptables -t mangle -D PREROUTING -i eth2.2 -d 192.168.1.0/24 -j DROP",
                            }));
}

TEST_F(WanStaticTest, AValueThatIsNoAddressCostsOnlyItsOwnLine) {
  enum Field { IP, MASK, GW, DNS1, DNS2, USER1, USER2 };
  const std::vector<std::string> all = {
      "vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0",
      "vk: route add default gw 10.0.0.1",
      "vk: echo nameserver 10.0.0.53 > /etc/resolv.conf",
      "vk: echo nameserver 10.0.0.54 >> /etc/resolv.conf",
      "vk: cp /etc/resolv.conf /etc/bakresolv.conf",
      "vk: echo nameserver 10.1.1.1 > /etc/resolv.conf",
      "vk: echo nameserver 10.1.1.2 >> /etc/resolv.conf",
      "vk: iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE",
      "vk: cat /proc/uptime > /etc/at",
      "vk: iptables -t mangle -A PREROUTING -i eth2.2 -d 192.168.1.0/24 -j DROP",
  };
  struct Case {
    Field field;
    const char *value;
    const char *reasonMentions;
    const char *missing;  // the one line that is not run
  } cases[] = {
      {IP, "10.0.0.256", "wan_ip", "vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0"},
      {MASK, "255.255.255.0 up", "wan_mask", "vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0"},
      {GW, "gateway", "wan_gateway", "vk: route add default gw 10.0.0.1"},
      {DNS1, "10.0.0.53;reboot", "wan_dns1", "vk: echo nameserver 10.0.0.53 > /etc/resolv.conf"},
      {DNS2, "10.0.0.54.1", "wan_dns2", "vk: echo nameserver 10.0.0.54 >> /etc/resolv.conf"},
      {USER1, "1.1.1.1 2.2.2.2", "dns_dns1", "vk: echo nameserver 10.1.1.1 > /etc/resolv.conf"},
      {USER2, "$(reboot)", "dns_dns2", "vk: echo nameserver 10.1.1.2 >> /etc/resolv.conf"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.value);
    const char *v[7] = {"10.0.0.2",  "255.255.255.0", "10.0.0.1", "10.0.0.53",
                        "10.0.0.54", "10.1.1.1",      "10.1.1.2"};
    v[c.field] = c.value;
    store.set("dnsen", "1");
    store.set("dns_dns1", v[USER1]);
    store.set("dns_dns2", v[USER2]);
    testing::internal::CaptureStdout();
    mgr.setwanstaticip("eth2.2", v[IP], v[MASK], v[GW], v[DNS1], v[DNS2], "1500");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(c.reasonMentions), std::string::npos) << out;
    std::vector<std::string> expected;
    for (const auto &l : all)
      if (l != c.missing) expected.push_back(l);
    ASSERT_EQ(expected.size(), all.size() - 1);
    EXPECT_TRUE(SameLines(sh, expected));
  }
}

TEST_F(WanDhcpTest, TearDownStopsTheClient) {
  procs.add("udhcpc", 40);
  mgr.unsetwandhcp("eth2.2", "1400");
  EXPECT_TRUE(SameLines(
      sh, {
              "vk: ifconfig eth2.2 mtu 1500",
              "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
              "vk: iptables -t mangle -D FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360",
              "vk: ifconfig eth2.2 0.0.0.0",
              "vk: echo -n > /etc/resolv.conf",
              "vk: echo \"0 0\" > /etc/at",
          }));
  EXPECT_EQ(procs.signals, std::vector<std::string>{"15 udhcpc"});
  EXPECT_FALSE(procs.running("udhcpc"));
}

TEST_F(DhcpcScriptTest, PlainLeaseRoutesByDefault) {
  mgr.setwandhcp("eth2.2", "1500", "2", "3");
  EXPECT_TRUE(SameLines(sh, {
      R"(D: echo "#!/bin/sh" > /etc/udhcpc.script )",
      R"(D: echo 'RESOLV_CONF="/etc/resolv.conf"' >> /etc/udhcpc.script )",
      R"(D: echo 'case "$1" in' >> /etc/udhcpc.script )",
      R"(D: echo '    deconfig)' >> /etc/udhcpc.script )",
      R"(D: echo '        ifconfig $interface 0.0.0.0' >> /etc/udhcpc.script )",
      R"(D: echo '        sendmsg 204 3 &' >> /etc/udhcpc.script )",
      R"(D: echo '        ;;' >> /etc/udhcpc.script )",
      R"(D: echo '    bound)' >> /etc/udhcpc.script )",
      R"(D: echo '        ifconfig $interface $ip netmask ${subnet:-$mask}' >> /etc/udhcpc.script )",
      R"(D: echo '        for i in $router ; do' >> /etc/udhcpc.script )",
      R"(D: echo '                route add default gw $i dev $interface ' >> /etc/udhcpc.script )",
      R"(D: echo '        done' >> /etc/udhcpc.script )",
      R"(D: echo '        echo -n > $RESOLV_CONF' >> /etc/udhcpc.script )",
      R"(D: echo '        for i in $dns ; do' >> /etc/udhcpc.script )",
      R"(D: echo '            echo adding dns $i' >> /etc/udhcpc.script )",
      R"(D: echo '            echo nameserver $i >> $RESOLV_CONF' >> /etc/udhcpc.script )",
      R"(D: echo '        done' >> /etc/udhcpc.script )",
      R"(D: echo '        sendmsg 204 2 &' >> /etc/udhcpc.script )",
      R"(D: echo '        cat /proc/uptime > /etc/at' >> /etc/udhcpc.script )",
      R"(D: echo '        ;;' >> /etc/udhcpc.script )",
      R"(D: echo '    renew)' >> /etc/udhcpc.script )",
      R"(D: echo '        ;;' >> /etc/udhcpc.script )",
      R"(D: echo 'esac' >> /etc/udhcpc.script )",
      R"(D: echo 'exit 0' >> /etc/udhcpc.script )",
      R"(D: chmod +x /etc/udhcpc.script )",
      R"(D: udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid &)",
  }));
}

TEST_F(DhcpcScriptTest, PptpUnderlayRoutesOnlyTheServer) {
  bcopy_text(mgr.pptp_ser, "203.0.113.7");
  mgr.setwandhcp("eth2.2", "1500", "23", "24");
  EXPECT_TRUE(SameLines(sh, {
      R"(D: echo "#!/bin/sh" > /etc/udhcpc.script )",
      R"(D: echo 'RESOLV_CONF="/etc/resolv.conf"' >> /etc/udhcpc.script )",
      R"(D: echo 'case "$1" in' >> /etc/udhcpc.script )",
      R"(D: echo '    deconfig)' >> /etc/udhcpc.script )",
      R"(D: echo '        ifconfig $interface 0.0.0.0' >> /etc/udhcpc.script )",
      R"(D: echo '        sendmsg 204 24 &' >> /etc/udhcpc.script )",
      R"(D: echo '        ;;' >> /etc/udhcpc.script )",
      R"(D: echo '    bound)' >> /etc/udhcpc.script )",
      R"(D: echo '        ifconfig $interface $ip netmask ${subnet:-$mask}' >> /etc/udhcpc.script )",
      R"(D: echo '        for i in $router ; do' >> /etc/udhcpc.script )",
      R"(D: echo '                route add -net 203.0.113.7 netmask 255.255.255.255 gw $i ' >> /etc/udhcpc.script )",
      R"(D: echo '        done' >> /etc/udhcpc.script )",
      R"(D: echo '        echo -n > $RESOLV_CONF' >> /etc/udhcpc.script )",
      R"(D: echo '        for i in $dns ; do' >> /etc/udhcpc.script )",
      R"(D: echo '            echo adding dns $i' >> /etc/udhcpc.script )",
      R"(D: echo '            echo nameserver $i >> $RESOLV_CONF' >> /etc/udhcpc.script )",
      R"(D: echo '        done' >> /etc/udhcpc.script )",
      R"(D: echo '        sendmsg 204 23 &' >> /etc/udhcpc.script )",
      R"(D: echo '        cat /proc/uptime > /etc/at' >> /etc/udhcpc.script )",
      R"(D: echo '        ;;' >> /etc/udhcpc.script )",
      R"(D: echo '    renew)' >> /etc/udhcpc.script )",
      R"(D: echo '        ;;' >> /etc/udhcpc.script )",
      R"(D: echo 'esac' >> /etc/udhcpc.script )",
      R"(D: echo 'exit 0' >> /etc/udhcpc.script )",
      R"(D: chmod +x /etc/udhcpc.script )",
      R"(D: udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid &)",
  }));
}

// The L2TP script differs from the PPTP one only in its numbers and server.
TEST_F(DhcpcScriptTest, L2tpUnderlayRoutesOnlyTheServerByName) {
  bcopy_text(mgr.pptp_ser, "203.0.113.7");
  bcopy_text(mgr.l2tp_ser, "lns.isp-example.net");
  mgr.Set_dhcpc_conf("25", "26");
  std::vector<std::string> lines = sh.take();
  ASSERT_EQ(lines.size(), 25u);
  EXPECT_EQ(lines[5], R"(D: echo '        sendmsg 204 26 &' >> /etc/udhcpc.script )");
  EXPECT_EQ(lines[10],
            R"(D: echo '                route add -net lns.isp-example.net netmask 255.255.255.255 gw $i ' >> /etc/udhcpc.script )");
  EXPECT_EQ(lines[17], R"(D: echo '        sendmsg 204 25 &' >> /etc/udhcpc.script )");
  EXPECT_EQ(lines[24], R"(D: chmod +x /etc/udhcpc.script )");
}

TEST_F(DhcpcScriptTest, WrittenScriptReadsAsListed) {
  mgr.Set_dhcpc_conf("2", "3");
  dir.write("etc/.keep", "");
  runInDir(sh.take(), dir.path());
  EXPECT_EQ(dir.read("etc/udhcpc.script"),
            "#!/bin/sh\n"
            "RESOLV_CONF=\"/etc/resolv.conf\"\n"
            "case \"$1\" in\n"
            "    deconfig)\n"
            "        ifconfig $interface 0.0.0.0\n"
            "        sendmsg 204 3 &\n"
            "        ;;\n"
            "    bound)\n"
            "        ifconfig $interface $ip netmask ${subnet:-$mask}\n"
            "        for i in $router ; do\n"
            "                route add default gw $i dev $interface \n"
            "        done\n"
            "        echo -n > $RESOLV_CONF\n"
            "        for i in $dns ; do\n"
            "            echo adding dns $i\n"
            "            echo nameserver $i >> $RESOLV_CONF\n"
            "        done\n"
            "        sendmsg 204 2 &\n"
            "        cat /proc/uptime > /etc/at\n"
            "        ;;\n"
            "    renew)\n"
            "        ;;\n"
            "esac\n"
            "exit 0\n");
  struct stat st;
  ASSERT_EQ(stat((dir / "etc/udhcpc.script").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
}

TEST_F(DhcpcScriptTest, UnusableTunnelServerLeavesTheRouteLineOut) {
  struct Case {
    const char *bound, *lost, *server;
  } cases[] = {
      {"23", "24", "$(touch CANARY)"},
      {"23", "24", ""},
      {"25", "26", "lns;touch CANARY"},
      {"25", "26", "10.0.0.1 gw"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.server);
    bcopy_text(mgr.pptp_ser, c.server);
    bcopy_text(mgr.l2tp_ser, c.server);
    testing::internal::CaptureStdout();
    mgr.Set_dhcpc_conf(c.bound, c.lost);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("route line of /etc/udhcpc.script skipped"), std::string::npos) << out;
    std::vector<std::string> lines = sh.take();
    ASSERT_EQ(lines.size(), 24u);
    EXPECT_EQ(lines[9], R"(D: echo '        for i in $router ; do' >> /etc/udhcpc.script )");
    EXPECT_EQ(lines[10], R"(D: echo '        done' >> /etc/udhcpc.script )");
  }
}

// Shell metacharacters in every address, MTU and server value: none of them
// reaches a command line, and the script lines run by a real shell create
// nothing but the script.
TEST_F(WanInjectionTest, NoValueReachesACommandLine) {
  const char *payloads[] = {
      "$(touch CANARY)",   ";touch CANARY", "`touch CANARY`", "x'; touch CANARY; echo '",
      "x\"; touch CANARY", "x\ntouch CANARY", "a|touch CANARY", "a&&touch>CANARY",
      ">CANARY",           "$(touch${IFS}CANARY)",
  };
  dir.write("etc/.keep", "");
  for (const char *p : payloads) {
    SCOPED_TRACE(p);
    for (int field = 0; field < 8; ++field) {
      const char *v[8] = {"10.0.0.2",  "255.255.255.0", "10.0.0.1", "10.0.0.53",
                          "10.0.0.54", "10.1.1.1",      "10.1.1.2", "1400"};
      v[field] = p;
      store.set("dnsen", "1");
      store.set("dns_dns1", v[5]);
      store.set("dns_dns2", v[6]);
      testing::internal::CaptureStdout();
      mgr.setwanstaticip("eth2.2", v[0], v[1], v[2], v[3], v[4], v[7]);
      mgr.unsetwanstaticip("eth2.2", v[0], v[1], v[2], v[3], v[4], v[7]);
      mgr.setwandhcp("eth2.2", v[7], "2", "3");
      mgr.unsetwandhcp("eth2.2", v[7]);
      testing::internal::GetCapturedStdout();
      for (const auto &l : sh.take()) EXPECT_EQ(l.find("CANARY"), std::string::npos) << l;
    }

    bcopy_text(mgr.pptp_ser, p);
    bcopy_text(mgr.l2tp_ser, p);
    for (const char *bound : {"23", "25"}) {
      testing::internal::CaptureStdout();
      mgr.Set_dhcpc_conf(bound, "24");
      testing::internal::GetCapturedStdout();
      runInDir(sh.take(), dir.path());
      EXPECT_FALSE(dir.exists("CANARY"));
      EXPECT_EQ(dir.read("etc/udhcpc.script").find("CANARY"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace rc::test
