// The one-second pass with full filter tables and nothing crossing a schedule
// boundary runs no command line and allocates nothing, the watchdog's pass
// (a /proc scan) included: fwmgr runs for months on a board with 32 MB.
#include "alloc_count.h"
#include "fixture.h"
#include "filter_tables.h"

namespace rc::test {
namespace {

using IdlePassTest = FwMgrTest;

TEST_F(IdlePassTest, FullTablesRunNothingAndAllocateNothing) {
  fillFilterTables(store);
  // trafmon and httpd run, in a /proc of the test's own.
  for (auto p : {std::make_pair(120, "trafmon"), std::make_pair(121, "httpd")})
    dir.write("proc/" + std::to_string(p.first) + "/stat",
              std::to_string(p.first) + " (" + p.second + ") S 1 1 1 0 -1 4194560\n");
  ProcProcesses realProcs(paths);
  FwMgr m{Services{sh, store, clock, paths, realProcs, ipc, fakeGetipmask}};
  m.start();
  ASSERT_EQ(m.client.clientnum, 32);
  ASSERT_EQ(m.url.urlnum, 32);
  ASSERT_EQ(m.mac.macnum, 32);
  clock.setWeekTime(3, 12, 0);
  sh.clear();
  m.onTick();  // the first pass applies every record
  EXPECT_EQ(sh.take().size(), 32u * 2 + 32u * 2 + 32u);
  long allocs = count_allocations([&] {
    for (int i = 0; i < 9; ++i) {  // passes 2 to 10, the watchdog's 8th among them
      clock.set(clock.now() + 1);
      m.onTick();
    }
  });
  if (allocs < 0) GTEST_SKIP() << "this build has no allocation counter (alloc_count.h)";
  EXPECT_EQ(allocs, 0);
  EXPECT_EQ(m.tickcount, 10u);
  EXPECT_TRUE(SameLines(sh, {}));
}

}  // namespace
}  // namespace rc::test
