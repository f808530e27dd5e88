// The IP-MAC binding lists (ipbindlist<n>, read through readspecialdata).
#include "fwmgr_kit.h"

namespace {
const char *const kKeys[] = {"ipbindnum", "otherenable", "ipbindlist0", "ipbindlist1"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::fuzz::run_fwmgr(kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  return 0;
}
