#include "common/tick.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace rc {

namespace {
// The handler reaches the set through this one process-wide value.
volatile sig_atomic_t g_tick_semid = -1;
}  // namespace

void sigalrm_fn(int) {
  int saved = errno;
  if (g_tick_semid >= 0) unlocksem(g_tick_semid, 0);
  errno = saved;
}

int start_tick(key_t semKey, int *nsemid) {
  if (createsem(nsemid, semKey, 1) < 0) return -1;
  start_tick_timer(*nsemid);
  return 1;
}

void start_tick_timer(int nsemid) {
  g_tick_semid = nsemid;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = sigalrm_fn;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGALRM, &sa, nullptr);
  set_timer();
}

void tick_pass(IpcRef ipc, ClockRef clock, int nsemid, int msqid, TickDaemon &daemon) {
  int ret = ipc.locksem(nsemid, 0);
  if (ret < 0) {
    printf("ret = %d\n", ret);
    print_errno();
    clock.sleepSeconds(1);
  }
  long cmd = ipc.pollCmd(msqid);
  if (cmd > 0) daemon.onCommand(cmd);
  daemon.onTick();
}

void run_tick_loop(IpcRef ipc, ClockRef clock, int nsemid, int msqid, TickDaemon &daemon,
                   const volatile sig_atomic_t *run) {
  while (!run || *run) tick_pass(ipc, clock, nsemid, msqid, daemon);
}

void run_sleep_loop(IpcRef ipc, ClockRef clock, int msqid, TickDaemon &daemon, unsigned seconds,
                    const volatile sig_atomic_t *run) {
  while (!run || *run) {
    long cmd = msqid >= 0 ? ipc.pollCmd(msqid) : 0;
    if (cmd > 0) daemon.onCommand(cmd);
    daemon.onTick();
    if (run && !*run) break;
    clock.sleepSeconds(seconds);
  }
}

}  // namespace rc
