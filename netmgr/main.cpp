// netmgr: builds the production services and runs the network manager.
#include <cstdlib>

#include "common/ipc.h"
#include "common/shell.h"
#include "netmgr/netmgr.h"
#ifdef ROUTER_WITH_DHCPPLUS
#include "netmgr/dhcpplus/dhcpplus.h"
#endif

int main() {
  rc::stdio_line_buffered();
  static rc::BatchPosixShell sh;
  static rc::NvramStore store;
  static rc::SystemClock clock;
  static const rc::Paths paths = rc::Paths::fromEnvironment();
  static rc::ProcProcesses procs(paths);
#ifdef ROUTER_WITH_DHCPPLUS
  rc::DhcpAuthFn auth = dodhcpauth;
#else
  rc::DhcpAuthFn auth = nullptr;
#endif
  static rc::NetMgr mgr({sh, store, clock, paths, procs, auth});

  mgr.start();
  if (rc::createsem(&mgr.nsemid, rc::NetMgr::kQueueKey, 1) < 0) mgr.nsemid = -1;
  mgr.nmsgid = rc::open_cmd_queue(rc::NetMgr::kQueueKey);
  if (mgr.nmsgid < 0) exit(0);
  void *ring = nullptr;
  if (rc::createshm(&mgr.nshmid, rc::kRingKey, rc::NetMgr::kRingSize, &ring, true) < 0) ring = nullptr;
  mgr.attachRing(static_cast<rc::syslog_ring *>(ring));
  rc::start_tick_timer(mgr.nsemid);
  rc::run_tick_loop(mgr.nsemid, mgr.nmsgid, mgr);
}
