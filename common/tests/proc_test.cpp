#include "alloc_count.h"
#include "testkit_gtest.h"

namespace rc::test {
namespace {

// A fake /proc: directories named by pid, each with a stat line.
class ProcScan : public ::testing::Test {
 protected:
  void addProc(int pid, const std::string &comm) {
    dir.write("proc/" + std::to_string(pid) + "/stat",
              std::to_string(pid) + " (" + comm + ") S 1 1 1 0 -1 4194560\n");
  }
  int find(const char *name) { return get_proc_pid_self(paths, name); }
  TempDir dir;
  Paths paths{dir.path().c_str(), ""};
};

TEST_F(ProcScan, NamesAndPids) {
  addProc(3, "udhcpd");      // platform range: never found
  addProc(11, "pppd");       // idem
  addProc(12, "httpd");
  addProc(40, "udhcpc");
  addProc(41, "my (odd) d)");
  addProc(42, "averylongname12");  // the kernel keeps 15 characters
  dir.write("proc/self/stat", "1 (udhcpd) S\n");
  dir.write("proc/77/stat", "77 broken line without parens\n");
  dir.write("proc/uptime", "12.5 3.0\n");
  struct Case {
    const char *name;
    int pid;
  } cases[] = {
      {"udhcpc", 40},  {"UDHCPC", 40}, {"httpd", 12},           {"udhcpd", 0},
      {"pppd", 0},     {"my (odd) d)", 41}, {"averylongname12", 42}, {"averylongname1", 0},
      {"broken", 0},   {"", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(find(c.name), c.pid) << c.name;
}

// More entries than one directory read returns; the lookup allocates nothing
// (the daemons' watchdogs run it from their one-second loops).
TEST_F(ProcScan, ManyEntriesWithoutAllocating) {
  for (int pid = 100; pid < 400; ++pid) addProc(pid, "worker");
  addProc(400, "trafmon");
  EXPECT_EQ(find("trafmon"), 400);  // a first call may set up the C library's state
  int pid = 0, none = -1;
  long allocs = count_allocations([&] {
    pid = find("trafmon");
    none = find("httpd");
  });
  EXPECT_EQ(pid, 400);
  EXPECT_EQ(none, 0);
  if (allocs >= 0) {
    EXPECT_EQ(allocs, 0);
  }
}

TEST_F(ProcScan, MissingProcGivesZero) {
  EXPECT_EQ(find("anything"), 0);
}

TEST(ProcProcesses, FindsItselfInTheRealProc) {
  Paths real("", "");
  ProcProcesses procs(real);
  // The name as the scan itself sees it: from the stat line, not from
  // /proc/self/comm. Under qemu-user the two differ: comm names the emulator,
  // while qemu answers /proc/<own pid>/stat with the emulated program's name.
  char line[512] = {0};
  FILE *f = fopen("/proc/self/stat", "r");
  ASSERT_TRUE(f);
  ASSERT_TRUE(fgets(line, sizeof line, f));
  fclose(f);
  char *open = strchr(line, '(');
  char *close = strrchr(line, ')');
  ASSERT_TRUE(open && close && close > open);
  std::string comm(open + 1, close);
  if (getpid() < 12) GTEST_SKIP() << "pid below 12";
  EXPECT_GT(procs.get_proc_pid(comm.c_str()), 0);
  EXPECT_EQ(procs.get_proc_pid("no-such-process"), 0);
  EXPECT_EQ(procs.send_signal(0, "no-such-process"), 0);
}

}  // namespace
}  // namespace rc::test
