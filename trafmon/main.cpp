// trafmon: builds the production services and runs the traffic monitor.
#include "common/netutil.h"
#include "trafmon/trafmon.h"

int main() {
  static rc::Forever<rc::PosixShell> sh(rc::ShellOptions{1024, false});
  static const rc::Forever<rc::SystemServices> sys(*sh, rc::getipmask);
  static rc::Forever<rc::TrafMon> mon(sys->services());
  return rc::run_daemon(*mon, rc::TrafMon::kDaemon, sys->services());
}
