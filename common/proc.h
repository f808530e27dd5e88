// Finding processes by name in /proc and signalling them.
//
// A process matches when the command name in /proc/<pid>/stat (at most 15
// characters, the kernel's limit) equals the wanted name without regard to
// case, comparing at most 15 characters. Pids below 12 are never found: they
// belong to the platform's own early processes. Every lookup scans /proc from
// its beginning.
#pragma once
#include "common/paths.h"

namespace rc {

// Scans <paths.root()>/proc. Returns the pid of the first match or 0.
int get_proc_pid_self(const Paths &paths, const char *name);

// Process service of the daemons; tests replace it with a table.
class Processes {
 public:
  virtual ~Processes() = default;
  // The pid when greater than 0, otherwise 0.
  virtual int get_proc_pid(const char *name) = 0;
  // Signals the first matching process, if any. Always 0.
  virtual int send_signal(int sig, const char *name) = 0;
};

class ProcProcesses : public Processes {
 public:
  explicit ProcProcesses(const Paths &paths) : paths_(paths) {}
  int get_proc_pid(const char *name) override;
  int send_signal(int sig, const char *name) override;

 private:
  const Paths &paths_;
};

}  // namespace rc
