// A trafmon wired to test doubles: every command line is recorded, the store
// is in memory, the clock is stepped by hand, and the system files (/proc/...,
// /tmp/free.txt) and the kernel files (/proc/vkproc/..., a sparse file as
// /dev/mem) live in a temporary directory. The segments are plain memory.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "testkit_gtest.h"
#include "trafmon/trafmon.h"

namespace rc::test {

// Kernel address of test page k (physical page k + 1 of the /dev/mem file).
constexpr uint32_t pageAddr(int k) { return 0x80000000u + 4096u * static_cast<uint32_t>(k + 1); }

inline uint32_t ip(const char *dotted) { return inet_addr(dotted); }

class TrafMonTest : public ::testing::Test {
 protected:
  TrafMonTest() {
    memset(&seg, 0, sizeof seg);
    memset(&sys, 0, sizeof sys);
    mon.attach(&seg, &sys);
    mon.setLan(ip("192.168.0.1"), ip("255.255.255.0"));
    memPath = dir / "kernel/dev/mem";
    dir.write("kernel/dev/mem", "");
    truncate(memPath.c_str(), 16 * 4096);
    dir.write("kernel/proc/vkproc/currconn", "");
    dir.write("proc/net/arp", "IP address HW type Flags HW address Mask Device\n");
    dir.write("proc/stat", "cpu  100 0 100 800 0 0 0 0 0 0\n");
    sh.on("free", [this](const std::string &) { dir.write("tmp/free.txt", freeText); });
  }

  // The account file: one "page=%d third=%d second=%d" line per page.
  void writeAccount(const std::vector<acctpage> &pages) {
    std::string text;
    for (const auto &p : pages)
      text += "page=" + std::to_string(static_cast<int32_t>(p.page)) + " third=" +
              std::to_string(p.third) + " second=" + std::to_string(p.second) + "\n";
    dir.write("kernel/proc/vkproc/account", text);
  }

  // Writes entry i of the page at kernel address page, as the kernel would.
  void setEntry(uint32_t page, int i, acctentry e) {
    int fd = open(memPath.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, &e, sizeof e, static_cast<off_t>(page - 0x80000000u) + 16 * i), 16);
    close(fd);
  }

  void writeConn(const std::vector<std::pair<uint32_t, uint32_t>> &pairs, bool endMark = true) {
    std::string b;
    for (auto &p : pairs) {
      b.append(reinterpret_cast<const char *>(&p.first), 4);
      b.append(reinterpret_cast<const char *>(&p.second), 4);
    }
    if (endMark) b.append(8, '\0');
    dir.write("kernel/proc/vkproc/currconn", b);
  }

  // start() without its command lines.
  void started() {
    mon.start();
    sh.clear();
  }

  std::string out() { return testing::internal::GetCapturedStdout(); }

  TempDir dir;
  std::string memPath;
  Paths paths{dir.path().c_str(), (dir.path() + "/kernel").c_str()};
  RecordingShell sh{ShellOptions{1024, false}};
  MemStore store;
  FakeClock clock;
  std::string freeText =
      "              total        used        free      shared  buff/cache   available\n"
      "Mem:          29000       12000       16384           0         600        9000\n";
  TrafMon mon{TrafServices{sh, store, clock, paths}};
  hosttable seg;
  sysstat sys;
};

}  // namespace rc::test
