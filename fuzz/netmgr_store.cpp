// netmgr's start-up over store values from the input: every key it reads at
// start, the WAN type and DHCP server settings included, so the address,
// number, MTU, static lease list and PPP text readers all see them.
#include "fuzzkit.h"
#include "netmgr/netmgr.h"

namespace {
const char *const kKeys[] = {
    "wan_connecttype", "dhcps_en",     "dhcpStaticnum", "dhcpStaticip", "lan_ip",
    "lan_mask",        "wan_ip",       "wan_mask",      "wan_gateway",  "wan_dns1",
    "wan_dns2",        "staticMTU",    "dynamicMTU",    "wan_mac_addr", "dnsen",
    "wanparam",        "ppoe_userid",  "ppoe_pwd",      "ppoe_sev",     "ppoe_ac",
    "ppoe_mtu",        "ppoe_conmode", "ppoe_idletime", "ppoe_h_s",     "ppoe_m_s",
    "ppoe_h_e",        "ppoe_m_e",     "pptpIP",        "pptpPUN",      "pptpPPW",
    "pptpMTU",         "pptpAddrMode", "pptpMPPE",      "pptpWANIP",    "pptpWANMASK",
    "pptpWANGW",       "l2tpIP",       "l2tpPUN",       "l2tpPPW",      "l2tpMTU",
    "l2tpAddrMode",    "l2tpWANIP",    "l2tpWANMASK",   "l2tpWANGW",    "DHCP_plus_Name",
    "DHCP_plus_Pwd",   "DHCP_plus_mtu", "dhcps_start",  "dhcps_end",    "dhcps_dns1",
    "dhcps_dns2",      "dns_dns1",     "dns_dns2",      "lease_time",
};
int noAuth(const char *, const char *) { return 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace rc::fuzz;
  quiet_stdout();
  static bool dirs = (put_file("etc/ppp/.keep", "", 0), put_file("kernel/dev/flash0", "", 0), true);
  (void)dirs;
  static rc::test::CountingShell sh;
  static rc::test::MemStore store;
  static rc::test::FixedClock clock(rc::fuzz::kStillTime);
  static rc::test::FakeProcesses procs;
  fill_store(store, kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  auto *mgr = new rc::NetMgr(rc::NetServices{sh, store, clock, scratch_paths(), procs, noAuth});
  mgr->start();
  // The commands that read the settings again: WAN and DHCP server changed.
  mgr->onCommand(4);
  mgr->onCommand(9);
  delete mgr;
  return 0;
}
