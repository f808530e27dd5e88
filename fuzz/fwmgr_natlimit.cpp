// natlimit_list: the per-range connection limits written to the kernel.
#include "fwmgr_kit.h"

namespace {
const char *const kKeys[] = {"natlimit_list", "natlimit_enble"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::fuzz::run_fwmgr(kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  return 0;
}
