// fwmgr: builds the production services and runs the firewall manager.
#include "common/netutil.h"
#include "fwmgr/fwmgr.h"

int main() {
  static rc::Forever<rc::DirectBatchPosixShell> sh(rc::kFwShellOptions);
  static const rc::Forever<rc::SystemServices> sys(*sh, rc::getipmask);
  static rc::Forever<rc::FwMgr> mgr(sys->services());
  return rc::run_daemon(*mgr, rc::FwMgr::kDaemon, sys->services());
}
