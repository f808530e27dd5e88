// fwmgr: builds the production services and runs the firewall manager.
#include "fwmgr/fwmgr.h"

int main() {
  static rc::BatchPosixShell sh(rc::kFwShellOptions);
  static const rc::SystemServices sys(sh);
  static rc::FwMgr mgr(sys.services());
  return rc::run_daemon(mgr, rc::FwMgr::kDaemon, sys.services());
}
