// The store keys netmgr reads, one table per feature. Commands are those of
// queue 204; "" means read at start-up only. The DHCP server's keys are
// read again whenever /etc/udhcpd.conf is written (commands 2 and 9).
#include "common/settings.h"
#include "netmgr/netmgr.h"

namespace rc {

namespace {

using P = Parse;

const Setting kLan[] = {
    {"lan_ip", "lan_ip, lanip, strlannet", P::Address, "", "2,9"},
    {"lan_mask", "lan_mask, lanmask, strlannet", P::Address, "", "2,9"},
    {"wanparam", "(WAN port mode and speed)", P::Number, "0", ""},
    {"wan_mac_addr", "(WAN MAC address)", P::Text, "", ""},
    {"wan_connecttype", "wanconntype, wanname", P::Number, "0", "2,4,9"},
};
const Setting kStatic[] = {
    {"wan_ip", "strwanip", P::Address, "", "4"},
    {"wan_mask", "strwanmask", P::Address, "", "4"},
    {"wan_gateway", "strwangate", P::Address, "", "4"},
    {"wan_dns1", "strwandns1", P::Address, "", "4"},
    {"wan_dns2", "strwandns2", P::Address, "", "4"},
    {"staticMTU", "strwanmtu", P::Number, "", "2,4,9"},
};
const Setting kDhcp[] = {
    {"dynamicMTU", "strwanmtu", P::Number, "", "2,4,9"},
};
const Setting kDns[] = {
    {"dnsen", "(/etc/resolv.conf of a static WAN)", P::Number, "0", "4"},
    {"dns_dns1", "(/etc/resolv.conf, udhcpd.conf)", P::Address, "", "2,4,9"},
    {"dns_dns2", "(/etc/resolv.conf, udhcpd.conf)", P::Address, "", "2,4,9"},
};
const Setting kPppoe[] = {
    {"ppoe_conmode", "ppp_conn_type", P::Number, "0", "4"},
    {"ppoe_idletime", "ppp_conn_wait_time", P::Number, "0", "4"},
    {"ppoe_h_s", "ppp_conn_start_min", P::Number, "0", "4"},
    {"ppoe_m_s", "ppp_conn_start_min", P::Number, "0", "4"},
    {"ppoe_h_e", "ppp_conn_end_min", P::Number, "0", "4"},
    {"ppoe_m_e", "ppp_conn_end_min", P::Number, "0", "4"},
    {"ppoe_userid", "pppoe.user", P::Text, "", "4"},
    {"ppoe_pwd", "pppoe.pwd", P::Text, "", "4"},
    {"ppoe_mtu", "pppoe.mtu", P::Number, "1492", "2,4,9"},
    {"ppoe_sev", "pppoe.service", P::Text, "", "4"},
    {"ppoe_ac", "pppoe.ac", P::Text, "", "4"},
};
const Setting kDhcpPlus[] = {
    {"DHCP_plus_mtu", "strwanmtu", P::Number, "", "4"},
    {"DHCP_plus_Name", "dhcpplus_name", P::Text, "", "21"},
    {"DHCP_plus_Pwd", "dhcpplus_pwd", P::Text, "", "21"},
};
const Setting kPptp[] = {
    {"pptpIP", "pptp_ser", P::Text, "", "4"},
    {"pptpPUN", "pptp.user", P::Text, "", "4"},
    {"pptpPPW", "pptp.pwd", P::Text, "", "4"},
    {"pptpMTU", "pptp.mtu", P::Number, "1450", "4"},
    {"pptpAddrMode", "pptp.addrmode", P::Number, "0", "4"},
    {"pptpMPPE", "pptp.mppe", P::Number, "0", "4"},
    {"pptpWANIP", "pptp.wanip", P::Address, "", "4"},
    {"pptpWANMASK", "pptp.wanmask", P::Address, "", "4"},
    {"pptpWANGW", "pptp.wangw", P::Address, "", "4"},
};
const Setting kL2tp[] = {
    {"l2tpIP", "l2tp_ser", P::Text, "", "4"},
    {"l2tpPUN", "l2tp.user", P::Text, "", "4"},
    {"l2tpPPW", "l2tp.pwd", P::Text, "", "4"},
    {"l2tpMTU", "l2tp.mtu", P::Number, "1450", "4"},
    {"l2tpAddrMode", "l2tp.addrmode", P::Number, "0", "4"},
    {"l2tpWANIP", "l2tp.wanip", P::Address, "", "4"},
    {"l2tpWANMASK", "l2tp.wanmask", P::Address, "", "4"},
    {"l2tpWANGW", "l2tp.wangw", P::Address, "", "4"},
};
const Setting kDhcpServer[] = {
    {"dhcps_en", "(udhcpd started)", P::Number, "0", "2,9"},
    {"dhcps_start", "(udhcpd.conf start)", P::Address, "", "2,9"},
    {"dhcps_end", "(udhcpd.conf end)", P::Address, "", "2,9"},
    {"dhcps_dns1", "(udhcpd.conf dns)", P::Address, "", "2,9"},
    {"dhcps_dns2", "(udhcpd.conf dns)", P::Address, "", "2,9"},
    {"lease_time", "(udhcpd.conf lease)", P::Number, "0", "2,9"},
    {"dhcpStaticnum", "(static leases)", P::Number, "0", "2,9"},
    {"dhcpStaticip", "dhcpStaticip", P::List, "", "2,9"},
};

const SettingGroup kGroups[] = {
    settingGroup("LAN and WAN type", kLan),     settingGroup("static WAN", kStatic),
    settingGroup("DHCP WAN", kDhcp),            settingGroup("user DNS servers", kDns),
    settingGroup("PPPoE", kPppoe),              settingGroup("DHCP+", kDhcpPlus),
    settingGroup("PPTP", kPptp),                settingGroup("L2TP", kL2tp),
    settingGroup("LAN DHCP server", kDhcpServer),
};

}  // namespace

const SettingTable kNetSettings = {"netmgr", kGroups, sizeof kGroups / sizeof kGroups[0]};

}  // namespace rc
