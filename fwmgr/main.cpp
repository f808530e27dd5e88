// fwmgr: builds the production services and runs the firewall manager.
#include <cstdlib>

#include "common/ipc.h"
#include "common/netutil.h"
#include "common/shell.h"
#include "fwmgr/fwmgr.h"

int main() {
  rc::stdio_line_buffered();
  static rc::BatchPosixShell sh(rc::kFwShellOptions);
  static rc::NvramStore store;
  static rc::SystemClock clock;
  static const rc::Paths paths = rc::Paths::fromEnvironment();
  static rc::ProcProcesses procs(paths);
  static rc::FwMgr mgr({sh, store, clock, paths, procs, rc::getipmask});

  mgr.start();
  if (rc::createsem(&mgr.nsemid, rc::FwMgr::kQueueKey, 1) < 0) mgr.nsemid = -1;
  mgr.nmsgid = rc::open_cmd_queue(rc::FwMgr::kQueueKey);
  if (mgr.nmsgid < 0) exit(0);
  rc::start_tick_timer(mgr.nsemid);
  rc::run_tick_loop(mgr.nsemid, mgr.nmsgid, mgr);
}
