// /proc/vkproc/account: the accounting module's page list.
#include "trafmon_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::TrafMon &mon = rc::fuzz::trafmon();
  rc::fuzz::put_file("kernel/proc/vkproc/account", data, size);
  mon.getaccountaddr();
  return 0;
}
