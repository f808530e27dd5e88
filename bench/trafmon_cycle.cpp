// trafmon_cycle: runs trafmon's one-second cycle without the waits, for the
// callgrind measurement in passes.sh.
//
//   trafmon_cycle DIR CYCLES
//
// DIR is filled with a kernel root and system files: four accounting pages
// with all 256 hosts of each active (1024 hosts, the host table's room), 511
// connection counts, a 1024-entry ARP table, a /proc/net/dev and a
// /proc/stat, and the output of free (the shell is a stand-in that runs
// nothing: the free subprocess is measured on its own). Then start-up and
// CYCLES cycles, the first of which also reads the ARP table and the memory
// figure. It prints the heap allocations made during the cycles.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/testkit/alloc_count.h"
#include "tests/testkit/doubles.h"
#include "trafmon/trafmon.h"

using rc::test::put_file;
using rc::test::put_text;

int main(int argc, char **argv) {
  if (argc != 3) {
    fputs("usage: trafmon_cycle DIR CYCLES\n", stderr);
    return 2;
  }
  const char *dir = argv[1];
  mkdir(dir, 0755);
  int cycles = atoi(argv[2]);

  // /dev/mem: pages at physical 16 MiB up, every entry a host.
  static rc::acctentry mem[4 * rc::kAcctEntries];
  static char text[1 << 16];
  for (uint32_t i = 0; i < 4 * rc::kAcctEntries; ++i) mem[i] = {i + 1, 1000u * i, 2u * i, 3000u * i};
  put_file(dir, "kernel/dev/mem", "", 0);
  char path[512];
  snprintf(path, sizeof path, "%s/kernel/dev/mem", dir);
  if (truncate(path, 32 << 20) < 0) return 1;
  int fd = open(path, O_WRONLY);
  if (fd < 0 || pwrite(fd, mem, sizeof mem, 16 << 20) != static_cast<ssize_t>(sizeof mem)) return 1;
  close(fd);
  size_t len = 0;
  for (int k = 0; k < 4; ++k)
    len += snprintf(text + len, sizeof text - len, "page=%d third=%d second=0\n",
                    static_cast<int32_t>(0x81000000u + 4096u * k), k);
  put_text(dir, "kernel/proc/vkproc/account", text);

  static rc::connpair conn[rc::kConnFileSize / sizeof(rc::connpair)];  // the last one ends the list
  for (uint32_t i = 0; i + 1 < sizeof conn / sizeof *conn; ++i) conn[i] = {htonl(0xac100000u + 2 * i), 3};
  put_file(dir, "kernel/proc/vkproc/currconn", conn, sizeof conn);

  len = snprintf(text, sizeof text, "IP address       HW type     Flags       HW address            Mask     Device\n");
  for (int i = 0; i < 1024; ++i)
    len += snprintf(text + len, sizeof text - len,
                    "172.16.%d.%d    0x1         0x2         02:00:00:00:%02x:%02x     *        br0\n",
                    i / 256, i % 256, i / 256, i % 256);
  put_text(dir, "proc/net/arp", text);
  put_text(dir, "proc/net/dev",
          "Inter-|   Receive                                                |  Transmit\n"
          " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n"
          "    lo:    1000      10    0    0    0     0          0         0     1000      10    0    0    0     0       0          0\n"
          "  eth2: 9000000   40000    0    0    0     0          0         0  3000000   20000    0    0    0     0       0          0\n"
          "eth2.1: 9000000   40000    0    0    0     0          0         0  3000000   20000    0    0    0     0       0          0\n"
          "eth2.2: 5000000    4000    0    0    0     0          0         0   300000    2000    0    0    0     0       0          0\n"
          "   br0: 9000000   40000    0    0    0     0          0         0  3000000   20000    0    0    0     0       0          0\n");
  put_text(dir, "proc/stat", "cpu  4705 356 584 3699176 23060 0 277 0 0 0\ncpu0 4705 356 584 3699176 23060 0 277 0 0 0\n");
  put_text(dir, "tmp/free.txt",
          "              total        used        free      shared  buff/cache   available\n"
          "Mem:          28440       20168        8272           0        1940        6000\n");

  static rc::test::CountingShell sh;
  static rc::test::MemStore store{{"wan_connecttype", "2"}};
  static rc::test::FixedClock clock(0);
  snprintf(path, sizeof path, "%s/kernel", dir);
  static const rc::Paths paths(dir, path);
  static rc::ProcProcesses procs(paths);  // never reached
  static rc::SysvIpc ipc;  // never reached: nothing here opens IPC objects
  static rc::TrafMon mon({sh, store, clock, paths, procs, ipc, nullptr});
  static rc::hosttable seg;
  static rc::sysstat sys;
  mon.attach(&seg, &sys);
  mon.setLan(inet_addr("172.16.0.1"), inet_addr("255.255.0.0"));
  mon.start();
  mon.onCommand(2);

  long allocs = rc::test::count_allocations([&] {
    for (int i = 0; i < cycles; ++i) mon.onTick();
  });
  printf("hosts %d, allocations during %d cycles: %ld\n", seg.n, cycles, allocs);
  return seg.n == 1024 && allocs == 0 ? 0 : 1;
}
