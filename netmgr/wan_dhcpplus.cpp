// The DHCP+ WAN (type 4): DHCP on eth2.2 whose first lease posts 21, the
// ISP login. Once the server accepts the password, udhcpc is restarted with
// the plain DHCP script, whose lease events then post 2 and 3. A refused
// login leaves the 21/22 script in place: the next lease tries again.
#include "netmgr/netmgr.h"

namespace rc {

void NetMgr::dhcpplusRead() { settings_.get("DHCP_plus_mtu", strwanmtu); }

void NetMgr::dhcpplusConnect() { setwandhcp(wanname, strwanmtu, "21", "22"); }

void NetMgr::dhcpplusLogin() {
  sh_.vk_SystemEx("echo \"0 0\" > /etc/at");
  cfm_.Init_vxm810_cfm();
  settings_.get("DHCP_plus_Name", dhcpplus_name);
  settings_.get("DHCP_plus_Pwd", dhcpplus_pwd);
  cfm_.CloseCfm();
  if (auth_ && auth_->dodhcpauth(dhcpplus_name, dhcpplus_pwd) == 1) {
    unsetwandhcp(wanname, strwanmtu);
    setwandhcp(wanname, strwanmtu, "2", "3");
  }
}

}  // namespace rc
