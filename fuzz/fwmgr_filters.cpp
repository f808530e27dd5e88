// The client, URL and MAC filter lists, read through readspecialdata.
#include "fwmgr_kit.h"

namespace {
const char *const kKeys[] = {"client_filter_num", "client_filter_0", "client_filter_1", "url_filter_num", "url_filter_0", "url_filter_1", "mac_filter_num", "mac_filter_0", "mac_filter_1"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::fuzz::run_fwmgr(kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  return 0;
}
