// kinwatch's start: the rule lines for each setting, the fresh log, SIGTERM.
#include "fixture.h"

namespace rc::test {
namespace {

TEST_F(KinWatchTest, SettingOffRemovesTheRuleAndStopsEveryKinwatch) {
  for (const char *value : {"0", "", "2", "on"}) {
    store.set("fmg_enable_manage", value);
    EXPECT_EQ(kw.kinwatch_cmd(), 0);
    EXPECT_TRUE(SameLines(sh, {"D: iptables -t mangle -D PREROUTING -p udp --dport 53 -i br0 -j ULOG",
                               "D: killall -9 kinwatch"}))
        << "value " << value;
  }
  store.unset("fmg_enable_manage");
  kw.kinwatch_cmd();
  EXPECT_EQ(sh.take().size(), 2u);
  EXPECT_FALSE(store.isOpen());
}

TEST_F(KinWatchTest, SettingOnAddsTheRuleAndEmptiesTheLog) {
  store.set("fmg_enable_manage", "1");
  dir.write("var/url.log", "042\nold lines\n");
  run = 0;  // SIGTERM already arrived: no pass
  EXPECT_EQ(kw.kinwatch_cmd(), 0);
  EXPECT_TRUE(SameLines(sh, {"D: iptables -t mangle -D PREROUTING -p udp --dport 53 -i br0 -j ULOG",
                             "D: iptables -t mangle -A PREROUTING -p udp --dport 53 -i br0 -j ULOG"}));
  EXPECT_EQ(log(), "000\n");
  EXPECT_FALSE(store.isOpen());
}

TEST_F(KinWatchTest, LinesWaitingAtSigtermAreLost) {
  ASSERT_EQ(kw.createLogFile(), 0);
  take(record("192.168.0.100", "a.com") + record("192.168.0.101", "b.com"));
  run = 0;
  EXPECT_EQ(kw.kinwatch_proc(), 0);
  EXPECT_EQ(log(), "000\n");
}

TEST_F(KinWatchTest, LogThatCannotBeCreatedEndsTheLogger) {
  TempDir other;
  Paths bad{(other.path() + "/none").c_str(), ""};
  KinWatch k{Services{sh, store, clock, bad, procs, ipc, nullptr}, noDetach, &run};
  EXPECT_EQ(k.kinwatch_proc(), 0);
  EXPECT_TRUE(clock.sleeps.empty());
}

}  // namespace
}  // namespace rc::test
