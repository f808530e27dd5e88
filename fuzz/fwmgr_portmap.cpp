// virtualser_list (port forwarding), the DMZ host and alg_service.
#include "fwmgr_kit.h"

namespace {
const char *const kKeys[] = {"virtualser_list", "dmzip", "alg_service"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::fuzz::run_fwmgr(kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  return 0;
}
