// The one-second loops: the tick of netmgr, fwmgr and trafmon, and the plain
// sleeping loop of logmail, arpguard and (every 5 s) kinwatch.
//
// A SIGALRM handler posts the tick semaphore once a second; the loop waits on
// it, takes at most one command from the queue and then does the daemon's
// periodic work. Expiries that arrive while a pass is busy stay counted, so
// the loop catches up one pass per missed second.
#pragma once
#include <signal.h>
#include <sys/types.h>

#include "common/clock.h"
#include "common/ipc.h"

namespace rc {

class TickDaemon {
 public:
  // Never destroyed through a pointer to this base: no virtual destructor.
 protected:
  ~TickDaemon() = default;

 public:
  virtual void onCommand(long cmd) = 0;  // unknown numbers are ignored
  virtual void onTick() = 0;             // periodic work of the pass
};

// Creates the semaphore set `semKey` (into *nsemid), installs the SIGALRM
// handler with restarting semantics and starts the timer. Returns 1, or -1
// when the semaphore could not be set up.
int start_tick(key_t semKey, int *nsemid);
// The second half of start_tick, for daemons that create the set earlier in
// their start-up: installs the handler for nsemid and starts the timer.
void start_tick_timer(int nsemid);

// SIGALRM handler: posts semaphore 0 of the tick set (one non-blocking semop).
void sigalrm_fn(int sig);

// One pass: wait for the tick (a failed wait is printed and costs a second),
// poll one command from msqid, run the daemon.
void tick_pass(IpcRef ipc, ClockRef clock, int nsemid, int msqid, TickDaemon &daemon);

// Runs passes while *run is non-zero (forever when run is null).
void run_tick_loop(IpcRef ipc, ClockRef clock, int nsemid, int msqid, TickDaemon &daemon,
                   const volatile sig_atomic_t *run = nullptr);

// The loop of the daemons without the tick: one command poll (none when
// msqid < 0), the periodic work, then a sleep of `seconds`, while *run is
// non-zero (forever when run is null). The flag is looked at again after the
// periodic work, so a stop that came during it ends the loop without the sleep.
void run_sleep_loop(IpcRef ipc, ClockRef clock, int msqid, TickDaemon &daemon, unsigned seconds = 1,
                    const volatile sig_atomic_t *run = nullptr);

}  // namespace rc
