// The store keys fwmgr reads, one table per feature. The state a key sets is
// named by its path in FwMgr: a feature's own struct (portmap.portinfo) or
// the process-wide state (strlanip). Commands are those of queue 203; ""
// means read at start-up only.
#include "common/settings.h"
#include "fwmgr/fwmgr.h"

namespace rc {

namespace {

using P = Parse;

const Setting kLanWan[] = {
    {"lan_ip", "strlanip, lanip", P::Address, "", ""},
    {"lan_mask", "lanmask, strlannet", P::Address, "", ""},
    {"wan_connecttype", "wanconntype, wanname", P::Number, "0", "2"},
    {"wan_ip", "strwanip (static WAN)", P::Address, "", "2"},
    {"wan_mask", "strwanmask (static WAN)", P::Address, "", "2"},
};
const Setting kPortmap[] = {
    {"virtualser_list", "portmap.portinfo, portmap.portmnum", P::List, "", "4"},
};
const Setting kDmz[] = {
    {"dmzen", "dmz.dmzen", P::Number, "0", "5"},
    {"dmzip", "dmz.dmzip", P::Address, "", "5"},
};
const Setting kAlg[] = {
    {"alg_service", "alg.algMask", P::Text, "", "7"},
};
const Setting kClient[] = {
    {"client_filter_en", "(no records when 0)", P::Number, "0", "8"},
    {"client_filter_num", "client.clientnum", P::Number, "0", "8"},
    {"client_filter_0", "client.clientinfo", P::List, "", "8"},
};
const Setting kUrl[] = {
    {"url_filter_en", "(no records when 0)", P::Number, "0", "9"},
    {"url_filter_num", "url.urlnum", P::Number, "0", "9"},
    {"url_filter_0", "url.urlinfo", P::List, "", "9"},
};
const Setting kMac[] = {
    {"mac_filter_en", "(no records when 0)", P::Number, "0", "10"},
    {"mac_filter_num", "mac.macnum", P::Number, "0", "10"},
    {"mac_filter_0", "mac.macinfo", P::List, "", "10"},
};
const Setting kIpMacBind[] = {
    {"ipbindenable", "(no pairs when 0)", P::Number, "0", "11"},
    {"otherenable", "ipmacbind.ipmacbindother", P::Number, "0", "11"},
    {"ipbindnum", "ipmacbind.ipmacbindnum", P::Number, "0", "11"},
    {"ipbindlist0", "ipmacbind.ipmacbindinfo", P::List, "", "11"},
};
const Setting kQos[] = {
    {"qos_enable", "(no records when 0)", P::Number, "0", "12"},
    {"qos_num", "qos.qosnum", P::Number, "0", "12"},
    {"qoslist0", "qos.qosinfo, qos.activeqos", P::List, "", "12"},
};
const Setting kAttack[] = {
    {"lan_attack_defence", "attack.attackflags .. attack.Virus", P::List, "", "15"},
    {"qqip", "attack.qqip", P::List, "", "15"},
    {"msnip", "attack.msnip", P::List, "", "15"},
};
const Setting kWanWeb[] = {
    {"wanweben", "wanweb.wanweben", P::Number, "0", "13"},
    {"wanwebip", "wanweb.wanwebip, wanweb.wanwebipbad", P::Network, "", "13"},
    {"wanwebport", "wanweb.wanwebport", P::Port, "0", "13"},
};
const Setting kLanWeb[] = {
    {"webipen", "lanweb.webaccessen", P::Number, "0", "14"},
    {"webip", "lanweb.lanwebip, lanweb.lanwebipbad", P::Network, "", "14"},
    {"webport", "lanweb.weblistenport", P::Port, "80", "14"},
};
const Setting kDdns[] = {
    {"ddns_en", "ddns.ddnsen", P::Number, "0", "17"},
    {"ddns_type", "ddns.ddnstype", P::Number, "0", "17"},
    {"ddns_user", "ddns.ddnsuser", P::Text, "", "17"},
    {"ddns_pwd", "ddns.ddnspwd", P::Text, "", "17"},
    {"ddns_domain", "ddns.ddnsdomain", P::Text, "", "17"},
};
const Setting kDns[] = {
    {"dnsen", "(/etc/resolv.conf)", P::Number, "0", "2,18"},
    {"dns_dns1", "(/etc/resolv.conf)", P::Address, "", "2,18"},
    {"dns_dns2", "(/etc/resolv.conf)", P::Address, "", "2,18"},
};
const Setting kUpnp[] = {
    {"upnpen", "upnpen", P::Number, "0", "16"},
};
const Setting kConnLimits[] = {
    {"natlimit_enble", "(/proc/vkproc/connlimit)", P::Number, "0", ""},
    {"natlimit_list", "(/proc/vkproc/connlimit)", P::List, "", ""},
};
const Setting kRoutes[] = {
    {"static_route_0", "(route lines)", P::List, "", ""},
};

const SettingGroup kGroups[] = {
    settingGroup("LAN and WAN", kLanWan),
    settingGroup("port forwarding", kPortmap),
    settingGroup("DMZ", kDmz),
    settingGroup("ALG blocking", kAlg),
    settingGroup("client filter", kClient),
    settingGroup("URL filter", kUrl),
    settingGroup("MAC filter", kMac),
    settingGroup("IP-MAC binding", kIpMacBind),
    settingGroup("QoS", kQos),
    settingGroup("attack defence", kAttack),
    settingGroup("WAN management access", kWanWeb),
    settingGroup("LAN management access", kLanWeb),
    settingGroup("DDNS", kDdns),
    settingGroup("DNS", kDns),
    settingGroup("UPnP", kUpnp),
    settingGroup("connection limits", kConnLimits),
    settingGroup("static routes", kRoutes),
};

}  // namespace

const SettingTable kFwSettings = {"fwmgr", kGroups, sizeof kGroups / sizeof kGroups[0]};

}  // namespace rc
