// The WAN types of netmgr, one record each, in wan_connecttype order.
// Applying a type (start-up, command 4) runs its read, files and start
// steps; command 4 first runs the stop step of the type it replaces. While
// a type is active, command 2 runs its WAN-up step after the masquerade rule
// of wanname is added and command 3 its WAN-down step after that rule is
// deleted, and every pass runs its pass step. Its commands of queue 204 run
// whatever type is active. A WAN type is one record here and one file with
// its steps (declared in netmgr.h), plus its keys in settings.cpp; its WAN
// interface is wan_ifname's (common/netutil.cpp, fwmgr reads it too).
#include "netmgr/netmgr.h"

namespace rc {

namespace {
using N = NetMgr;
}  // namespace

// Columns: wan_connecttype, read, files, start, stop, WAN-up, WAN-down, pass,
// commands.

const WanType NetMgr::kWanTypes[] = {
    // Static address: no link commands; start sends the WAN up notice.
    {1, [](N &n) { n.staticRead(); }, nullptr, [](N &n) { n.staticStart(); },
     [](N &n) { n.staticStop(); }, nullptr, nullptr, nullptr, {}},
    // DHCP: the lease events of udhcpc post 2 (bound) and 3 (deconfig).
    {2, [](N &n) { n.dhcpRead(); }, nullptr, [](N &n) { n.dhcpConnect(); },
     [](N &n) { n.dhcpStop(); }, nullptr, nullptr, nullptr,
     {{5, [](N &n) { n.dhcpRelease(); }}, {6, [](N &n) { n.dhcpConnect(); }}}},
    // PPPoE: pppd's ip-up and ip-down post 2 and 3.
    {3, [](N &n) { n.pppoeRead(); }, [](N &n) { n.pppoeFiles(); }, [](N &n) { n.pppoeStart(); },
     [](N &n) { n.pppoeTearDown(); }, [](N &n) { n.pppoeUp(); },
     [](N &n) { n.mssClampRemoval(); }, [](N &n) { n.pppoeSchedule(); },
     {{7, [](N &n) { n.pppoeDisconnect(); }}, {8, [](N &n) { n.pppoeConnect(); }}}},
    // DHCP+: the first lease posts 21 (deconfig 22, ignored); after the login
    // the plain DHCP script posts 2 and 3.
    {4, [](N &n) { n.dhcpplusRead(); }, nullptr, [](N &n) { n.dhcpplusConnect(); },
     [](N &n) { n.dhcpStop(); }, nullptr, nullptr, nullptr,
     {{10, [](N &n) { n.dhcpplusConnect(); }},
      {11, [](N &n) { n.dhcpRelease(); }},
      {21, [](N &n) { n.dhcpplusLogin(); }}}},
    // PPTP: with a dynamic address the underlay's lease posts 23 (24
    // ignored); pppd's ip-up and ip-down post 2 and 3.
    {5, [](N &n) { n.pptpRead(); }, [](N &n) { n.pptpFiles(); }, [](N &n) { n.pptpStart(); },
     [](N &n) { n.tunnelStop("pptp"); }, [](N &n) { n.pptpMasquerade('A'); },
     [](N &n) { n.pptpMasquerade('D'); }, nullptr,
     {{12, [](N &n) { n.pptpConnect(); }},
      {13, [](N &n) { n.pptpDisconnect(); }},
      {23, [](N &n) { n.pptpBound(); }}}},
    // L2TP: with a dynamic address the underlay's lease posts 25 (26
    // ignored); the pppd of xl2tpd posts 2 and 3.
    {6, [](N &n) { n.l2tpRead(); }, [](N &n) { n.l2tpFiles(); }, [](N &n) { n.l2tpStart(); },
     [](N &n) { n.tunnelStop("xl2tpd"); }, nullptr, nullptr, nullptr,
     {{14, [](N &n) { n.l2tpConnect(); }},
      {15, [](N &n) { n.l2tpDisconnect(); }},
      {25, [](N &n) { n.l2tpBound(); }}}},
};

const size_t NetMgr::kWanTypeCount = sizeof kWanTypes / sizeof kWanTypes[0];

}  // namespace rc
