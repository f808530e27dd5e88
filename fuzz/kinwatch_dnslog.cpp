// /proc/dns_log2: the DNS query records kinwatch reads every 5 seconds and
// appends to /var/url.log.
#include <signal.h>

#include "fuzzkit.h"
#include "kinwatch/kinwatch.h"

namespace {
void noDetach() {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace rc::fuzz;
  quiet_stdout();
  static rc::test::CountingShell sh;
  static rc::test::MemStore store;
  static rc::test::FixedClock clock(rc::fuzz::kStillTime);
  static volatile sig_atomic_t run = 1;
  static rc::KinWatch *kw = [] {
    put_file("var/.keep", "", 0);
    return new rc::KinWatch(rc::KinServices{sh, store, clock, scratch_paths(), noDetach, &run});
  }();
  put_file("kernel/proc/dns_log2", data, size);
  // A fresh log each time keeps /var/url.log small over millions of runs.
  kw->createLogFile();
  kw->pass();
  return 0;
}
