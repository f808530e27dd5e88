// The static routes static_route_0 .. static_route_9.
#include "fwmgr_kit.h"

namespace {
const char *const kKeys[] = {"static_route_0", "static_route_1", "static_route_2", "static_route_9"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::fuzz::run_fwmgr(kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  return 0;
}
