// The output of `free` that trafmon reads back from /tmp/free.txt.
#include "trafmon_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::TrafMon &mon = rc::fuzz::trafmon();
  rc::fuzz::put_file("tmp/free.txt", data, size);
  int32_t used = 0;
  mon.getmemuse(&used);
  if (used < 0 || used > 100) abort();
  return 0;
}
