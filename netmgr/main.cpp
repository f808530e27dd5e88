// netmgr: builds the production services and runs the network manager.
#include "netmgr/netmgr.h"
#ifdef ROUTER_WITH_DHCPPLUS
#include "netmgr/dhcpplus/dhcpplus.h"
#endif

int main() {
  static rc::Forever<rc::BatchPosixShell> sh;
  static const rc::Forever<rc::SystemServices> sys(*sh);
#ifdef ROUTER_WITH_DHCPPLUS
  static rc::Forever<rc::DhcpPlusSocket> net;
  static rc::Forever<rc::DhcpPlusLogin> login(*net, sys->services().clock);
  static rc::Forever<rc::NetMgr> mgr(sys->services(), &*login);
#else
  static rc::Forever<rc::NetMgr> mgr(sys->services(), nullptr);
#endif
  return rc::run_daemon(*mgr, rc::NetMgr::kDaemon, sys->services());
}
