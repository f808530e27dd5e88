// Finding processes by name in /proc and signalling them.
//
// A process matches when the command name in /proc/<pid>/stat (at most 15
// characters, the kernel's limit) equals the wanted name without regard to
// case, comparing at most 15 characters. Pids below 12 are never found: they
// belong to the platform's own early processes. Every lookup scans /proc from
// its beginning.
#pragma once
#include "common/paths.h"
#include "common/seams.h"

namespace rc {

// Scans <paths.root()>/proc. Returns the pid of the first match or 0.
int get_proc_pid_self(const Paths &paths, const char *name);

// Process service of the daemons: the interface a test's table implements
// (FakeProcesses); the daemons hold a ProcessesRef.
class Processes {
 public:
  // Never destroyed through a pointer to this base: no virtual destructor.
 protected:
  ~Processes() = default;

 public:
  // The pid when greater than 0, otherwise 0.
  virtual int get_proc_pid(const char *name) = 0;
  // Signals the first matching process, if any. Always 0.
  virtual int send_signal(int sig, const char *name) = 0;
};

// The processes as the daemons hold them (Services::procs): a reference to
// a Processes (a test's table), or, made from the paths, the scan of
// <root>/proc and kill() themselves, called directly: a program that looks
// no process up links no scan (see docs/cross-build.md, "Size").
class ProcessesRef {
 public:
  explicit ProcessesRef(const Paths &paths) : paths_(&paths) {}  // /proc under paths.root()
  ProcessesRef(Processes &procs) : procs_(&procs) { seams_doubled = true; }             // NOLINT: a test's table, as it is passed
  int get_proc_pid(const char *name) const;
  int send_signal(int sig, const char *name) const;

 private:
  Processes *procs_ = nullptr;
  const Paths *paths_ = nullptr;
};

// The scan of /proc as a Processes object, for tests that need the real
// one behind the interface.
class ProcProcesses : public Processes {
 public:
  explicit ProcProcesses(const Paths &paths) : paths_(paths) {}
  int get_proc_pid(const char *name) override { return ProcessesRef(paths_).get_proc_pid(name); }
  int send_signal(int sig, const char *name) override { return ProcessesRef(paths_).send_signal(sig, name); }

 private:
  const Paths &paths_;
};

}  // namespace rc
