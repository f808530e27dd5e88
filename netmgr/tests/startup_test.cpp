// The whole start-up sequence for the three common WAN types, line by line.
#include <climits>

#include "fixture.h"

namespace rc::test {

int NetMgrTest::authResult = 0;
std::vector<std::string> NetMgrTest::authCalls;

namespace {

// Everything after Init_Eth and before the WAN type: LAN, kernel settings,
// chains.
const std::vector<std::string> kLanToChains = {
    "D: ifconfig br0 192.168.0.1 netmask 255.255.255.0",
    "D: arptables -A INPUT -i br0 -j ipfilter --ip 192.168.0.1 --netmask 255.255.255.0",
    "vk: echo 1 > /proc/sys/net/ipv4/ip_forward",
    "vk: echo 32768 > /proc/sys/net/nf_conntrack_max",
    "vk: echo 1800 > /proc/sys/net/ipv4/netfilter/ip_conntrack_tcp_timeout_established",
    "vk: echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_broadcasts",
    "vk: echo 1 > /proc/sys/net/ipv4/icmp_ignore_bogus_error_responses",
    "vk: echo \"1024 65000\" > /proc/sys/net/ipv4/ip_local_port_range",
    "vk: ifconfig lo up",
    "vk: route add -host 239.255.255.250 dev br0",
    "vk: iptables -t nat -N web_wanadmin",
    "vk: iptables -t nat -N web_lanadmin",
    "vk: iptables -t nat -N port_forward_pre",
    "vk: iptables -t nat -N port_forward_post",
    "vk: iptables -t nat -N dmz_forward_pre",
    "vk: iptables -t nat -N dmz_forward_post",
    "vk: iptables -t nat -N MINIUPNPD",
    "vk: iptables -t filter -N alg_filter",
    "vk: iptables -t filter -N ip_filter",
    "vk: iptables -t filter -N url_filter",
    "vk: iptables -t filter -N mac_filter",
    "vk: iptables -t filter -N qos",
    "vk: iptables -t filter -N ping",
    "vk: iptables -t filter -N web_access",
    "vk: iptables -t filter -N safe_filter",
    "vk: iptables -t filter -N account",
    "vk: iptables -t nat -A PREROUTING -j web_wanadmin",
    "vk: iptables -t nat -A PREROUTING -j web_lanadmin",
    "vk: iptables -t nat -A PREROUTING -j port_forward_pre",
    "vk: iptables -t nat -A PREROUTING -j dmz_forward_pre",
    "vk: iptables -t nat -A PREROUTING -j MINIUPNPD",
    "vk: iptables -t nat -A POSTROUTING -j port_forward_post",
    "vk: iptables -t nat -A POSTROUTING -j dmz_forward_post",
    "vk: iptables -t filter -A FORWARD -j account",
    "vk: iptables -t filter -A FORWARD -j qos",
    "vk: iptables -t filter -A FORWARD -j safe_filter",
    "vk: iptables -t filter -A FORWARD -j mac_filter",
    "vk: iptables -t filter -A FORWARD -j ip_filter",
    "vk: iptables -t filter -A FORWARD -j url_filter",
    "vk: iptables -t filter -A FORWARD -j alg_filter",
    "vk: iptables -t filter -A INPUT -j ping",
    "vk: iptables -t filter -A INPUT -j web_access",
    "D: mkdir /etc/ppp",
    "D: echo 0 > /etc/ddns",
    "D: cp -r /etc_ro/l7-protocols /etc",
    "vk: switch reg w c0 83002000",
};

class StartupTest : public NetMgrTest {
 protected:
  void SetUp() override {
    const unsigned char base[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    writeFlash(base);
    dir.write("etc/.keep", "");
    dir.write("kernel/proc/vkproc/.keep", "");
    store.set("lan_ip", "192.168.0.1");
    store.set("lan_mask", "255.255.255.0");
    store.set("wanparam", "2");
    store.set("dhcps_en", "1");
    store.set("dhcps_start", "192.168.0.100");
    store.set("dhcps_end", "192.168.0.200");
  }
  void start() {
    testing::internal::CaptureStdout();
    mgr.start();
    printed = testing::internal::GetCapturedStdout();
  }
  std::string printed;
};

TEST_F(StartupTest, StaticWan) {
  store.set("wan_connecttype", "1");
  store.set("wan_ip", "10.0.0.2");
  store.set("wan_mask", "255.255.255.0");
  store.set("wan_gateway", "10.0.0.1");
  store.set("wan_dns1", "10.0.0.1");
  store.set("wan_dns2", "");
  store.set("staticMTU", "1500");
  start();
  EXPECT_TRUE(SameLines(sh, cat({kInitEthLines, kLanToChains,
                                 {
                                     "vk: ifconfig eth2.2 10.0.0.2 netmask 255.255.255.0",
                                     "vk: route add default gw 10.0.0.1",
                                     "vk: echo nameserver 10.0.0.1 > /etc/resolv.conf",
                                     "vk: iptables -t nat -A POSTROUTING -o eth2.2 -j MASQUERADE",
                                     "vk: cat /proc/uptime > /etc/at",
                                     "vk: iptables -t mangle -A PREROUTING -i eth2.2 -d 192.168.0.0/24 -j DROP",
                                     "vk: sendmsg 201 2",
                                     "vk: sendmsg 203 2",
                                     "D: udhcpd /etc/udhcpd.conf &",
                                 }})));
  EXPECT_STREQ(mgr.wanname, "eth2.2");
  EXPECT_STREQ(mgr.lanname, "br0");
  EXPECT_STREQ(mgr.strlannet, "192.168.0.0");
  EXPECT_EQ(mgr.netsize, 24);
  EXPECT_EQ(mgr.ndepth, 0);
  EXPECT_FALSE(store.isOpen());
  EXPECT_TRUE(dir.exists("etc/udhcpd.conf"));
  EXPECT_EQ(dir.read("kernel/proc/vkproc/lanip"), std::string("\xc0\xa8\x00\x01\xff\xff\xff\x00", 8));
  // Every line is announced on standard output before it runs.
  EXPECT_NE(printed.find("ifconfig eth2 hw ether 00:11:22:33:44:55 up\nvconfig add eth2 1\n"),
            std::string::npos);
  EXPECT_NE(printed.find("sendmsg 203 2\nudhcpd /etc/udhcpd.conf &\n"), std::string::npos);
}

TEST_F(StartupTest, DhcpWan) {
  store.set("wan_connecttype", "2");
  store.set("dynamicMTU", "1400");
  store.set("dhcps_en", "0");
  store.set("wanparam", "0");
  start();
  std::vector<std::string> base(kLanToChains.begin(), kLanToChains.end() - 1);  // no port mode
  EXPECT_TRUE(SameLines(
      sh, cat({kInitEthLines, base,
               {
                   "vk: ifconfig eth2.2 mtu 1400",
                   "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --syn --set-mss 1360",
                   "vk: iptables -t mangle -A FORWARD -j TCPMSS -p tcp --tcp-flags SYN,ACK SYN,ACK --set-mss 1360",
                   "D: echo \"#!/bin/sh\" > /etc/udhcpc.script ",
                   "D: echo 'RESOLV_CONF=\"/etc/resolv.conf\"' >> /etc/udhcpc.script ",
                   "D: echo 'case \"$1\" in' >> /etc/udhcpc.script ",
                   "D: echo '    deconfig)' >> /etc/udhcpc.script ",
                   "D: echo '        ifconfig $interface 0.0.0.0' >> /etc/udhcpc.script ",
                   "D: echo '        sendmsg 204 3 &' >> /etc/udhcpc.script ",
                   "D: echo '        ;;' >> /etc/udhcpc.script ",
                   "D: echo '    bound)' >> /etc/udhcpc.script ",
                   "D: echo '        ifconfig $interface $ip netmask ${subnet:-$mask}' >> /etc/udhcpc.script ",
                   "D: echo '        for i in $router ; do' >> /etc/udhcpc.script ",
                   "D: echo '                route add default gw $i dev $interface ' >> /etc/udhcpc.script ",
                   "D: echo '        done' >> /etc/udhcpc.script ",
                   "D: echo '        echo -n > $RESOLV_CONF' >> /etc/udhcpc.script ",
                   "D: echo '        for i in $dns ; do' >> /etc/udhcpc.script ",
                   "D: echo '            echo adding dns $i' >> /etc/udhcpc.script ",
                   "D: echo '            echo nameserver $i >> $RESOLV_CONF' >> /etc/udhcpc.script ",
                   "D: echo '        done' >> /etc/udhcpc.script ",
                   "D: echo '        sendmsg 204 2 &' >> /etc/udhcpc.script ",
                   "D: echo '        cat /proc/uptime > /etc/at' >> /etc/udhcpc.script ",
                   "D: echo '        ;;' >> /etc/udhcpc.script ",
                   "D: echo '    renew)' >> /etc/udhcpc.script ",
                   "D: echo '        ;;' >> /etc/udhcpc.script ",
                   "D: echo 'esac' >> /etc/udhcpc.script ",
                   "D: echo 'exit 0' >> /etc/udhcpc.script ",
                   "D: chmod +x /etc/udhcpc.script ",
                   "D: udhcpc -i eth2.2 -s /etc/udhcpc.script -p /var/run/udhcpc.pid &",
               }})));
  EXPECT_STREQ(mgr.wanname, "eth2.2");
  EXPECT_STREQ(mgr.strwanmtu, "1400");
}

TEST_F(StartupTest, PppoeAlwaysOn) {
  store.set("wan_connecttype", "3");
  store.set("ppoe_userid", "alice");
  store.set("ppoe_pwd", "secret");
  store.set("ppoe_sev", "");
  store.set("ppoe_ac", "isp-ac");
  start();
  EXPECT_TRUE(SameLines(
      sh, cat({kInitEthLines, kLanToChains, kLinkScripts,
               {
                   "D: echo noauth > /etc/options.pppoe ",
                   "D: echo user 'alice' >> /etc/options.pppoe ",
                   "D: echo password 'secret' >> /etc/options.pppoe ",
                   "D: echo nomppe >> /etc/options.pppoe ",
                   "D: echo hide-password >> /etc/options.pppoe ",
                   "D: echo noipdefault >> /etc/options.pppoe ",
                   "D: echo defaultroute >> /etc/options.pppoe ",
                   "D: echo nodetach >> /etc/options.pppoe ",
                   "D: echo usepeerdns >> /etc/options.pppoe ",
                   "D: echo mru 1492 >> /etc/options.pppoe ",
                   "D: echo mtu 1492 >> /etc/options.pppoe ",
                   "D: echo persist >> /etc/options.pppoe ",
                   "D: echo ipcp-accept-remote >> /etc/options.pppoe ",
                   "D: echo ipcp-accept-local >> /etc/options.pppoe ",
                   "D: echo lcp-echo-failure 3 >> /etc/options.pppoe ",
                   "D: echo lcp-echo-interval 60 >> /etc/options.pppoe ",
                   "D: echo \"plugin /etc_ro/ppp/plugins/rp-pppoe.so eth2.2 \" >> /etc/options.pppoe ",
                   "D: echo rp_pppoe_ac isp-ac >> /etc/options.pppoe ",
                   "D: pppd file /etc/options.pppoe &",
                   "D: udhcpd /etc/udhcpd.conf &",
               }})));
}

// Schedule hours far beyond a day (found by fuzzing: hours * 60 overflowed an
// int). The minute of day saturates, so such a window is never entered.
TEST_F(StartupTest, PppoeScheduleHoursBeyondIntRange) {
  store.set("wan_connecttype", "3");
  store.set("ppoe_conmode", "3");
  store.set("ppoe_h_s", "864001400");
  store.set("ppoe_m_s", "0");
  store.set("ppoe_h_e", "2147483647");
  store.set("ppoe_m_e", "2147483647");
  start();
  EXPECT_EQ(mgr.ppp_conn_start_min, INT_MAX);
  EXPECT_EQ(mgr.ppp_conn_end_min, INT_MAX);
  store.set("ppoe_h_s", "-2147483648");
  store.set("ppoe_m_s", "-1");
  mgr.onCommand(4);
  EXPECT_EQ(mgr.ppp_conn_start_min, INT_MIN);
}

TEST_F(StartupTest, OnQueueClearsTheRingAndRecordsTheStart) {
  ipc.segments[205].assign(sizeof(syslog_ring), 'x');  // the log of a previous netmgr
  mgr.onQueue();
  EXPECT_EQ(ipc.calls, std::vector<std::string>{"createshm 205 32776 clear"});
  ASSERT_EQ(static_cast<void *>(mgr.shmptr), ipc.segments[205].data());
  EXPECT_EQ(mgr.shmptr->count, 1);
  EXPECT_EQ(std::string(mgr.shmptr->slot[0]), "1970-01-01 00:00:00 " + toGbk("系统初始化完成") + "\n");
  EXPECT_EQ(mgr.shmptr->slot[1][0], 0);
}

}  // namespace
}  // namespace rc::test
