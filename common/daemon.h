// The daemon skeleton: what netmgr, fwmgr, trafmon, logmail and arpguard do
// between their main() and their one-second loop, written once.
//
//   run_daemon:  the start wait (5 s, through the Clock; ROUTER_START_WAIT)
//                [prepare]  [tick semaphore, when created first]
//                onStart    (false: the process ends, status 0)
//                [tick semaphore]  command queue (failure: onNoQueue, status 0)
//                onQueue    (the segments a daemon attaches after its queue)
//                [timer] then the tick loop, or the sleep loop
//
// The IPC objects are made through the Ipc service, so unit tests run the
// whole sequence against fakes and a fake clock.
#pragma once
#include <signal.h>
#include <sys/types.h>

#include "common/services.h"
#include "common/tick.h"

namespace rc {

// The start wait of the daemons that have one, in seconds.
constexpr unsigned kStartWaitSeconds = 5;

// The seconds of the start wait: ROUTER_START_WAIT when it holds a decimal
// number of seconds (0 to 3600), else kStartWaitSeconds. Only test set-ups
// set it, to start daemons without the wait; the router never does.
unsigned start_wait_seconds();

class Daemon : public TickDaemon {
 public:
  // The daemon's own start-up, after the start wait and before its queue.
  // False when it cannot run (the message printed, what it took released).
  virtual bool onStart() = 0;
  // The queue is open; the loop starts next.
  virtual void onQueue() {}
  // The queue could not be opened: release what onStart took before the
  // process ends.
  virtual void onNoQueue() {}
};

// How the skeleton runs one daemon.
struct DaemonSpec {
  enum Wait { kNoWait, kStartWait };  // kStartWait: start_wait_seconds() first
  enum Loop {
    kTick,                // the tick semaphore after onStart, the tick loop
    kTickSemaphoreFirst,  // the tick semaphore before onStart, the tick loop
    kSleep,               // no semaphore, the sleep loop
  };
  key_t key;         // the command queue; the tick semaphore of a ticking daemon
  Wait wait;
  Loop loop;
  void (*prepare)();  // process set-up right after the wait (production only), or null
};

// Runs the daemon: start-up, IPC objects, then the loop while *run is
// non-zero (forever when run is null). Returns the process's exit status: 0
// after a start-up or a queue that failed, and after a loop that was stopped.
int run_daemon(Daemon &daemon, const DaemonSpec &spec, const Services &s,
               const volatile sig_atomic_t *run = nullptr);

}  // namespace rc
