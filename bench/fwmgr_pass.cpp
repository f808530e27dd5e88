// fwmgr's one-second pass with full filter tables, for callgrind: 32 client,
// 32 URL and 32 MAC records, all enabled, whole day every day, so no record
// crosses a schedule boundary. The first pass applies them; the measured
// passes (bench_pass, not the watchdog's 8th) must run no command line.
//
//   fwmgr_pass_bench [PASSES]     prints "passes=N lines=M"; exit 1 when a
//                                 measured pass ran a command line
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fwmgr/fwmgr.h"
#include "tests/testkit/doubles.h"
#include "tests/testkit/filter_tables.h"

namespace {

int noAddress(const char *, uint32_t *, uint32_t *) { return -1; }

void fillStore(rc::test::MemStore &store) {
  store.set("lan_ip", "192.168.0.1");
  store.set("lan_mask", "255.255.255.0");
  store.set("wan_connecttype", "2");
  store.set("alg_service", "11111");
  rc::test::fillFilterTables(store);
}

}  // namespace

// One measured pass; callgrind collects inside this function only.
extern "C" __attribute__((noinline)) void bench_pass(rc::FwMgr *mgr) { mgr->onTick(); }

int main(int argc, char **argv) {
  int passes = argc > 1 ? atoi(argv[1]) : 7;
  static rc::test::CountingShell sh(rc::kFwShellOptions);
  static rc::test::MemStore store;
  // Monday 2025-12-08 10:22:42: every record is in force all day, every day.
  static rc::test::FixedClock clock(1765189362);
  static const rc::Paths paths("", "");
  static rc::test::FakeProcesses procs;  // the watchdog finds what it watches
  procs.add("trafmon", 100);
  procs.add("httpd", 101);
  fillStore(store);
  static rc::SysvIpc ipc;  // never reached: nothing here opens IPC objects
  static rc::FwMgr mgr({sh, store, clock, paths, procs, ipc, noAddress});
  mgr.start();
  if (mgr.client.clientnum != 32 || mgr.url.urlnum != 32 || mgr.mac.macnum != 32) {
    fprintf(stderr, "tables not full: %d %d %d\n", mgr.client.clientnum, mgr.url.urlnum, mgr.mac.macnum);
    return 1;
  }
  mgr.onTick();  // applies every record
  long before = sh.lines;
  int measured = 0;
  for (int i = 0; i < passes; ++i) {
    if ((mgr.tickcount + 1) % rc::FwMgr::kWatchdogEvery == 0) mgr.onTick();  // not measured
    bench_pass(&mgr);
    ++measured;
  }
  printf("passes=%d lines=%ld\n", measured, sh.lines - before);
  return sh.lines == before ? 0 : 1;
}
