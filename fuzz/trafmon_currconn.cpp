// /proc/vkproc/currconn: (address, count) pairs of the connection tracker.
#include "trafmon_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::TrafMon &mon = rc::fuzz::trafmon();
  rc::fuzz::put_file("kernel/proc/vkproc/currconn", data, size);
  mon.getlinkinfo();
  return 0;
}
