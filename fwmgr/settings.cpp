// The store keys fwmgr reads, one table per feature. Commands are those of
// queue 203; "" means read at start-up only.
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
    {"virtualser_list", "portinfo, portmnum", P::List, "", "4"},
};
const Setting kDmz[] = {
    {"dmzen", "dmzen", P::Number, "0", "5"},
    {"dmzip", "dmzip", P::Address, "", "5"},
};
const Setting kAlg[] = {
    {"alg_service", "algMask", P::Text, "", "7"},
};
const Setting kClient[] = {
    {"client_filter_en", "(no records when 0)", P::Number, "0", "8"},
    {"client_filter_num", "clientnum", P::Number, "0", "8"},
    {"client_filter_0", "clientinfo", P::List, "", "8"},
};
const Setting kUrl[] = {
    {"url_filter_en", "(no records when 0)", P::Number, "0", "9"},
    {"url_filter_num", "urlnum", P::Number, "0", "9"},
    {"url_filter_0", "urlinfo", P::List, "", "9"},
};
const Setting kMac[] = {
    {"mac_filter_en", "(no records when 0)", P::Number, "0", "10"},
    {"mac_filter_num", "macnum", P::Number, "0", "10"},
    {"mac_filter_0", "macinfo", P::List, "", "10"},
};
const Setting kIpMacBind[] = {
    {"ipbindenable", "(no pairs when 0)", P::Number, "0", "11"},
    {"otherenable", "ipmacbindother", P::Number, "0", "11"},
    {"ipbindnum", "ipmacbindnum", P::Number, "0", "11"},
    {"ipbindlist0", "ipmacbindinfo", P::List, "", "11"},
};
const Setting kQos[] = {
    {"qos_enable", "(no records when 0)", P::Number, "0", "12"},
    {"qos_num", "qosnum", P::Number, "0", "12"},
    {"qoslist0", "qosinfo, activeqos", P::List, "", "12"},
};
const Setting kAttack[] = {
    {"lan_attack_defence", "attackflags .. Virus", P::List, "", "15"},
    {"qqip", "qqip", P::List, "", "15"},
    {"msnip", "msnip", P::List, "", "15"},
};
const Setting kWanWeb[] = {
    {"wanweben", "wanweben", P::Number, "0", "13"},
    {"wanwebip", "wanwebip, wanwebipbad", P::Network, "", "13"},
    {"wanwebport", "wanwebport", P::Port, "0", "13"},
};
const Setting kLanWeb[] = {
    {"webipen", "webaccessen", P::Number, "0", "14"},
    {"webip", "lanwebip, lanwebipbad", P::Network, "", "14"},
    {"webport", "weblistenport", P::Port, "80", "14"},
};
const Setting kDdns[] = {
    {"ddns_en", "ddnsen", P::Number, "0", "17"},
    {"ddns_type", "ddnstype", P::Number, "0", "17"},
    {"ddns_user", "ddnsuser", P::Text, "", "17"},
    {"ddns_pwd", "ddnspwd", P::Text, "", "17"},
    {"ddns_domain", "ddnsdomain", P::Text, "", "17"},
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
