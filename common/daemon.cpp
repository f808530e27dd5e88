#include "common/daemon.h"

#include <cstdlib>

namespace rc {

unsigned start_wait_seconds() {
  const char *v = getenv("ROUTER_START_WAIT");
  if (!v || !*v) return kStartWaitSeconds;
  unsigned n = 0;
  for (const char *p = v; *p; ++p) {
    if (*p < '0' || *p > '9' || n > 3600) return kStartWaitSeconds;
    n = n * 10 + static_cast<unsigned>(*p - '0');
  }
  return n <= 3600 ? n : kStartWaitSeconds;
}

int run_daemon(Daemon &daemon, const DaemonSpec &spec, const Services &s,
               const volatile sig_atomic_t *run) {
  const bool tick = spec.loop != DaemonSpec::kSleep;
  const bool semaphoreFirst = spec.loop == DaemonSpec::kTickSemaphoreFirst;
  if (spec.wait == DaemonSpec::kStartWait) {
    unsigned wait = start_wait_seconds();
    if (wait) s.clock.sleepSeconds(wait);
  }
  if (spec.prepare) spec.prepare();
  int nsemid = -1;
  if (semaphoreFirst && s.ipc.createsem(&nsemid, spec.key, 1) < 0) nsemid = -1;
  if (!daemon.onStart()) return 0;
  if (tick && !semaphoreFirst && s.ipc.createsem(&nsemid, spec.key, 1) < 0) nsemid = -1;
  int nmsgid = s.ipc.openQueue(spec.key);
  if (nmsgid < 0) {
    daemon.onNoQueue();
    return 0;
  }
  daemon.onQueue();
  if (tick) {
    s.ipc.startTimer(nsemid);
    run_tick_loop(s.ipc, s.clock, nsemid, nmsgid, daemon, run);
  } else {
    run_sleep_loop(s.ipc, s.clock, nmsgid, daemon, 1, run);
  }
  return 0;
}

}  // namespace rc
