// Start-up, the commands of queue 201 and the one-second cycle.
#include "fixture.h"

#include "alloc_count.h"

namespace rc::test {
namespace {

using CycleTest = TrafMonTest;

TEST_F(CycleTest, StartPutsTheAccountingRuleInItsChain) {
  struct Case {
    const char *ip, *mask, *rule;
    int ndepth;
  } cases[] = {
      {"192.168.0.1", "255.255.255.0",
       "vk: iptables -t filter -A account -j ACCOUNT --addr 192.168.0.0/24 --tname input_table", 0},
      {"172.16.5.9", "255.255.0.0",
       "vk: iptables -t filter -A account -j ACCOUNT --addr 172.16.0.0/16 --tname input_table", 1},
      {"10.1.2.3", "255.240.0.0",
       "vk: iptables -t filter -A account -j ACCOUNT --addr 10.0.0.0/12 --tname input_table", 2},
  };
  for (const auto &c : cases) {
    TrafMon m{TrafServices{sh, store, clock, paths}};
    m.setLan(ip(c.ip), ip(c.mask));
    clock.sleeps.clear();
    m.start();
    EXPECT_TRUE(SameLines(sh, {"vk: iptables -t filter -F account", c.rule}));
    EXPECT_EQ(m.ndepth, c.ndepth);
    EXPECT_EQ(clock.sleeps, std::vector<long>{1000000});
  }
}

TEST_F(CycleTest, WanRecordsAcrossCommandsTwoAndThree) {
  started();
  auto dev = [&](uint64_t ethRx, uint64_t ethTx, uint64_t pppRx, uint64_t pppTx) {
    dir.write("proc/net/dev", "h1\nh2\neth2.2: " + std::to_string(ethRx) + " 1 0 0 0 0 0 0 " +
                                  std::to_string(ethTx) + " 1 0 0 0 0 0 0\n ppp0: " +
                                  std::to_string(pppRx) + " 1 0 0 0 0 0 0 " + std::to_string(pppTx) +
                                  " 1 0 0 0 0 0 0\n");
  };
  auto rates = [&] { return std::make_pair(sys.wanupspeed, sys.wandownspeed); };
  using R = std::pair<uint32_t, uint32_t>;

  dev(1000, 500, 0, 0);
  mon.onTick();  // WAN down: no figures
  EXPECT_EQ(rates(), R(0, 0));
  EXPECT_STREQ(mon.wanname, "");

  for (const char *type : std::vector<const char *>{"1", "2", "4", "6", "", nullptr}) {  // nullptr: the key is missing
    if (type)
      store.set("wan_connecttype", type);
    else
      store.unset("wan_connecttype");
    mon.onCommand(2);
    EXPECT_STREQ(mon.wanname, "eth2.2") << (type ? type : "missing");
    EXPECT_FALSE(store.isOpen());
  }
  mon.onTick();  // the first reading: nothing to subtract yet
  EXPECT_EQ(rates(), R(0, 0));
  dev(4000, 1500, 0, 0);
  mon.onTick();
  EXPECT_EQ(rates(), R(1000, 3000));
  dev(4000 + 0x100000000ull - 10, 1500, 0, 0);  // the 32-bit counter wrapped
  mon.onTick();
  EXPECT_EQ(rates(), R(0, 0xfffffff6u));
  dev(4100 + 0x100000000ull, 1500, 0, 0);
  mon.onTick();
  EXPECT_EQ(rates(), R(0, 110));

  store.set("wan_connecttype", "3");  // PPPoE: the rates follow ppp0
  mon.onCommand(2);
  EXPECT_STREQ(mon.wanname, "ppp0");
  dev(9999, 9999, 100, 200);
  mon.onTick();
  EXPECT_EQ(rates(), R(0, 0));
  dev(9999, 9999, 150, 260);
  mon.onTick();
  EXPECT_EQ(rates(), R(60, 50));
  dev(9999, 9999, 150, 260);
  mon.onCommand(2);  // again while up: the records keep their contents
  mon.onTick();
  EXPECT_EQ(rates(), R(0, 0));

  mon.onCommand(3);
  EXPECT_EQ(mon.wanconnflag, 0);
  EXPECT_EQ(memcmp(&mon.wan1, "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), 0);
  EXPECT_EQ(memcmp(&mon.wan2, "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), 0);
  dev(9999, 9999, 500, 500);
  mon.onTick();
  EXPECT_EQ(rates(), R(0, 0));

  // ppp0 not there yet after command 2: no rate, and none from a stale record.
  mon.onCommand(2);
  dir.write("proc/net/dev", "h1\nh2\neth2.2: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n");
  mon.onTick();
  EXPECT_EQ(rates(), R(0, 0));
  dev(0, 0, 10, 20);
  mon.onTick();
  EXPECT_EQ(rates(), R(0, 0));
  dev(0, 0, 30, 50);
  mon.onTick();
  EXPECT_EQ(rates(), R(30, 20));

  mon.onCommand(7);  // unknown: nothing changes
  EXPECT_EQ(mon.wanconnflag, 1);
  EXPECT_TRUE(SameLines(sh, {"vk: free > /tmp/free.txt"}));  // the first cycle's
}

TEST_F(CycleTest, CpuPercentFromTwoReadings) {
  started();
  struct Step {
    const char *stat;
    int32_t pct;
  } steps[] = {
      {"cpu 100 0 100 800 0 0 0\n", 20},   // since boot: 800 of 1000 idle
      {"cpu 130 0 100 870 0 0 0\n", 30},   // 70 of 100 idle
      {"cpu 130 0 100 870 0 0 0\n", 100},  // the totals did not advance
      {"cpu 130 0 150 920 0 0 0\n", 50},
      {"cpu 130 0 150 1020 0 0 0\n", 0},
  };
  for (const auto &s : steps) {
    dir.write("proc/stat", s.stat);
    mon.onTick();
    EXPECT_EQ(sys.cpupercent, s.pct) << s.stat;
  }
}

TEST_F(CycleTest, HostTableAcrossCycles) {
  writeAccount({{pageAddr(0), 0, 0}});
  setEntry(pageAddr(0), 10, {5, 5000, 6, 60000});
  dir.write("proc/net/arp", "head\n192.168.0.10 0x1 0x2 02:00:00:00:01:0a * br0\n");
  writeConn({{ip("192.168.0.10"), 2}});
  started();
  mon.onTick();
  ASSERT_EQ(seg.n, 1);
  EXPECT_EQ(seg.host[0].addr, ip("192.168.0.10"));
  EXPECT_EQ(seg.host[0].brecv, 60000u);
  // The first cycle has no earlier snapshot: no rate rather than the totals.
  EXPECT_EQ(seg.host[0].downspeed, 0u);
  EXPECT_STREQ(seg.host[0].mac, "02:00:00:00:01:0a");
  EXPECT_EQ(seg.host[0].conns, 2u);

  setEntry(pageAddr(0), 10, {7, 6000, 9, 90000});
  setEntry(pageAddr(0), 3, {1, 100, 1, 200});  // new host, ahead of .10
  mon.onTick();
  ASSERT_EQ(seg.n, 2);
  EXPECT_EQ(seg.host[0].addr, ip("192.168.0.3"));
  EXPECT_EQ(seg.host[0].upspeed, 100u);
  EXPECT_EQ(seg.host[0].downspeed, 200u);
  EXPECT_STREQ(seg.host[0].mac, kNoMac);  // the ARP table is 64 cycles old
  EXPECT_EQ(seg.host[1].upspeed, 1000u);
  EXPECT_EQ(seg.host[1].downspeed, 30000u);

  // Every host gone: only the count is written, the records stay.
  setEntry(pageAddr(0), 10, {});
  setEntry(pageAddr(0), 3, {});
  mon.onTick();
  EXPECT_EQ(seg.n, 0);
  EXPECT_EQ(seg.host[1].brecv, 90000u);
}

TEST_F(CycleTest, ArpAndMemoryEvery64thCycleAndPagesEvery60thForShortPrefixes) {
  mon.setLan(ip("172.16.0.1"), ip("255.255.0.0"));
  writeAccount({{pageAddr(0), 0, 0}});
  started();
  writeAccount({{pageAddr(0), 0, 0}, {pageAddr(1), 1, 0}});
  for (int i = 0; i < 130; ++i) {
    mon.onTick();
    if (i == 58) {
      EXPECT_EQ(mon.mapaddr[1].page, 0u);
    }
    if (i == 59) {
      EXPECT_EQ(mon.mapaddr[1].page, pageAddr(1));  // the 60th cycle
    }
  }
  // Cycles 0, 64 and 128 measured memory.
  EXPECT_TRUE(SameLines(sh, {"vk: free > /tmp/free.txt", "vk: free > /tmp/free.txt",
                             "vk: free > /tmp/free.txt"}));
  EXPECT_EQ(sys.mempercent, 50);

  // A /24 LAN never maps its pages again.
  TrafMon m{TrafServices{sh, store, clock, paths}};
  m.setLan(ip("192.168.0.1"), ip("255.255.255.0"));
  writeAccount({{pageAddr(0), 0, 0}});
  m.start();
  writeAccount({{pageAddr(0), 0, 0}, {pageAddr(1), 1, 0}});
  for (int i = 0; i < 120; ++i) m.onTick();
  EXPECT_EQ(m.mapaddr[1].page, 0u);
}

TEST_F(CycleTest, HostsOnAPageMappedInThisCycleShowNoRateOnce) {
  // A /16 LAN: block 172.16.1.x gets its page after start and its host has
  // run up 800000 bytes by the 60th cycle, which maps the page.
  mon.setLan(ip("172.16.0.1"), ip("255.255.0.0"));
  writeAccount({{pageAddr(0), 0, 0}});
  setEntry(pageAddr(0), 10, {1, 1000, 1, 2000});
  started();
  writeAccount({{pageAddr(0), 0, 0}, {pageAddr(1), 1, 0}});
  struct Step {
    uint32_t cycle;
    acctentry host;               // 172.16.1.7's counters in that cycle
    std::vector<uint32_t> rates;  // up and down of 172.16.0.10, then of 172.16.1.7
  } steps[] = {
      {60, {9, 70000, 9, 800000}, {300, 100, 0, 0}},
      {61, {9, 70100, 9, 800500}, {0, 0, 100, 500}},
      {120, {9, 70400, 9, 800600}, {0, 0, 300, 100}},  // the same pages mapped again
  };
  for (const auto &s : steps) {
    while (mon.cycle + 1 < s.cycle) mon.onTick();
    setEntry(pageAddr(0), 10, {2, 1300, 2, 2100});
    setEntry(pageAddr(1), 7, s.host);
    mon.onTick();
    ASSERT_EQ(seg.n, 2) << s.cycle;
    EXPECT_EQ(std::vector<uint32_t>({seg.host[0].upspeed, seg.host[0].downspeed,
                                     seg.host[1].upspeed, seg.host[1].downspeed}),
              s.rates)
        << s.cycle;
  }
}

TEST_F(CycleTest, MissingSegmentsAreNeverWritten) {
  writeAccount({{pageAddr(0), 0, 0}});
  setEntry(pageAddr(0), 10, {5, 5000, 6, 60000});
  mon.attach(nullptr, nullptr);
  started();
  mon.onTick();
  mon.onTick();
  EXPECT_EQ(seg.n, 0);
  EXPECT_EQ(sys.mempercent, 0);
}

TEST_F(CycleTest, CyclesAllocateNothing) {
  // A shell that only counts, so that the check sees the cycle's own
  // allocations; free's output is already in place.
  CountingShell quiet;
  dir.write("tmp/free.txt", freeText);
  TrafMon m{TrafServices{quiet, store, clock, paths}};
  m.attach(&seg, &sys);
  m.setLan(ip("172.16.0.1"), ip("255.255.0.0"));
  std::vector<acctpage> pages;
  for (int k = 0; k < 4; ++k) {
    pages.push_back({pageAddr(k), static_cast<int16_t>(k), 0});
    for (int i = 0; i < 256; ++i) setEntry(pageAddr(k), i, {1, 2, 3, 4});
  }
  writeAccount(pages);
  dir.write("proc/net/arp", "head\n172.16.0.10 0x1 0x2 02:00:00:00:01:0a * br0\n");
  dir.write("proc/net/dev", "h1\nh2\neth2.2: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n");
  writeConn({{ip("172.16.0.10"), 2}});
  m.start();
  m.onCommand(2);
  m.onTick();  // a first cycle may set up the C library's own state
  clock.sleeps.reserve(clock.sleeps.size() + 1000);  // the fake clock's own record
  // Cycles 2..130: the page refresh (60, 120) and the ARP and memory
  // measurements (64, 128) included.
  long allocs = count_allocations([&] {
    for (int i = 0; i < 129; ++i) m.onTick();
  });
  if (allocs < 0) GTEST_SKIP() << "this build has no allocation counter (alloc_count.h)";
  EXPECT_EQ(allocs, 0) << "a cycle allocated";
  EXPECT_EQ(quiet.lines, 5);  // the two iptables lines; free at cycles 0, 64 and 128
  EXPECT_EQ(seg.n, 1024);
  EXPECT_EQ(seg.host[1023].addr, ip("172.16.3.255"));
}

}  // namespace
}  // namespace rc::test
