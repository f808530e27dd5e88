// /proc/net/dev, /proc/stat and free's output, from literal samples.
#include "fixture.h"

namespace rc::test {
namespace {

using SysFigTest = TrafMonTest;

const char kNetDev[] =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n"
    "    lo:    1000      10    0    0    0     0          0         0     1000      10    0    0    0     0       0          0\n"
    "eth2.2: 5000000000 4000    0    0    0     0          0         0   300000    2000    0    0    0     0       0          0\n"
    "  ppp0:123456 77 0 0 0 0 0 0 654321 88 0 0 0 0 0 0\n"
    "eth2.2:1: 9 9 0 0 0 0 0 0 9 9 0 0 0 0 0 0\n"
    " short: 1 2 3\n";

TEST_F(SysFigTest, WanCountersFromProcNetDev) {
  dir.write("proc/net/dev", kNetDev);
  struct Case {
    const char *name;
    int found;
    wanstat want;
  } cases[] = {
      // 5000000000 bytes: the low 32 bits.
      {"eth2.2", 1, {2000, 300000, 4000, static_cast<uint32_t>(5000000000ull)}},
      {"ppp0", 1, {88, 654321, 77, 123456}},  // numbers right after the colon
      {"eth2.2:1", 1, {9, 9, 9, 9}},         // an alias
      {"eth2", 0, {7, 7, 7, 7}},             // missing: the record keeps its contents
      {"short", 0, {7, 7, 7, 7}},            // too few numbers
  };
  for (const auto &c : cases) {
    wanstat rec{7, 7, 7, 7};
    EXPECT_EQ(mon.getwanstatics(c.name, &rec), c.found) << c.name;
    EXPECT_EQ(memcmp(&rec, &c.want, sizeof rec), 0) << c.name;
  }
  unlink((dir / "proc/net/dev").c_str());
  wanstat rec{};
  testing::internal::CaptureStdout();
  EXPECT_EQ(mon.getwanstatics("eth2.2", &rec), 0);
  EXPECT_EQ(out(), "open /proc/net/dev failed\n");
}

TEST_F(SysFigTest, CpuTotalsFromProcStat) {
  struct Case {
    const char *text;
    uint32_t total, idle;
  } cases[] = {
      {"cpu  4705 356 584 3699176 23060 0 277 0 0 0\ncpu0 1 2 3 4\n", 3728158, 3699176},
      {"cpu 1 2 3 4 5 6 7\n", 28, 4},
      {"cpu 1 2 3 4\n", 10, 4},          // an old kernel's four numbers
      {"cpu 1 2 3\n", 55, 66},           // no idle time: no reading
      {"cpu 4294967295 1 0 0 0 0 0\n", 0, 0},  // the totals are 32-bit and wrap
  };
  for (const auto &c : cases) {
    dir.write("proc/stat", c.text);
    uint32_t total = 55, idle = 66;
    mon.getcpustat(&total, &idle);
    EXPECT_EQ(total, c.total) << c.text;
    EXPECT_EQ(idle, c.idle) << c.text;
  }
}

TEST_F(SysFigTest, MemoryUseFromFree) {
  const char head[] = "              total        used        free      shared  buff/cache   available\n";
  struct Case {
    std::string mem;
    int32_t pct;
  } cases[] = {
      {"Mem:          29000       12000       16384           0         600        9000", 50},
      {"Mem:          29000       12000       20000           0         600        9000", 39},
      {"Mem:          30000       12000       0           0         600        9000", 100},
      // busybox free of an older kind: total used free shared buffers
      {"Mem:        28440        20168         8272            0         1940", 75},
      // A PC with 8 GiB: measured against its own total.
      {"Mem:        8000000     2000000      6000000      0    0   0", 25},
      {"Mem:     67108864    33554432    33554432   0  0  0", 50},  // 64 GiB: no overflow
      {"Mem: 29000 12000", 60},  // no free column
  };
  for (const auto &c : cases) {
    freeText = head + c.mem + "\n";
    int32_t pct = -7;
    mon.getmemuse(&pct);
    EXPECT_EQ(pct, c.pct) << c.mem;
    EXPECT_TRUE(SameLines(sh, {"vk: free > /tmp/free.txt"}));
  }
  sh.on("free", [this](const std::string &) { unlink((dir / "tmp/free.txt").c_str()); });
  int32_t pct = 0;
  mon.getmemuse(&pct);
  EXPECT_EQ(pct, 60);
}

}  // namespace
}  // namespace rc::test
