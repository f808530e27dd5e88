#include "common/services.h"

#include <cstdio>
#include <cstdlib>

namespace rc {

Shell &ShellRef::none() {
  fputs("no shell runner in this program\n", stderr);
  abort();
}

SystemServices::SystemServices(ShellRef sh, IfAddrFn getipmask)
    : paths_(Paths::fromEnvironment()),
      services_{sh, store_, ClockRef(), paths_, ProcessesRef(paths_), IpcRef(), getipmask} {}

}  // namespace rc
