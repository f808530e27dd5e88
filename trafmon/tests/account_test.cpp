// The page list of /proc/vkproc/account, the snapshot out of the mapped pages
// and the per-host rates.
#include "fixture.h"

namespace rc::test {
namespace {

TEST(AccountLine, ParsesThreeFieldsAndRefusesWhatDoesNotFit) {
  struct Case {
    const char *line;
    bool ok;
    uint32_t page;
    int third, second;
  } cases[] = {
      {"addr=-2130706432 third=5 second=0", true, 0x81000000u, 5, 0},
      {"a=-2147483648 b=0 c=255", true, 0x80000000u, 0, 255},
      {"a=-1610616832 b=1 c=2", true, 0x9ffff000u, 1, 2},  // last page of the segment
      {"a=-1610612736 b=1 c=2", false, 0, 0, 0},           // 0xa0000000: outside it
      {"a=4096 b=1 c=2", false, 0, 0, 0},                  // a user address
      {"a=-2130706432 b=1", false, 0, 0, 0},               // two fields
      {"a=-2130706432 b=1 c2", false, 0, 0, 0},            // third "=" missing
      {"a -2130706432 b=1 c=2", false, 0, 0, 0},           // space before the first "="
      {"a=-2130706432 b=256 c=2", false, 0, 0, 0},         // not an octet
      {"a=-2130706432 b=1 c=-1", false, 0, 0, 0},
      {"", false, 0, 0, 0},
      {"a=-2130706432x b=7junk c=3\r", true, 0x81000000u, 7, 3},  // leading digits count
  };
  for (const auto &c : cases) {
    acctpage p{};
    EXPECT_EQ(TrafMon::parseAccountLine(c.line, &p), c.ok) << c.line;
    if (!c.ok) continue;
    EXPECT_EQ(p.page, c.page) << c.line;
    EXPECT_EQ(p.third, c.third) << c.line;
    EXPECT_EQ(p.second, c.second) << c.line;
  }
}

TEST(AccountLine, ExchangeSortByBlockLeavesEqualKeysAsItSwapsThem) {
  // Keys second*256+third: A=1, B=1, C=0. Position 0 takes C from position 2,
  // which puts A behind B: equal keys end up reversed.
  acctpage p[] = {{1, 1, 0}, {2, 1, 0}, {3, 0, 0}};
  TrafMon::sortPages(p, 3);
  EXPECT_EQ(p[0].page, 3u);
  EXPECT_EQ(p[1].page, 2u);
  EXPECT_EQ(p[2].page, 1u);
  // Already in order: equal keys never exchanged.
  acctpage q[] = {{1, 0, 0}, {2, 0, 0}, {3, 255, 0}, {4, 0, 1}};
  TrafMon::sortPages(q, 4);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(q[i].page, i + 1);
  // The second octet weighs 256 times the third.
  acctpage r[] = {{1, 0, 2}, {2, 255, 1}, {3, 7, 0}};
  TrafMon::sortPages(r, 3);
  EXPECT_EQ(r[0].page, 3u);
  EXPECT_EQ(r[1].page, 2u);
  EXPECT_EQ(r[2].page, 1u);
}

using AccountTest = TrafMonTest;

TEST_F(AccountTest, PageListSkipsBadLinesAndKeepsNinePages) {
  std::string text = "junk\n" + std::string(200, '7') + "\n";  // no fields; over-long
  for (int k = 0; k < 11; ++k)
    text += "p=" + std::to_string(static_cast<int32_t>(pageAddr(k))) + " t=" + std::to_string(20 - k) +
            " s=0\n";
  dir.write("kernel/proc/vkproc/account", text);
  mon.getaccountaddr();
  // The first nine good lines, sorted by block: pages 8 (third 12) ... 0 (third 20).
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(mon.account_data[i].page, pageAddr(8 - i)) << i;
    EXPECT_EQ(mon.account_data[i].third, 12 + i) << i;
  }
  EXPECT_EQ(mon.account_data[9].page, 0u);
}

TEST_F(AccountTest, MissingAccountFileGivesEmptySnapshots) {
  testing::internal::CaptureStdout();
  mon.getmapaddr();
  EXPECT_EQ(out(), "open " + dir.path() + "/kernel/proc/vkproc/account failed\n");
  EXPECT_EQ(mon.getstatistics(mon.pacc1), 0);
}

TEST_F(AccountTest, SnapshotFromPagesWithBlockArithmetic) {
  // A /16 LAN: page blocks 192.168.3.x (third 3) and 192.168.0.x listed in
  // reverse order; the snapshot comes out in address order.
  mon.setLan(ip("192.168.1.1"), ip("255.255.0.0"));
  writeAccount({{pageAddr(1), 3, 168}, {pageAddr(0), 0, 0}});
  setEntry(pageAddr(0), 0, {1, 100, 2, 200});    // network address: listed like any other
  setEntry(pageAddr(0), 7, {0, 0, 5, 500});      // received only: no host
  setEntry(pageAddr(0), 255, {3, 300, 4, 400});  // broadcast address: listed
  setEntry(pageAddr(1), 9, {5, 0xffffffffu, 6, 600});
  mon.start();
  EXPECT_EQ(mon.mapaddr[0].page, pageAddr(0));
  int n = mon.getstatistics(mon.pacc1);
  ASSERT_EQ(n, 3);
  const acctstat want[] = {{ip("192.168.0.0"), 1, 100, 2, 200},
                           {ip("192.168.0.255"), 3, 300, 4, 400},
                           {ip("192.168.3.9"), 5, 0xffffffffu, 6, 600}};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(memcmp(&mon.pacc1[i], &want[i], sizeof want[i]), 0) << i;

  // The mapping is live: a later update of the page shows in the next snapshot.
  setEntry(pageAddr(0), 7, {1, 10, 5, 500});
  EXPECT_EQ(mon.getstatistics(mon.pacc2), 4);
  EXPECT_EQ(mon.pacc2[1].addr, ip("192.168.0.7"));
}

TEST_F(AccountTest, SecondAndThirdOctetsAreOredIntoTheNetwork) {
  // A /8 LAN: 10.0.0.0 with second 20, third 30 gives 10.20.30.i.
  mon.setLan(ip("10.1.2.3"), ip("255.0.0.0"));
  writeAccount({{pageAddr(0), 30, 20}});
  setEntry(pageAddr(0), 4, {1, 1, 1, 1});
  mon.start();
  ASSERT_EQ(mon.getstatistics(mon.pacc1), 1);
  EXPECT_EQ(mon.pacc1[0].addr, ip("10.20.30.4"));
}

TEST_F(AccountTest, SnapshotHoldsAtMost1024Hosts) {
  std::vector<acctpage> pages;
  for (int k = 0; k < 9; ++k) {
    pages.push_back({pageAddr(k), static_cast<int16_t>(k), 0});
    for (int i = 0; i < 256; ++i) setEntry(pageAddr(k), i, {1, 2, 3, 4});
  }
  writeAccount(pages);
  mon.setLan(ip("172.16.0.1"), ip("255.255.0.0"));
  mon.start();
  ASSERT_EQ(mon.getstatistics(mon.pacc1), 1024);
  EXPECT_EQ(mon.pacc1[1023].addr, ip("172.16.3.255"));
}

TEST_F(AccountTest, PageBeyondTheMemoryFileIsNotMapped) {
  writeAccount({{0x80000000u + 64 * 4096, 1, 0}, {pageAddr(0), 2, 0}, {0x80000010u, 3, 0}});
  setEntry(pageAddr(0), 1, {1, 1, 1, 1});
  testing::internal::CaptureStdout();
  mon.start();
  EXPECT_EQ(out(), "mmap error\nmmap error\n");  // past the file's end; not page-aligned
  EXPECT_EQ(mon.mapaddr[0].page, pageAddr(0));
  EXPECT_EQ(mon.mapaddr[1].page, 0u);
  ASSERT_EQ(mon.getstatistics(mon.pacc1), 1);
  EXPECT_EQ(mon.pacc1[0].addr, ip("192.168.2.1"));  // third octet 2
}

TEST_F(AccountTest, NoDevMemMeansNoPages) {
  unlink(memPath.c_str());
  writeAccount({{pageAddr(0), 0, 0}});
  testing::internal::CaptureStdout();
  mon.start();
  EXPECT_EQ(out(), "open /dev/mem error\nmmap error\n");
  EXPECT_EQ(mon.getstatistics(mon.pacc1), 0);
}

TEST(CalcSpeed, HostsAppearingAndVanishingAndCounterWrap) {
  const acctstat old[] = {{htonl(1), 1, 100, 1, 1000},
                          {htonl(2), 1, 100, 1, 1000},   // vanishes
                          {htonl(4), 1, 0xfffffff0u, 1, 0xffffff00u},
                          {htonl(9), 1, 5, 1, 5}};       // vanishes, the last one
  const acctstat now[] = {{htonl(1), 2, 150, 3, 1700},
                          {htonl(3), 1, 40, 1, 70},      // new
                          {htonl(4), 2, 0x10u, 2, 0x100u},  // both counters wrapped
                          {htonl(0x01000000), 1, 9, 1, 9}};  // new, above every old one
  hoststat out[4] = {};
  TrafMon::calcspeed(old, 4, now, 4, out);
  struct {
    uint32_t up, down;
  } want[] = {{50, 700}, {40, 70}, {0x20, 0x200}, {9, 9}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(out[i].upspeed, want[i].up) << i;
    EXPECT_EQ(out[i].downspeed, want[i].down) << i;
  }
  // The counters are taken over in the host table's order: packets first.
  EXPECT_EQ(out[0].addr, htonl(1));
  EXPECT_EQ(out[0].psent, 2u);
  EXPECT_EQ(out[0].precv, 3u);
  EXPECT_EQ(out[0].bsent, 150u);
  EXPECT_EQ(out[0].brecv, 1700u);
  // Old records behind the old count are never compared.
  TrafMon::calcspeed(old, 0, now, 1, out);
  EXPECT_EQ(out[0].upspeed, 150u);
}

}  // namespace
}  // namespace rc::test
