// The daemon skeleton against fakes: the order of the start-up steps, the IPC
// objects and the loops, and the start wait.
#include "common/daemon.h"

#include <cstdlib>

#include "testkit_gtest.h"

namespace rc::test {
namespace {

// Clock and daemon note their steps in the fake IPC's record: one list, one order.
struct StepClock : FakeClock {
  explicit StepClock(std::vector<std::string> &steps) : steps(steps) {}
  void sleepSeconds(unsigned s) override { steps.push_back("sleep " + std::to_string(s)); }
  std::vector<std::string> &steps;
};

struct StepDaemon : Daemon {
  StepDaemon(std::vector<std::string> &steps, bool startOk) : steps(steps), startOk(startOk) {}
  bool onStart() override { return steps.push_back("start"), startOk; }
  void onQueue() override { steps.push_back("onQueue"); }
  void onNoQueue() override { steps.push_back("onNoQueue"); }
  void onCommand(long cmd) override { steps.push_back("cmd " + std::to_string(cmd)); }
  void onTick() override { steps.push_back("tick"), run = --passes > 0; }  // two passes
  std::vector<std::string> &steps;
  bool startOk;
  int passes = 2;
  volatile sig_atomic_t run = 1;
};

TEST(RunDaemon, StepsInOrder) {
  using S = DaemonSpec;
  const struct {
    S spec;
    bool startOk, queueFails;
    int lockResult;
    std::vector<std::string> steps;
  } cases[] = {
      {{9, S::kStartWait, S::kTick, nullptr}, true, false, 0,
       {"sleep 5", "start", "createsem 9 1", "queue 9", "onQueue", "timer 9", "lock", "poll", "cmd 4", "tick",
        "lock", "poll", "tick"}},
      {{9, S::kNoWait, S::kTickSemaphoreFirst, nullptr}, true, false, 0,
       {"createsem 9 1", "start", "queue 9", "onQueue", "timer 9", "lock", "poll", "cmd 4", "tick", "lock", "poll",
        "tick"}},
      {{9, S::kNoWait, S::kTick, nullptr}, true, false, -1,  // a failed tick wait costs a second
       {"start", "createsem 9 1", "queue 9", "onQueue", "timer 9", "lock", "sleep 1", "poll", "cmd 4", "tick",
        "lock", "sleep 1", "poll", "tick"}},
      {{9, S::kStartWait, S::kSleep, nullptr}, true, false, 0,
       {"sleep 5", "start", "queue 9", "onQueue", "poll", "cmd 4", "tick", "sleep 1", "poll", "tick"}},
      {{9, S::kStartWait, S::kTick, nullptr}, false, false, 0, {"sleep 5", "start"}},
      {{9, S::kStartWait, S::kSleep, nullptr}, true, true, 0, {"sleep 5", "start", "queue 9", "onNoQueue"}},
  };
  unsetenv("ROUTER_START_WAIT");
  for (const auto &c : cases) {
    FakeIpc ipc;
    ipc.commands = {4};
    ipc.queueFails = c.queueFails;
    ipc.lockResult = c.lockResult;
    StepClock clock(ipc.calls);
    RecordingShell sh;
    MemStore store;
    Paths paths{"", ""};
    FakeProcesses procs;
    StepDaemon d(ipc.calls, c.startOk);
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_daemon(d, c.spec, Services{sh, store, clock, paths, procs, ipc, nullptr}, &d.run), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ipc.calls, c.steps);
    if (c.lockResult) EXPECT_EQ(out.rfind("ret = -1\nerrno = ", 0), 0u) << out;
    else EXPECT_EQ(out, "");
  }
}

TEST(RunDaemon, StartWaitFromTheEnvironment) {
  const struct {
    const char *value;
    unsigned seconds;
  } cases[] = {{nullptr, 5}, {"", 5}, {"0", 0}, {"2", 2}, {"3600", 3600}, {"3601", 5}, {"1s", 5}, {"-1", 5}};
  for (const auto &c : cases) {
    if (c.value) setenv("ROUTER_START_WAIT", c.value, 1);
    else unsetenv("ROUTER_START_WAIT");
    EXPECT_EQ(start_wait_seconds(), c.seconds) << (c.value ? c.value : "unset");
  }
  unsetenv("ROUTER_START_WAIT");
}

}  // namespace
}  // namespace rc::test
