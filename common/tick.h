// The one-second loops: the tick of netmgr, fwmgr and trafmon, and the
// plain sleeping loop of logmail and arpguard.
//
// A SIGALRM handler posts the tick semaphore once a second; the loop waits on
// it, takes at most one command from the queue and then does the daemon's
// periodic work. Expiries that arrive while a pass is busy stay counted, so
// the loop catches up one pass per missed second.
#pragma once
#include <sys/types.h>

#include "common/clock.h"

namespace rc {

class TickDaemon {
 public:
  virtual ~TickDaemon() = default;
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

// One pass: wait for the tick, poll one command from msqid, run the daemon.
void tick_pass(int nsemid, int msqid, TickDaemon &daemon);

// SIGALRM handler: posts semaphore 0 of the tick set (one non-blocking semop).
void sigalrm_fn(int sig);

// Runs passes forever (or until *stop becomes non-zero, for tests).
void run_tick_loop(int nsemid, int msqid, TickDaemon &daemon, volatile int *stop = nullptr);

// The loop of the daemons without the tick (logmail, arpguard): one command
// poll, the periodic work, then a one-second sleep, forever (or until *stop
// becomes non-zero, for tests).
void run_sleep_loop(int msqid, TickDaemon &daemon, Clock &clock, volatile int *stop = nullptr);

}  // namespace rc
