// The one-second pass must not allocate: netmgr runs for months on a board
// with 32 MB. Counted through the sanitizer's allocation hooks, so this runs
// in the sanitizer build (the one CI tests).
#include "alloc_count.h"
#include "fixture.h"

namespace rc::test {
namespace {

using IdlePassTest = NetMgrTest;

TEST_F(IdlePassTest, PassesAllocateNothing) {
  std::string event(12, '\0');
  event[0] = 10;
  event[11] = 1;
  dir.write("kernel/proc/vkproc/fwlog", event);
  dir.write("kernel/proc/vkproc/netcheck", "100\n");
  dir.write("proc/uptime", "130.00 1.00\n");
  // Passes with nothing to change: no schedule (DHCP WAN), on-demand PPPoE
  // up and in use, timed PPPoE up inside its window. Each pass still logs
  // the attack event.
  struct Case {
    int type, mode;
  } cases[] = {{2, 0}, {3, 2}, {3, 3}};
  for (const auto &c : cases) {
    mgr.wanconntype = c.type;
    mgr.ppp_conn_type = c.mode;
    mgr.ppp_conn_wait_time = 1000;
    mgr.pppd_alive_flag = c.type == 3;
    clock.setWeekTime(1, 12, 0);
    mgr.onTick();  // a first pass may set up the C library's own state
    long n = count_allocations([&] {
      for (int i = 0; i < 3; ++i) mgr.onTick();
    });
    if (n < 0) GTEST_SKIP() << "this build has no allocation counter (alloc_count.h)";
    EXPECT_EQ(n, 0) << "pass of type " << c.type << " mode " << c.mode << " allocated";
    EXPECT_TRUE(SameLines(sh, {}));
  }
  EXPECT_EQ(ring.count, 12);
}

}  // namespace
}  // namespace rc::test
