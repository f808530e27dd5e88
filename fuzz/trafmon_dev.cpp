// /proc/net/dev: the WAN interface counters.
#include "trafmon_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::TrafMon &mon = rc::fuzz::trafmon();
  rc::fuzz::put_file("proc/net/dev", data, size);
  rc::wanstat rec{};
  mon.getwanstatics("eth2.2", &rec);
  mon.getwanstatics("ppp0", &rec);
  return 0;
}
