// The one-second pass must not allocate: logmail runs for months on a board
// with 32 MB (see alloc_hooks.h).
#include "alloc_count.h"
#include "fixture.h"

namespace rc::test {
namespace {

TEST_F(LogMailTest, PassesWithoutMailAllocateNothing) {
  store.set("email_num", "5");
  mail.onCommand(1);
  // No record, then records below the threshold: the ring is copied and
  // the body built every pass, and nothing is sent.
  for (int records = 0; records < 3; ++records) {
    if (records) addRecord("kernel: event");
    mail.onTick();
    long allocs = count_allocations([&] {
      for (int i = 0; i < 3; ++i) mail.onTick();
    });
    if (allocs < 0) GTEST_SKIP() << "this build has no allocation counter (alloc_count.h)";
    EXPECT_EQ(allocs, 0) << records << " records pending";
  }
  EXPECT_TRUE(net.hosts.empty());
}

}  // namespace
}  // namespace rc::test
