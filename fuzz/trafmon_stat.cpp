// /proc/stat: the CPU time line.
#include "trafmon_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::TrafMon &mon = rc::fuzz::trafmon();
  rc::fuzz::put_file("proc/stat", data, size);
  uint32_t total = 0, idle = 0;
  mon.getcpustat(&total, &idle);
  return 0;
}
