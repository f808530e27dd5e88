// The daemon skeleton against fakes: the order of the start-up steps, the IPC
// objects and the loops, and the start wait.
#include "common/daemon.h"

#include <cstdlib>

#include "testkit.h"

namespace rc::test {
namespace {

// Notes every step in the fake IPC's record, so one list shows the order.
class StepClock : public FakeClock {
 public:
  explicit StepClock(std::vector<std::string> &steps) : steps_(steps) {}
  void sleepSeconds(unsigned s) override { steps_.push_back("sleep " + std::to_string(s)); }

 private:
  std::vector<std::string> &steps_;
};

class StepDaemon : public Daemon {
 public:
  StepDaemon(std::vector<std::string> &steps, bool startOk, int passes)
      : steps_(steps), startOk_(startOk), passes_(passes) {}
  bool onStart() override { return steps_.push_back("start"), startOk_; }
  void onQueue() override { steps_.push_back("onQueue"); }
  void onNoQueue() override { steps_.push_back("onNoQueue"); }
  void onCommand(long cmd) override { steps_.push_back("cmd " + std::to_string(cmd)); }
  void onTick() override {
    steps_.push_back("tick");
    if (--passes_ == 0) run = 0;
  }
  volatile sig_atomic_t run = 1;

 private:
  std::vector<std::string> &steps_;
  bool startOk_;
  int passes_;
};

TEST(RunDaemon, StepsInOrder) {
  struct Case {
    const char *name;
    DaemonSpec spec;
    bool startOk, queueFails;
    int lockResult;
    std::vector<std::string> steps;
  } cases[] = {
      {"tick", {9, DaemonSpec::kStartWait, DaemonSpec::kTick, nullptr}, true, false, 0,
       {"sleep 5", "start", "createsem 9 1", "queue 9", "onQueue", "timer 9",
        "lock", "poll", "cmd 4", "tick", "lock", "poll", "tick"}},
      {"semaphore first, no wait", {9, DaemonSpec::kNoWait, DaemonSpec::kTickSemaphoreFirst, nullptr}, true, false, 0,
       {"createsem 9 1", "start", "queue 9", "onQueue", "timer 9",
        "lock", "poll", "cmd 4", "tick", "lock", "poll", "tick"}},
      {"failed tick wait", {9, DaemonSpec::kNoWait, DaemonSpec::kTick, nullptr}, true, false, -1,
       {"start", "createsem 9 1", "queue 9", "onQueue", "timer 9",
        "lock", "sleep 1", "poll", "cmd 4", "tick", "lock", "sleep 1", "poll", "tick"}},
      {"sleep loop", {9, DaemonSpec::kStartWait, DaemonSpec::kSleep, nullptr}, true, false, 0,
       {"sleep 5", "start", "queue 9", "onQueue", "poll", "cmd 4", "tick", "sleep 1", "poll", "tick"}},
      {"start fails", {9, DaemonSpec::kStartWait, DaemonSpec::kTick, nullptr}, false, false, 0, {"sleep 5", "start"}},
      {"no queue", {9, DaemonSpec::kStartWait, DaemonSpec::kSleep, nullptr}, true, true, 0,
       {"sleep 5", "start", "queue 9", "onNoQueue"}},
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
    StepDaemon d(ipc.calls, c.startOk, 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_daemon(d, c.spec, Services{sh, store, clock, paths, procs, ipc, nullptr}, &d.run), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ipc.calls, c.steps) << c.name;
    if (c.lockResult) EXPECT_EQ(out.rfind("ret = -1\nerrno = ", 0), 0u) << c.name << ": " << out;
    else EXPECT_EQ(out, "") << c.name;
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
