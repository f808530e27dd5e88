// arpguard: builds the production services and runs the ARP defence daemon,
// one pass a second.
#include "arpguard/arpguard.h"

int main() {
  static rc::PosixShell sh;  // part of the bundle; arpguard runs no command line
  static const rc::SystemServices sys(sh);
  static rc::PacketLink link;
  static rc::ArpGuard guard(sys.services().cfm, link);
  return rc::run_daemon(guard, rc::ArpGuard::kDaemon, sys.services());
}
