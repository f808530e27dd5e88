// /proc/net/arp, and the join of its MAC addresses into host records.
#include "trafmon_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::TrafMon &mon = rc::fuzz::trafmon();
  rc::fuzz::put_file("proc/net/arp", data, size);
  mon.getarpinfo();
  static rc::hoststat recs[2];
  recs[0].addr = inet_addr("192.168.0.2");
  recs[1].addr = inet_addr("192.168.0.254");
  mon.getarplink(recs, 2);
  return 0;
}
