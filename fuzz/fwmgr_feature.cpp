// The fwmgr targets: one source, built once per feature (FWMGR_FEATURE_<name>
// chooses the store keys the input fills; fwmgr_kit.h runs start-up, WAN up
// and WAN down over them).
#include "fwmgr_kit.h"

namespace {
#if defined(FWMGR_FEATURE_portmap)
// virtualser_list (port forwarding), the DMZ host and alg_service.
const char *const kKeys[] = {"virtualser_list", "dmzip", "alg_service"};
#elif defined(FWMGR_FEATURE_filters)
// The client, URL and MAC filter lists, read through readspecialdata.
const char *const kKeys[] = {"client_filter_num", "client_filter_0", "client_filter_1",
                             "url_filter_num",    "url_filter_0",    "url_filter_1",
                             "mac_filter_num",    "mac_filter_0",    "mac_filter_1"};
#elif defined(FWMGR_FEATURE_qos)
// The QoS records (qoslist<n>, read through readspecialdata).
const char *const kKeys[] = {"qos_num", "qoslist0", "qoslist1"};
#elif defined(FWMGR_FEATURE_ipmac)
// The IP-MAC binding lists (ipbindlist<n>, read through readspecialdata).
const char *const kKeys[] = {"ipbindnum", "otherenable", "ipbindlist0", "ipbindlist1"};
#elif defined(FWMGR_FEATURE_natlimit)
// natlimit_list: the per-range connection limits written to the kernel.
const char *const kKeys[] = {"natlimit_list", "natlimit_enble"};
#elif defined(FWMGR_FEATURE_routes)
// The static routes static_route_0 .. static_route_9.
const char *const kKeys[] = {"static_route_0", "static_route_1", "static_route_2", "static_route_9"};
#elif defined(FWMGR_FEATURE_services)
// Attack defence, the QQ and MSN lists, management access and DDNS.
const char *const kKeys[] = {"lan_attack_defence", "qqip", "msnip", "webip", "webport",
                             "wanwebip", "wanwebport", "ddns_type", "ddns_user", "ddns_pwd",
                             "ddns_domain", "dns_dns1", "dns_dns2"};
#else
#error "FWMGR_FEATURE_<name> names the feature"
#endif
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::fuzz::run_fwmgr(kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  return 0;
}
