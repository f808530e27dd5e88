// trafmon: builds the production services and runs the traffic monitor.
#include <cstdlib>

#include "common/ipc.h"
#include "common/netutil.h"
#include "common/proc.h"
#include "trafmon/trafmon.h"

int main() {
  rc::stdio_line_buffered();
  static rc::PosixShell sh(rc::ShellOptions{1024, false});
  static rc::NvramStore store;
  static rc::SystemClock clock;
  static const rc::Paths paths = rc::Paths::fromEnvironment();
  static rc::TrafMon mon({sh, store, clock, paths});

  clock.sleepSeconds(5);
  rc::ignore_signals_but_kill();
  if (rc::createsem(&mon.nsemid, rc::kTrafKey, 1) < 0) mon.nsemid = -1;
  void *hosts = nullptr, *sys = nullptr;
  if (rc::createshm(&mon.nshmid, rc::kTrafKey, sizeof(rc::hosttable), &hosts, false) < 0) hosts = nullptr;
  if (rc::createshm(&mon.nsysshmid, rc::kSysStatKey, sizeof(rc::sysstat), &sys, false) < 0) sys = nullptr;
  mon.attach(hosts, sys);
  uint32_t ip = 0, mask = 0;
  rc::getipmask("br0", &ip, &mask);
  mon.setLan(ip, mask);
  mon.start();
  mon.nmsgid = rc::open_cmd_queue(rc::kTrafKey);
  if (mon.nmsgid < 0) exit(0);
  rc::start_tick_timer(mon.nsemid);
  rc::run_tick_loop(mon.nsemid, mon.nmsgid, mon);
}
