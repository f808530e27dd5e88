// /proc/vkproc/fwlog: the attack events netmgr copies into the system-log ring.
#include "fuzzkit.h"
#include "netmgr/netmgr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace rc::fuzz;
  quiet_stdout();
  static rc::test::CountingShell sh;
  static rc::test::MemStore store;
  static rc::test::FixedClock clock(rc::fuzz::kStillTime);
  static rc::test::FakeProcesses procs;
  static rc::syslog_ring ring{};
  static rc::NetMgr mgr(rc::NetServices{sh, store, clock, scratch_paths(), procs, nullptr});
  mgr.shmptr = &ring;
  put_file("kernel/proc/vkproc/fwlog", data, size);
  mgr.read_fw_log();
  return 0;
}
