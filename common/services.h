// The services bundle: every seam through which a daemon reaches the outside
// world, passed to its constructor. Production builds them with
// SystemServices; unit tests with the doubles of tests/testkit.
#pragma once
#include <cstdint>

#include "common/cfm.h"
#include "common/clock.h"
#include "common/ipc.h"
#include "common/paths.h"
#include "common/proc.h"
#include "common/shell.h"

namespace rc {

// Address and mask of an interface (getipmask in production).
using IfAddrFn = int (*)(const char *ifname, uint32_t *addr, uint32_t *mask);

struct Services {
  Shell &sh;
  ConfigStore &cfm;
  Clock &clock;
  const Paths &paths;
  Processes &procs;
  Ipc &ipc;
  IfAddrFn getipmask;
};

// The production services around a daemon's own shell runner: the libnvram
// store, the system clock, paths from the environment, /proc, System V IPC
// and getipmask. Building it makes standard output line-buffered first.
class SystemServices {
  // The first member: standard output gets its buffer before anything else.
  struct LineBufferedStdout {
    LineBufferedStdout() { stdio_line_buffered(); }
  };

 public:
  explicit SystemServices(Shell &sh);
  SystemServices(const SystemServices &) = delete;
  SystemServices &operator=(const SystemServices &) = delete;

  const Services &services() const { return services_; }

 private:
  LineBufferedStdout stdout_;
  NvramStore store_;
  SystemClock clock_;
  Paths paths_;
  ProcProcesses procs_;
  SysvIpc ipc_;
  Services services_;
};

}  // namespace rc
