// Attack defence, the QQ and MSN lists, management access and DDNS.
#include "fwmgr_kit.h"

namespace {
const char *const kKeys[] = {"lan_attack_defence", "qqip", "msnip", "webip", "webport", "wanwebip", "wanwebport", "ddns_type", "ddns_user", "ddns_pwd", "ddns_domain", "dns_dns1", "dns_dns2"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::fuzz::run_fwmgr(kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  return 0;
}
