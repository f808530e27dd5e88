// passes: runs one daemon's steady pass without the waits, for the callgrind
// counts in bench/passes.sh.
//
//   passes netmgr|logmail|kinwatch DIR PASSES
//
// DIR gets the files the pass reads. netmgr: a DHCP WAN (no schedule), an
// empty firewall log. logmail: mail enabled, one record a mail, no record
// waiting. kinwatch: a DNS log with 20 records (one read's worth). The shell
// runs nothing; a pass that issues a command line is reported, since an
// idle pass must not. Prints the heap allocations made during the passes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/benchkit.h"
#include "kinwatch/kinwatch.h"
#include "logmail/logmail.h"
#include "netmgr/netmgr.h"

using bench::put;
using bench::putText;

namespace {

int g_lines = 0;

struct CountingShell : rc::Shell {
  CountingShell() : rc::Shell(rc::ShellOptions{1024, false}) {}
  int run(rc::RunKind, const char *) override {
    ++g_lines;
    return 0;
  }
};

struct FixedClock : rc::Clock {
  time_t now() override { return 1700000000; }
  void localNow(struct tm *out) override {
    time_t t = now();
    gmtime_r(&t, out);
  }
  void sleepSeconds(unsigned) override {}
  void sleepMicros(unsigned) override {}
  long monotonicMs() override { return 0; }
};

struct Store : rc::ConfigStore {
  const char *const *pairs;  // key, value, ..., nullptr
  explicit Store(const char *const *p) : pairs(p) {}
  void open() override {}
  void close() override {}
  bool lookup(const char *key, char *dst, size_t size) override {
    for (const char *const *p = pairs; *p; p += 2) {
      if (strcmp(*p, key) != 0 || strlen(p[1]) >= size) continue;
      strcpy(dst, p[1]);
      return true;
    }
    return false;
  }
};

struct NoProcesses : rc::Processes {
  int get_proc_pid(const char *) override { return 0; }
  int send_signal(int, const char *) override { return 0; }
};

void noDetach() {}


// Runs the passes; the allocations after the first (which may set up the C
// library's own state).
template <typename F>
long counted(int passes, F pass) {
  if (passes > 0) pass();
  long before = bench::allocations();
  for (int i = 1; i < passes; ++i) pass();
  return bench::allocations() - before;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    fputs("usage: passes netmgr|logmail|kinwatch DIR PASSES\n", stderr);
    return 2;
  }
  const char *what = argv[1], *dir = argv[2];
  int passes = atoi(argv[3]);
  mkdir(dir, 0755);
  char kernel[512];
  snprintf(kernel, sizeof kernel, "%s/kernel", dir);
  static const rc::Paths paths(dir, kernel);
  static CountingShell sh;
  static FixedClock clock;
  static NoProcesses procs;
  static rc::SysvIpc ipc;  // never reached: nothing here opens IPC objects
  long allocs = -1;

  if (strcmp(what, "netmgr") == 0) {
    putText(dir, "kernel/proc/vkproc/fwlog", "");
    putText(dir, "kernel/proc/vkproc/netcheck", "100\n");
    putText(dir, "proc/uptime", "130.00 1.00\n");
    static const char *const kv[] = {"wan_connecttype", "2", nullptr};
    static Store store(kv);
    static rc::NetMgr mgr{rc::Services{sh, store, clock, paths, procs, ipc, nullptr}, nullptr};
    static rc::syslog_ring ring{};
    mgr.shmptr = &ring;
    mgr.wanconntype = 2;
    allocs = counted(passes, [] { mgr.onTick(); });
  } else if (strcmp(what, "logmail") == 0) {
    static const char *const kv[] = {"email_en", "1", "email_num", "1", "email_numen", "1",
                                     "email_from", "router@isp.sim", "email_to", "admin@isp.sim",
                                     "email_server", "10.250.0.1", nullptr};
    static Store store(kv);
    static rc::SmtpSocket net;
    static rc::LogMail mail{rc::Services{sh, store, clock, paths, procs, ipc, nullptr}, net};
    static rc::syslog_ring ring{};
    mail.logshmptr = &ring;
    mail.onCommand(1);
    allocs = counted(passes, [] { mail.onTick(); });
  } else if (strcmp(what, "kinwatch") == 0) {
    static unsigned char records[20 * rc::KinWatch::kRecordSize];
    for (int i = 0; i < 20; ++i) {
      unsigned char *r = records + i * rc::KinWatch::kRecordSize;
      uint32_t ip = htonl(0xc0a80064u + i % 4);
      memcpy(r, &ip, 4);
      snprintf(reinterpret_cast<char *>(r + 4), rc::KinWatch::kNameSize, "www.site%d.example.com", i);
    }
    put(dir, "kernel/proc/dns_log2", records, sizeof records);
    putText(dir, "var/.keep", "");
    static const char *const kv[] = {"kinwatch_en", "1", nullptr};
    static Store store(kv);
    static volatile sig_atomic_t run = 1;
    static rc::KinWatch kw{rc::Services{sh, store, clock, paths, procs, ipc, nullptr}, noDetach, &run};
    if (kw.createLogFile() != 0) return 1;
    allocs = counted(passes, [] { kw.pass(); });
  } else {
    fprintf(stderr, "passes: unknown program %s\n", what);
    return 2;
  }
  printf("%s: %d passes, %ld allocations, %d command lines\n", what, passes, allocs, g_lines);
  return allocs == 0 && g_lines == 0 ? 0 : 1;
}
