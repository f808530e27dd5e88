// The services bundle: every seam through which a daemon reaches the outside
// world, passed to its constructor. Production builds it with
// SystemServices; unit tests with the doubles of tests/testkit.
//
// The virtual seams are held through references that may be empty (ClockRef,
// IpcRef, ProcessesRef): a test's double is reached through its interface,
// and an empty one calls the system directly. Production constructs no
// service object with a vtable, so link-time optimisation keeps only the
// system calls a program makes (docs/cross-build.md, "Size").
#pragma once
#include <cstdint>
#include <new>

#include "common/cfm.h"
#include "common/clock.h"
#include "common/ipc.h"
#include "common/paths.h"
#include "common/proc.h"
#include "common/shell.h"

namespace rc {

// An object of main() that lives as long as the process: built in place
// in static storage when main() first reaches it, never destroyed. A daemon
// ends by exit() after a start-up that failed, or by a signal; its objects
// need no destructor run at exit, and a program whose statics have none
// registers and links none (about 170 bytes a daemon).
template <class T>
class Forever {
 public:
  template <class... Args>
  explicit Forever(Args &&...args) {
    new (storage_) T(static_cast<Args &&>(args)...);
  }
  Forever(const Forever &) = delete;
  Forever &operator=(const Forever &) = delete;
  T &operator*() { return *std::launder(reinterpret_cast<T *>(storage_)); }
  const T &operator*() const { return *std::launder(reinterpret_cast<const T *>(storage_)); }
  T *operator->() { return &**this; }
  const T *operator->() const { return &**this; }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

// Address and mask of an interface (getipmask in production).
using IfAddrFn = int (*)(const char *ifname, uint32_t *addr, uint32_t *mask);

// The shell runner as the bundle holds it (Services::sh): the program's own
// runner (its buffer sizes and echo are the daemon's), or none (kNoShell) in
// a program that runs no command line, which then links no runner at all
// (arpguard, logmail). A daemon takes its runner when it is built
// (Shell &sh_ = s.sh); taking it from none ends the process with a message,
// so a main that left out a runner its daemon needs fails at start.
class ShellRef {
 public:
  constexpr ShellRef() = default;    // none
  ShellRef(Shell &sh) : sh_(&sh) {}  // NOLINT: a runner, as it is passed
  operator Shell &() const { return sh_ ? *sh_ : none(); }  // NOLINT

 private:
  [[noreturn]] static Shell &none();
  Shell *sh_ = nullptr;
};
constexpr ShellRef kNoShell{};

struct Services {
  ShellRef sh;
  ConfigStore &cfm;
  ClockRef clock;
  const Paths &paths;
  ProcessesRef procs;
  IpcRef ipc;
  IfAddrFn getipmask;  // null where the daemon reads no interface address
};

// The production services: the libnvram store, paths from the environment,
// the system's clock, /proc and System V IPC (the empty references), the
// program's shell runner (or kNoShell) and getipmask where the daemon reads
// interface addresses (fwmgr, trafmon; else null). Building it makes standard
// output line-buffered first.
class SystemServices {
  // The first member: standard output gets its buffer before anything else.
  struct LineBufferedStdout {
    LineBufferedStdout() { stdio_line_buffered(); }
  };

 public:
  explicit SystemServices(ShellRef sh, IfAddrFn getipmask = nullptr);
  SystemServices(const SystemServices &) = delete;
  SystemServices &operator=(const SystemServices &) = delete;

  const Services &services() const { return services_; }

 private:
  LineBufferedStdout stdout_;
  NvramStore store_;
  Paths paths_;
  Services services_;
};

}  // namespace rc
