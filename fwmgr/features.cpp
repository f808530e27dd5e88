// The feature records of fwmgr. start, the command dispatch of queue 203,
// WAN-up, WAN-down, the pass and the restart flush walk this table in its
// order, which is therefore the order of their command lines: the restart
// flush empties the filter chains, then the nat chains, of the records from
// first to last; start runs every read step with the store open, then the
// load steps; WAN-up runs the WAN load steps and WAN-down the WAN unload
// steps. A feature is one record here and one file for its steps.
#include "fwmgr/fwmgr.h"

namespace rc {

namespace {
using F = FwMgr;
}  // namespace

// Columns: name, command, owned chains, read, load, unload, WAN load, WAN
// unload, command read (when not the read step), pass, command (when not
// FwMgr::reload).

const FwFeature FwMgr::kFeatures[] = {
    {"port forwarding", 4, {{"nat", "port_forward_pre"}, {"nat", "port_forward_post"}},
     [](F &f) { f.portmap.readportmapconfig(f); }, nullptr, [](F &f) { f.portmap.unloadportmapconfig(f); },
     [](F &f) { f.portmap.loadportmapconfig(f); }, [](F &f) { f.portmap.unloadportmapconfig(f); }, nullptr, nullptr,
     nullptr},
    {"DMZ", 5, {{"nat", "dmz_forward_pre"}, {"nat", "dmz_forward_post"}},
     [](F &f) { f.dmz.readdmzconfig(f); }, nullptr, [](F &f) { f.dmz.unloaddmzconfig(f); },
     [](F &f) { f.dmz.loaddmzconfig(f); }, [](F &f) { f.dmz.unloaddmzconfig(f); }, nullptr, nullptr, nullptr},
    // loadalgconfig empties alg_filter itself before it fills it.
    {"ALG blocking", 7, {},
     [](F &f) { f.alg.readalgconfig(f); }, [](F &f) { f.alg.loadalgconfig(f); }, nullptr,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    // The scheduled filters load on the pass, by the local time.
    {"client filter", 8, {{"filter", "ip_filter"}},
     [](F &f) { f.client.readclientconfig(f); }, nullptr, [](F &f) { f.client.unloadclientconfig(f); },
     nullptr, nullptr, nullptr, [](F &f, const struct tm &now) { f.client.loadclientconfig(f, now); }, nullptr},
    {"URL filter", 9, {{"filter", "url_filter"}},
     [](F &f) { f.url.readurlconfig(f); }, nullptr, [](F &f) { f.url.unloadurlconfig(f); },
     nullptr, nullptr, nullptr, [](F &f, const struct tm &now) { f.url.loadurlconfig(f, now); }, nullptr},
    {"MAC filter", 10, {{"filter", "mac_filter"}},
     [](F &f) { f.mac.readmacconfig(f); }, nullptr, [](F &f) { f.mac.unloadmacconfig(f); },
     nullptr, nullptr, nullptr, [](F &f, const struct tm &now) { f.mac.loadmacconfig(f, now); }, nullptr},
    {"IP-MAC binding", 11, {},
     [](F &f) { f.ipmacbind.readipmacbindconfig(f); }, [](F &f) { f.ipmacbind.loadipmacbindconfig(f, 1); },
     [](F &f) { f.ipmacbind.loadipmacbindconfig(f, 0); }, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"QoS", 12, {{"filter", "qos"}},
     [](F &f) { f.qos.readqosconfig(f); }, nullptr, nullptr,
     [](F &f) { f.qos.loadqosconfig(f); }, [](F &f) { f.qos.unloadqosconfig(f); }, nullptr, nullptr, nullptr},
    // Its unload empties ping and safe_filter and deletes its mangle rule.
    {"attack defence", 15, {},
     [](F &f) { f.attack.readattackconfig(f); }, [](F &f) { f.attack.loadattackconfig(f); },
     [](F &f) { f.attack.unloadattackconfig(f); }, [](F &f) { f.attack.wanPingRule(f, 'A'); },
     [](F &f) { f.attack.wanPingRule(f, 'D'); }, nullptr, nullptr, nullptr},
    // kinwatch is restarted at every start, so that it reads the store again.
    {"kinwatch", 0, {}, nullptr, [](F &f) { f.loadkinwatch(); }, nullptr,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    {"WAN management access", 13, {{"nat", "web_wanadmin"}},
     [](F &f) { f.wanweb.readwanwebconfig(f); }, nullptr, [](F &f) { f.wanweb.unloadwanwebrule(f); },
     [](F &f) { f.wanweb.loadwanwebrule(f); }, [](F &f) { f.wanweb.unloadwanwebrule(f); }, nullptr, nullptr,
     nullptr},
    {"LAN management access", 14, {{"filter", "web_access"}, {"nat", "web_lanadmin"}},
     [](F &f) { f.lanweb.readwebaccessconfig(f); }, [](F &f) { f.lanweb.loadlanwebrules(f); }, nullptr,
     nullptr, nullptr, nullptr, nullptr, [](F &f, const FwFeature &r) { f.lanweb.cmdLanWeb(f, r); }},
    {"DDNS", 17, {},
     [](F &f) { f.ddns.readddnsconfig(f); }, nullptr, [](F &f) { f.ddns.unloadddnsconfig(f); },
     [](F &f) { f.ddns.loadddnsconfig(f); }, [](F &f) { f.ddns.unloadddnsconfig(f); }, nullptr, nullptr,
     [](F &f, const FwFeature &r) {
       f.ddns.clearDdnsStatus(f);
       f.reload(r);
     }},
    // Read only on its command: at start-up the WAN-up procedure applies it.
    {"DNS", 18, {}, nullptr, nullptr, nullptr,
     [](F &f) { f.dns.loaddnsproxy(f); }, [](F &f) { f.dns.unloaddnsproxy(f); }, [](F &f) { f.dns.readdnsconfig(f); },
     nullptr, nullptr},
    {"UPnP", 16, {},
     [](F &f) { f.upnpen = f.readNumber("upnpen"); }, nullptr, nullptr,
     [](F &f) {
       if (f.upnpen == 1) f.upnpStart();
     },
     [](F &f) {
       if (f.upnpen == 1) f.upnpStop();
     },
     nullptr, nullptr, [](F &f, const FwFeature &) { f.upnpSwitch(); }},
    // Read at start only: the kernel's connection-limit table and the
    // static routes are written while the store is open.
    {"connection limits", 0, {}, [](F &f) { f.loadnatlimitconfig(); }, nullptr, nullptr,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    {"static routes", 0, {}, [](F &f) { f.loadroutestatic(); }, nullptr, nullptr,
     nullptr, nullptr, nullptr, nullptr, nullptr},
};

const size_t FwMgr::kFeatureCount = sizeof kFeatures / sizeof kFeatures[0];

}  // namespace rc
