// arpguard: builds the production services and runs the ARP defence daemon,
// one pass a second.
#include "arpguard/arpguard.h"

int main() {
  static const rc::Forever<rc::SystemServices> sys(rc::kNoShell);  // arpguard runs no command line
  static rc::Forever<rc::PacketLink> link;
  static rc::Forever<rc::ArpGuard> guard(sys->services().cfm, *link);
  return rc::run_daemon(*guard, rc::ArpGuard::kDaemon, sys->services());
}
