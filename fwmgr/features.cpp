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
     [](F &f) { f.readportmapconfig(); }, nullptr, [](F &f) { f.unloadportmapconfig(); },
     [](F &f) { f.loadportmapconfig(); }, [](F &f) { f.unloadportmapconfig(); }, nullptr, nullptr, nullptr},
    {"DMZ", 5, {{"nat", "dmz_forward_pre"}, {"nat", "dmz_forward_post"}},
     [](F &f) { f.readdmzconfig(); }, nullptr, [](F &f) { f.unloaddmzconfig(); },
     [](F &f) { f.loaddmzconfig(); }, [](F &f) { f.unloaddmzconfig(); }, nullptr, nullptr, nullptr},
    // loadalgconfig empties alg_filter itself before it fills it.
    {"ALG blocking", 7, {},
     [](F &f) { f.readalgconfig(); }, [](F &f) { f.loadalgconfig(); }, nullptr,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    // The scheduled filters load on the pass, by the local time.
    {"client filter", 8, {{"filter", "ip_filter"}},
     [](F &f) { f.readclientconfig(); }, nullptr, [](F &f) { f.unloadclientconfig(); },
     nullptr, nullptr, nullptr, [](F &f, const struct tm &now) { f.loadclientconfig(now); }, nullptr},
    {"URL filter", 9, {{"filter", "url_filter"}},
     [](F &f) { f.readurlconfig(); }, nullptr, [](F &f) { f.unloadurlconfig(); },
     nullptr, nullptr, nullptr, [](F &f, const struct tm &now) { f.loadurlconfig(now); }, nullptr},
    {"MAC filter", 10, {{"filter", "mac_filter"}},
     [](F &f) { f.readmacconfig(); }, nullptr, [](F &f) { f.unloadmacconfig(); },
     nullptr, nullptr, nullptr, [](F &f, const struct tm &now) { f.loadmacconfig(now); }, nullptr},
    {"IP-MAC binding", 11, {},
     [](F &f) { f.readipmacbindconfig(); }, [](F &f) { f.loadipmacbindconfig(1); },
     [](F &f) { f.loadipmacbindconfig(0); }, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"QoS", 12, {{"filter", "qos"}},
     [](F &f) { f.readqosconfig(); }, nullptr, nullptr,
     [](F &f) { f.loadqosconfig(); }, [](F &f) { f.unloadqosconfig(); }, nullptr, nullptr, nullptr},
    // Its unload empties ping and safe_filter and deletes its mangle rule.
    {"attack defence", 15, {},
     [](F &f) { f.readattackconfig(); }, [](F &f) { f.loadattackconfig(); },
     [](F &f) { f.unloadattackconfig(); }, [](F &f) { f.wanPingRule('A'); },
     [](F &f) { f.wanPingRule('D'); }, nullptr, nullptr, nullptr},
    // kinwatch is restarted at every start, so that it reads the store again.
    {"kinwatch", 0, {}, nullptr, [](F &f) { f.loadkinwatch(); }, nullptr,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    {"WAN management access", 13, {{"nat", "web_wanadmin"}},
     [](F &f) { f.readwanwebconfig(); }, nullptr, [](F &f) { f.unloadwanwebrule(); },
     [](F &f) { f.loadwanwebrule(); }, [](F &f) { f.unloadwanwebrule(); }, nullptr, nullptr,
     nullptr},
    {"LAN management access", 14, {{"filter", "web_access"}, {"nat", "web_lanadmin"}},
     [](F &f) { f.readwebaccessconfig(); }, [](F &f) { f.loadlanwebrules(); }, nullptr,
     nullptr, nullptr, nullptr, nullptr, [](F &f, const FwFeature &r) { f.cmdLanWeb(r); }},
    {"DDNS", 17, {},
     [](F &f) { f.readddnsconfig(); }, nullptr, [](F &f) { f.unloadddnsconfig(); },
     [](F &f) { f.loadddnsconfig(); }, [](F &f) { f.unloadddnsconfig(); }, nullptr, nullptr,
     [](F &f, const FwFeature &r) {
       f.clearDdnsStatus();
       f.reload(r);
     }},
    // Read only on its command: at start-up the WAN-up procedure applies it.
    {"DNS", 18, {}, nullptr, nullptr, nullptr,
     [](F &f) { f.loaddnsproxy(); }, [](F &f) { f.unloaddnsproxy(); }, [](F &f) { f.readdnsconfig(); },
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
