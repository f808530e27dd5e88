#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "testkit.h"

namespace rc::test {
namespace {

TEST(Shell, DoSystemCmdCutsAt255) {
  RecordingShell sh;
  std::string longArg(300, 'x');
  sh.doSystemCmd("echo %s", longArg.c_str());
  auto lines = sh.take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "D: echo " + std::string(250, 'x'));
}

TEST(Shell, VkBufferSizeIsPerDaemon) {
  struct Case {
    size_t bufSize;
    size_t expectedLen;
  } cases[] = {{1024, 1023}, {32768, 2000}};
  for (const auto &c : cases) {
    RecordingShell sh(ShellOptions{c.bufSize, false});
    std::string arg(2000, 'y');
    sh.vk_SystemEx("%s", arg.c_str());
    auto lines = sh.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 4 + c.expectedLen) << c.bufSize;
  }
}

TEST(Shell, EchoesLinesBeforeRunning) {
  RecordingShell quiet(ShellOptions{1024, false});
  RecordingShell loud;
  testing::internal::CaptureStdout();
  loud.vk_SystemEx("ifconfig %s up", "br0");
  loud.doSystemCmd("echo %d", 7);
  quiet.vk_SystemEx("iptables -F %s", "qos");
  quiet.doSystemCmd("echo %d", 8);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ifconfig br0 up\necho 7\necho 8\n");
}

TEST(Shell, SystemQuietCutsAt127AndPrintsNothing) {
  RecordingShell sh;
  std::string longArg(200, 'z');
  testing::internal::CaptureStdout();
  sh.systemQuiet("/bin/%s &", longArg.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  auto lines = sh.take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "sys: /bin/" + std::string(122, 'z'));
}

class PosixShellTest : public ::testing::Test {
 protected:
  TempDir dir;
  PosixShell sh;
};

TEST_F(PosixShellTest, VkWaitsForTheCommandEvenWhenItFails) {
  std::string out = dir / "done";
  EXPECT_EQ(sh.vk_SystemEx("sleep 0.2; echo ok > %s; exit 3", out.c_str()), 0);
  EXPECT_EQ(read_file(out), "ok\n");
}

TEST_F(PosixShellTest, BackgroundLineReturnsBeforeTheProgramEnds) {
  std::string out = dir / "late";
  EXPECT_EQ(sh.vk_SystemEx("(sleep 1; echo late > %s) 2>/dev/null &", out.c_str()), 0);
  // The shell has returned; the background job has not written yet.
  EXPECT_FALSE(dir.exists("late"));
}

TEST_F(PosixShellTest, ChildHoldsNoDescriptorFrom3To63) {
  int fds[4];
  for (int &fd : fds) fd = open("/dev/null", O_RDONLY);
  int high = dup2(fds[0], 60);
  ASSERT_EQ(high, 60);
  std::string out = dir / "fds";
  sh.vk_SystemEx("ls /proc/self/fd > %s", out.c_str());
  std::string listed = read_file(out);
  for (int &fd : fds) close(fd);
  close(high);
  // ls holds 0, 1, 2 and its directory handle (3); descriptors above 63 are
  // outside the range the runner closes.
  std::vector<int> leaked;
  size_t pos = 0;
  while (pos < listed.size()) {
    int fd = atoi(listed.c_str() + pos);
    if (fd > 3 && fd < 64) leaked.push_back(fd);
    pos = listed.find('\n', pos);
    if (pos == std::string::npos) break;
    ++pos;
  }
  EXPECT_TRUE(leaked.empty()) << listed;
  EXPECT_NE(listed.find("\n3\n"), std::string::npos) << listed;
}

// Plain lines run without a shell; the program sees the same words the
// shell would have given it, and lines with anything else still go through
// the shell.
TEST_F(PosixShellTest, PlainLinesGiveTheSameWords) {
  dir.write("args.sh", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.out\"\n");
  chmod((dir / "args.sh").c_str(), 0755);
  struct Case {
    const char *args, *words;
  } cases[] = {
      {"-t nat -A x --to 1.2.3.4:80", "-t\nnat\n-A\nx\n--to\n1.2.3.4:80\n"},
      {"a   b", "a\nb\n"},
      {"qq~sina 100%", "qq~sina\n100%\n"},
      {"'a b' c", "a b\nc\n"},
      {"\"*\" x=~", "*\nx=~\n"},
  };
  for (const auto &c : cases) {
    sh.vk_SystemEx("%s %s", (dir / "args.sh").c_str(), c.args);
    EXPECT_EQ(dir.read("args.sh.out"), c.words) << c.args;
  }
  // A program that does not exist: the runner still returns 0 at once.
  EXPECT_EQ(sh.vk_SystemEx("no-such-program-here a b"), 0);
}

TEST_F(PosixShellTest, DoSystemCmdReturnsTheStatus) {
  int st = sh.doSystemCmd("exit %d", 5);
  EXPECT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 5);
}

}  // namespace
}  // namespace rc::test
