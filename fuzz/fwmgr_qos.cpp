// The QoS records (qoslist<n>, read through readspecialdata).
#include "fwmgr_kit.h"

namespace {
const char *const kKeys[] = {"qos_num", "qoslist0", "qoslist1"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::fuzz::run_fwmgr(kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  return 0;
}
