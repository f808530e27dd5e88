// The connection-count table from /proc/vkproc/currconn and the ARP table
// from /proc/net/arp, and how the host records get their MAC and count.
#include "fixture.h"

namespace rc::test {
namespace {

using TablesTest = TrafMonTest;

uint32_t countOf(TrafMon &m, const char *a) {
  const linknode *n = m.plink.find(ip(a));
  return n ? n->count : 0xdeadbeefu;
}

TEST_F(TablesTest, ConnectionCountsAreReplacedAndKept) {
  writeConn({{ip("192.168.0.5"), 3}, {ip("192.168.0.6"), 1}});
  mon.getlinkinfo();
  writeConn({{ip("192.168.0.5"), 7}});  // .6 no longer listed: keeps its last count
  mon.getlinkinfo();
  EXPECT_EQ(countOf(mon, "192.168.0.5"), 7u);
  EXPECT_EQ(countOf(mon, "192.168.0.6"), 1u);
  // Same last octet, one bucket: both found by their whole address.
  writeConn({{ip("192.168.1.5"), 2}});
  mon.getlinkinfo();
  EXPECT_EQ(countOf(mon, "192.168.1.5"), 2u);
  EXPECT_EQ(countOf(mon, "192.168.0.5"), 7u);
}

TEST_F(TablesTest, EmptyOrZeroFirstCurrconnChangesNothing) {
  writeConn({{ip("192.168.0.5"), 3}});
  mon.getlinkinfo();
  dir.write("kernel/proc/vkproc/currconn", "");
  mon.getlinkinfo();
  writeConn({{0, 9}, {ip("192.168.0.9"), 4}});
  mon.getlinkinfo();
  EXPECT_EQ(countOf(mon, "192.168.0.5"), 3u);
  EXPECT_EQ(mon.plink.find(ip("192.168.0.9")), nullptr);
  unlink((dir / "kernel/proc/vkproc/currconn").c_str());
  testing::internal::CaptureStdout();
  mon.getlinkinfo();
  EXPECT_EQ(out(), "open /proc/vkproc/currconn failed\n");
  EXPECT_EQ(countOf(mon, "192.168.0.5"), 3u);
}

TEST_F(TablesTest, CurrconnWithoutEndMarkIsReadToItsFirst4096Bytes) {
  std::vector<std::pair<uint32_t, uint32_t>> pairs;
  for (uint32_t k = 1; k <= 600; ++k) pairs.push_back({htonl(0x0a000000u + k), k});
  writeConn(pairs, false);
  mon.getlinkinfo();
  EXPECT_EQ(mon.plink.find(htonl(0x0a000000u + 512))->count, 512u);  // the last whole pair
  EXPECT_EQ(mon.plink.find(htonl(0x0a000000u + 513)), nullptr);
}

TEST_F(TablesTest, FullConnectionPoolDropsNewAddresses) {
  for (uint32_t round = 0; round < 3; ++round) {
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (uint32_t k = 0; k < 500; ++k) pairs.push_back({htonl(0x0a000001u + round * 500 + k), 1 + round});
    writeConn(pairs);
    mon.getlinkinfo();
  }
  EXPECT_EQ(mon.plink.freehead, -1);
  EXPECT_NE(mon.plink.find(htonl(0x0a000001u + 1023)), nullptr);  // the 1024th address
  EXPECT_EQ(mon.plink.find(htonl(0x0a000001u + 1024)), nullptr);
  // Known addresses still get their new counts.
  writeConn({{htonl(0x0a000001u), 42}, {htonl(0x0a000001u + 1200), 5}});
  mon.getlinkinfo();
  EXPECT_EQ(mon.plink.find(htonl(0x0a000001u))->count, 42u);
  EXPECT_EQ(mon.plink.find(htonl(0x0a000001u + 1200)), nullptr);
}

const char kArp[] =
    "IP address       HW type     Flags       HW address            Mask     Device\n"
    "192.168.0.100    0x1         0x2         02:00:00:00:01:0a     *        br0\n"
    "192.168.0.101    0x1         0x0         00:00:00:00:00:00     *        br0\n"
    "10.250.0.1       0x1         0x2         02:aa:bb:cc:dd:ee     *        eth2.2\r\n"
    "192.168.0.102 0x1 0x2\n"                 // no colon
    "1.2.3.4:\n"                              // too short
    "192.168.0.103:0x1\n"                     // no space, MAC would run past the line
    "192.168.0.100    0x1         0x2         02:00:00:00:01:0b     *        br0\n";  // replaces

TEST_F(TablesTest, ArpTableFromProcNetArp) {
  dir.write("proc/net/arp", kArp);
  mon.getarpinfo();
  struct {
    const char *addr, *mac;
  } want[] = {{"192.168.0.100", "02:00:00:00:01:0b"},
              {"192.168.0.101", "00:00:00:00:00:00"},
              {"10.250.0.1", "02:aa:bb:cc:dd:ee"}};
  for (auto &w : want) {
    const arpnode *n = mon.parp.find(ip(w.addr));
    ASSERT_NE(n, nullptr) << w.addr;
    EXPECT_STREQ(n->mac, w.mac);
  }
  EXPECT_EQ(mon.parp.find(ip("192.168.0.102")), nullptr);
  EXPECT_EQ(mon.parp.freehead, 3);  // three entries taken
}

TEST_F(TablesTest, ArpTableIsRebuiltAndBoundedByItsPool) {
  std::string text = "head\n";
  for (int k = 0; k < 1100; ++k) {
    char line[96];
    snprintf(line, sizeof line, "10.0.%d.%d 0x1 0x2 02:00:00:00:%02x:%02x * br0\n", k / 256, k % 256,
             k / 256, k % 256);
    text += line;
  }
  dir.write("proc/net/arp", text);
  mon.getarpinfo();
  EXPECT_STREQ(mon.parp.find(ip("10.0.3.255"))->mac, "02:00:00:00:03:ff");  // the 1024th
  EXPECT_EQ(mon.parp.find(ip("10.0.4.0")), nullptr);
  dir.write("proc/net/arp", kArp);
  mon.getarpinfo();  // afresh: the old entries are gone
  EXPECT_EQ(mon.parp.find(ip("10.0.0.1")), nullptr);
  unlink((dir / "proc/net/arp").c_str());
  testing::internal::CaptureStdout();
  mon.getarpinfo();
  EXPECT_EQ(out(), "open /proc/net/arp failed\n");
  EXPECT_EQ(mon.parp.find(ip("192.168.0.100")), nullptr);
}

TEST_F(TablesTest, HostRecordsGetMacAndConnections) {
  dir.write("proc/net/arp", kArp);
  mon.getarpinfo();
  writeConn({{ip("192.168.0.100"), 4}});
  mon.getlinkinfo();
  hoststat recs[2] = {};
  recs[0].addr = ip("192.168.0.100");
  recs[1].addr = ip("192.168.0.120");
  memset(recs[1].mac, 'x', sizeof recs[1].mac);
  recs[1].conns = 9;
  mon.getarplink(recs, 2);
  EXPECT_STREQ(recs[0].mac, "02:00:00:00:01:0b");
  EXPECT_EQ(recs[0].conns, 4u);
  EXPECT_EQ(memcmp(recs[1].mac, "00:00:00:00:00:00", 18), 0);
  EXPECT_EQ(recs[1].conns, 0u);
}

}  // namespace
}  // namespace rc::test
