// tickprobe KEY: runs the daemons' one-second tick loop on semaphore set and
// queue KEY and reports what it does, one line each, with the milliseconds
// since start:
//   "ready"                     set up, the loop starts
//   "cmd N t=MS"                command N taken from the queue
//   "slow done pending=P t=MS"  after command 90, which keeps the pass busy
//                               for 2.5 s; P is the semaphore count, the
//                               expiries that arrived meanwhile
//   "tick N t=MS"               the periodic step of pass N
//   "stopped"                   after command 99 has ended its pass
#include <sys/sem.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/ipc.h"
#include "common/tick.h"

namespace {

constexpr long kSlowCmd = 90;
constexpr long kStopCmd = 99;

long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

// Sleeps the whole time even though SIGALRM interrupts the sleep.
void busy_for_ms(long ms) {
  long end = now_ms() + ms;
  for (long left = ms; left > 0; left = end - now_ms()) {
    timespec ts{left / 1000, (left % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
  }
}

class Probe : public rc::TickDaemon {
 public:
  Probe(int semid, long start) : semid_(semid), start_(start) {}
  volatile sig_atomic_t run = 1;

  void onCommand(long cmd) override {
    printf("cmd %ld t=%ld\n", cmd, now_ms() - start_);
    if (cmd == kSlowCmd) {
      busy_for_ms(2500);
      printf("slow done pending=%d t=%ld\n", semctl(semid_, 0, GETVAL), now_ms() - start_);
    }
    if (cmd == kStopCmd) run = 0;
  }
  void onTick() override { printf("tick %d t=%ld\n", ++ticks_, now_ms() - start_); }

 private:
  int semid_;
  long start_;
  int ticks_ = 0;
};

}  // namespace

int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  char *end = nullptr;
  long key = argc == 2 ? strtol(argv[1], &end, 10) : 0;
  if (argc != 2 || *end || key <= 0) {
    fputs("usage: tickprobe KEY\n", stderr);
    return 2;
  }
  long start = now_ms();
  int msqid = rc::open_cmd_queue(static_cast<key_t>(key));
  int semid = -1;
  if (msqid < 0 || rc::start_tick(static_cast<key_t>(key), &semid) < 0) {
    fputs("tickprobe: cannot set up the queue or the tick\n", stderr);
    return 1;
  }
  Probe probe(semid, start);
  puts("ready");
  rc::SysvIpc ipc;
  rc::SystemClock clock;
  rc::run_tick_loop(ipc, clock, semid, msqid, probe, &probe.run);
  puts("stopped");
  return 0;
}
