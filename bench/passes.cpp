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

#include "kinwatch/kinwatch.h"
#include "logmail/logmail.h"
#include "netmgr/netmgr.h"
#include "tests/testkit/alloc_count.h"
#include "tests/testkit/doubles.h"

using rc::test::put_file;
using rc::test::put_text;

namespace {

int noAuth(const char *, const char *) { return 0; }
void noDetach() {}


// Runs the passes; the allocations after the first (which may set up the C
// library's own state).
template <typename F>
long counted(int passes, F pass) {
  if (passes > 0) pass();
  return rc::test::count_allocations([&] {
    for (int i = 1; i < passes; ++i) pass();
  });
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
  static rc::test::CountingShell sh;
  static rc::test::FixedClock clock(1700000000);
  long allocs = -1;

  if (strcmp(what, "netmgr") == 0) {
    put_text(dir, "kernel/proc/vkproc/fwlog", "");
    put_text(dir, "kernel/proc/vkproc/netcheck", "100\n");
    put_text(dir, "proc/uptime", "130.00 1.00\n");
    static rc::test::MemStore store{{"wan_connecttype", "2"}};
    static rc::test::FakeProcesses procs;
    static rc::NetMgr mgr{rc::NetServices{sh, store, clock, paths, procs, noAuth}};
    static rc::syslog_ring ring{};
    mgr.shmptr = &ring;
    mgr.wanconntype = 2;
    allocs = counted(passes, [] { mgr.onTick(); });
  } else if (strcmp(what, "logmail") == 0) {
    static rc::test::MemStore store{{"email_en", "1"},           {"email_num", "1"},
                                    {"email_numen", "1"},        {"email_from", "router@isp.sim"},
                                    {"email_to", "admin@isp.sim"}, {"email_server", "10.250.0.1"}};
    static rc::SmtpSocket net;
    static rc::LogMail mail{rc::MailServices{store, clock, net, 60}};
    static rc::syslog_ring ring{};
    mail.logshmptr = &ring;
    mail.onCommand(1);
    allocs = counted(passes, [] { mail.onTick(); });
  } else if (strcmp(what, "kinwatch") == 0) {
    static rc::dnslog_record records[rc::kDnsLogPerRead];
    for (int i = 0; i < rc::kDnsLogPerRead; ++i) {
      records[i].addr = htonl(0xc0a80064u + i % 4);
      snprintf(records[i].name, sizeof records[i].name, "www.site%d.example.com", i);
    }
    put_file(dir, "kernel/proc/dns_log2", records, sizeof records);
    put_text(dir, "var/.keep", "");
    static rc::test::MemStore store{{"kinwatch_en", "1"}};
    static volatile sig_atomic_t run = 1;
    static rc::KinWatch kw{rc::KinServices{sh, store, clock, paths, noDetach, &run}};
    if (kw.createLogFile() != 0) return 1;
    allocs = counted(passes, [] { kw.pass(); });
  } else {
    fprintf(stderr, "passes: unknown program %s\n", what);
    return 2;
  }
  printf("%s: %d passes, %ld allocations, %ld command lines\n", what, passes, allocs, sh.lines);
  return allocs == 0 && sh.lines == 0 ? 0 : 1;
}
