// trafmon: builds the production services and runs the traffic monitor.
#include "trafmon/trafmon.h"

int main() {
  static rc::PosixShell sh(rc::ShellOptions{1024, false});
  static const rc::SystemServices sys(sh);
  static rc::TrafMon mon(sys.services());
  return rc::run_daemon(mon, rc::TrafMon::kDaemon, sys.services());
}
