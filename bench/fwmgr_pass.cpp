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
#include "fwmgr/tests/full_tables.h"

namespace {

class CountingShell : public rc::Shell {
 public:
  CountingShell() : Shell(rc::kFwShellOptions) {}
  long lines = 0;

 protected:
  int run(rc::RunKind, const char *) override {
    ++lines;
    return 0;
  }
};

// The store: the filter keys, built once before the measurement.
class TableStore : public rc::ConfigStore {
 public:
  void set(const std::string &k, const std::string &v) {
    if (n_ < kMax) {
      keys_[n_] = k;
      values_[n_] = v;
      ++n_;
    }
  }

 protected:
  void open() override {}
  void close() override {}
  bool lookup(const char *key, char *dst, size_t size) override {
    for (int i = 0; i < n_; ++i) {
      if (keys_[i] == key) {
        snprintf(dst, size, "%s", values_[i].c_str());
        return true;
      }
    }
    return false;
  }

 private:
  static constexpr int kMax = 64;
  std::string keys_[kMax], values_[kMax];
  int n_ = 0;
};

// The real local time; no waits.
class NoWaitClock : public rc::SystemClock {
 public:
  void sleepSeconds(unsigned) override {}
  void sleepMicros(unsigned) override {}
};

class AllRunning : public rc::Processes {
 public:
  int get_proc_pid(const char *) override { return 100; }
  int send_signal(int, const char *) override { return 0; }
};

int noAddress(const char *, uint32_t *, uint32_t *) { return -1; }

void fillStore(TableStore &store) {
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
  static CountingShell sh;
  static TableStore store;
  static NoWaitClock clock;
  static const rc::Paths paths("", "");
  static AllRunning procs;
  fillStore(store);
  static rc::SysvIpc ipc;  // never reached: nothing here opens IPC objects
  static rc::FwMgr mgr({sh, store, clock, paths, procs, ipc, noAddress});
  mgr.start();
  if (mgr.clientnum != 32 || mgr.urlnum != 32 || mgr.macnum != 32) {
    fprintf(stderr, "tables not full: %d %d %d\n", mgr.clientnum, mgr.urlnum, mgr.macnum);
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
