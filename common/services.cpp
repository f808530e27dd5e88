#include "common/services.h"

#include "common/netutil.h"

namespace rc {

SystemServices::SystemServices(Shell &sh)
    : paths_(Paths::fromEnvironment()),
      procs_(paths_),
      services_{sh, store_, clock_, paths_, procs_, ipc_, getipmask} {}

}  // namespace rc
