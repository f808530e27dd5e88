#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "alloc_count.h"
#include "common/netutil.h"
#include "testkit_gtest.h"

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

void onUsr1(int) {}

// The command starts with every signal at its default; the runner's process
// keeps its own handlers, ignored signals and mask (the child shares its
// memory until exec).
TEST_F(PosixShellTest, CommandGetsDefaultSignalsAndTheDaemonKeepsItsOwn) {
  struct sigaction usr1 {}, ign {}, got {};
  usr1.sa_handler = onUsr1;
  ign.sa_handler = SIG_IGN;
  struct sigaction oldUsr1, oldPipe, oldHup;
  sigaction(SIGUSR1, &usr1, &oldUsr1);
  sigaction(SIGPIPE, &ign, &oldPipe);
  sigaction(SIGHUP, &ign, &oldHup);
  sigset_t mask, before, after;
  sigemptyset(&mask);
  sigaddset(&mask, SIGUSR2);
  sigprocmask(SIG_BLOCK, &mask, &before);

  std::string out = dir / "sig";
  sh.vk_SystemEx("grep '^SigIgn' /proc/self/status > %s", out.c_str());
  std::string status = read_file(out);

  sigprocmask(SIG_SETMASK, &before, &after);
  sigaction(SIGUSR1, &oldUsr1, &got);
  EXPECT_EQ(got.sa_handler, onUsr1);
  sigaction(SIGPIPE, &oldPipe, &got);
  EXPECT_EQ(got.sa_handler, SIG_IGN);
  sigaction(SIGHUP, &oldHup, &got);
  EXPECT_EQ(got.sa_handler, SIG_IGN);
  EXPECT_TRUE(sigismember(&after, SIGUSR2));
  EXPECT_FALSE(sigismember(&after, SIGUSR1));
  EXPECT_EQ(status, "SigIgn:\t0000000000000000\n");
}

// Every line goes through the shell: the program sees the words the shell
// makes of the line, plain or quoted, and a leading assignment sets the
// variable for the program (run without the shell, the assignment would be
// taken for the program's name and nothing would run).
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
  dir.write("env.sh", "#!/bin/sh\necho \"$ROUTER_X\" > \"$0.out\"\n");
  chmod((dir / "env.sh").c_str(), 0755);
  sh.vk_SystemEx("ROUTER_X=set %s", (dir / "env.sh").c_str());
  EXPECT_EQ(dir.read("env.sh.out"), "set\n");
  // A program that does not exist: the runner still returns 0 at once.
  EXPECT_EQ(sh.vk_SystemEx("no-such-program-here a b"), 0);
}

TEST_F(PosixShellTest, DoSystemCmdReturnsTheStatus) {
  int st = sh.doSystemCmd("exit %d", 5);
  EXPECT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 5);
}

// Inside a batch every line keeps its own status and effects: a line that
// exits, execs, reads standard input, is cut, hangs (killed at its limit,
// with what it started), kills the batch shell or changes the shell's state
// stops or changes none of the lines after it; a line of plain words as
// well, run by the batch shell or without one. The same when the lines are
// sent ahead in a stream (their statuses are not returned).
template <class Runner>
void each_line_stands_on_its_own() {
  for (bool stream : {false, true}) {
    TempDir dir;
    // A program run by a line of plain words: stdin, and no pipe or socket
    // below 64 but its output's (the statuses' pipe).
    dir.write("p.sh",
              "read x; o=\"$(readlink /proc/$$/fd/1) $(readlink /proc/$$/fd/2)\"; ls -l /proc/$$/fd/ > \"$0.fds\"\n"
              "while read -r _ _ _ _ _ _ _ _ n _ l; do case \"$l\" in pipe:*|socket:*)\n"
              "  [ $n -lt 64 ] && [ \"${o#*\"$l\"}\" = \"$o\" ] && echo \"$n $l\" >> \"$0.log\";; esac; done < \"$0.fds\"\n"
              "echo \"$1 [$x]\" >> \"$0.log\"; exit 5\n");
    chmod((dir / "p.sh").c_str(), 0755);
    dir.write("hang.sh", "#!/bin/sh\nsleep 600 & echo $! > \"$0.pid\"; wait\n");
    chmod((dir / "hang.sh").c_str(), 0755);
    Runner sh(ShellOptions{1024, false, 2000});
    struct Case {
      const char *line;
      int status;
    } cases[] = {
        {"exit 3", 3 << 8},
        {"%s/p.sh plain", 5 << 8},
        {"read x || echo eof >> %s/p.sh.log", 0},
        {"cat; echo 'unbalanced", 2 << 8},
        {")", 2 << 8},
        {"%s/hang.sh", SIGKILL},
        {"no-such-program-here x", 127 << 8},
        {"exec echo exec >> %s/p.sh.log", 0},
        {"cd /; X=1; trap 'echo trap >> %s/p.sh.log' EXIT; exit 4", 4 << 8},
        {"[ \"$PWD\" != / ] && echo \"X=$X\" >> %s/p.sh.log", 0},
        {"kill -9 $$", SIGKILL},
        {"echo \"a'b\" 'c\"d' >> %s/p.sh.log", 0},
    };
    {
      Shell::Batch batch(sh);
      std::optional<Shell::Stream> ahead;
      if (stream) ahead.emplace(sh);
      for (const auto &c : cases) {
        if (stream)
          sh.vk_SystemEx(c.line, dir.path().c_str());
        else
          EXPECT_EQ(sh.doSystemCmd(c.line, dir.path().c_str()), c.status) << c.line;
        sh.vk_SystemEx("echo next >> %s/p.sh.log", dir.path().c_str());
      }
    }
    EXPECT_EQ(dir.read("p.sh.log"), "next\nplain []\nnext\neof\nnext\nnext\nnext\nnext\nnext\nexec\nnext\ntrap\nnext\n"
                                    "X=\nnext\nnext\na'b c\"d\nnext\n") << stream;
    std::string stat = "/proc/" + std::to_string(atoi(dir.read("hang.sh.pid").c_str())) + "/stat";
    for (int i = 0; i < 500 && read_file(stat).find(") S") != std::string::npos; ++i) usleep(10000);
    EXPECT_EQ(read_file(stat).find(") S"), std::string::npos) << stream;
  }
}

TEST(PosixShellBatch, EachLineStandsOnItsOwn) { each_line_stands_on_its_own<BatchPosixShell>(); }
TEST(PosixShellBatch, EachPlainLineStandsOnItsOwnWithoutAShell) {
  each_line_stands_on_its_own<DirectBatchPosixShell>();
}

// The output of lines sent ahead (more than one window of them, by count
// and by bytes) comes before the echo and output of a line that returns
// its status.
TEST(PosixShellBatch, StreamKeepsTheOutputInOrder) {
  for (int pad : {0, 300}) {
    BatchPosixShell sh(ShellOptions{1024, false});
    testing::internal::CaptureStdout();
    {
      Shell::Batch batch(sh);
      Shell::Stream stream(sh);
      for (int i = 0; i < 40; ++i) sh.vk_SystemEx("echo %d%*s", i, pad, "");
      EXPECT_EQ(sh.doSystemCmd("exit 7"), 7 << 8);
      sh.vk_SystemEx("echo last");
    }
    std::string want;
    for (int i = 0; i < 40; ++i) want += std::to_string(i) + "\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), want + "exit 7\nlast\n") << pad;
  }
}

// The hardening sweep's payloads: quoted, each reaches the program as one
// word, unchanged, and none runs; run as lines of their own, none stops the
// line after it.
TEST(PosixShellBatch, InjectionPayloads) {
  TempDir dir;
  std::string canary = dir / "canary", out = dir / "out", log = dir / "log";
  std::string gen = "CANARY=" + canary + " bash -c '. " ROUTER_SOURCE_DIR
                    "/tests/process/payloads.sh; for n in $(seq 0 199); do payload $n; printf \"%s\\0\" \"$P\"; done'";
  FILE *f = popen(gen.c_str(), "r");
  ASSERT_NE(f, nullptr);
  std::vector<std::string> payloads(1);
  for (int c; (c = fgetc(f)) != EOF;) c ? payloads.back() += static_cast<char>(c) : payloads.emplace_back();
  pclose(f);
  payloads.pop_back();
  ASSERT_EQ(payloads.size(), 200u);
  DirectBatchPosixShell sh(ShellOptions{1 << 17, false, 5000});  // fwmgr's runner
  std::vector<char> quoted(4 * 40000);
  {
    Shell::Batch batch(sh);
    for (const auto &p : payloads) {
      sh.vk_SystemEx("printf %%s %s > %s", shell_quote(p.c_str(), quoted.data(), quoted.size()), out.c_str());
      EXPECT_EQ(read_file(out), p);
    }
  }
  EXPECT_FALSE(dir.exists("canary"));
  int err = dup(2), null = open("/dev/null", O_WRONLY);  // the lines' error messages
  dup2(null, 2);
  for (bool stream : {false, true}) {  // and sent ahead
    Shell::Batch batch(sh);
    std::optional<Shell::Stream> ahead;
    if (stream) ahead.emplace(sh);
    for (const auto &p : payloads) {
      sh.vk_SystemEx("%s", p.c_str());
      sh.vk_SystemEx("echo >> %s", log.c_str());
    }
  }
  dup2(err, 2);
  close(err);
  close(null);
  EXPECT_EQ(read_file(log), std::string(400, '\n'));
}

// A line that starts a program in the background runs alone even inside a
// batch: the program stays in the daemon's process group, out of the batch
// shell's (killed with a line over its time limit).
TEST(PosixShellBatch, BackgroundLinesRunAlone) {
  TempDir dir;
  BatchPosixShell sh;
  std::string group = std::to_string(getpgrp()) + "\n";
  Shell::Batch batch(sh);
  sh.vk_SystemEx("cut -d' ' -f5 /proc/self/stat > %s", (dir / "batched").c_str());
  sh.vk_SystemEx("cut -d' ' -f5 /proc/self/stat > %s &", (dir / "bg").c_str());
  for (int i = 0; i < 500 && dir.read("bg").empty(); ++i) usleep(10000);
  EXPECT_NE(dir.read("batched"), group);
  EXPECT_EQ(dir.read("bg"), group);
}

// A daemon's first message (a failed mail, a refused setting) may come long
// after start-up: printing it must neither allocate nor be held back.
TEST(LineBuffered, FirstLineNeitherAllocatesNorWaits) {
  FILE *f = tmpfile();
  ASSERT_NE(f, nullptr);
  static char buf[256];
  line_buffered(f, buf, sizeof buf);
  long allocs = count_allocations([&] { fprintf(f, "logmail: mail not sent; next try in %d s\n", 4); });
  char got[64] = "";
  ssize_t n = pread(fileno(f), got, sizeof got - 1, 0);
  fclose(f);
  EXPECT_EQ(std::string(got, n > 0 ? n : 0), "logmail: mail not sent; next try in 4 s\n");
  if (allocs < 0) GTEST_SKIP() << "this build has no allocation counter (alloc_count.h)";
  EXPECT_EQ(allocs, 0);
}

// A line longer than the line buffer (stdio_line_buffered's 1024 bytes)
// comes out whole and in order, before the lines after it.
TEST(LineBuffered, LongerLineComesOutWholeAndInOrder) {
  FILE *f = tmpfile();
  ASSERT_NE(f, nullptr);
  static char buf[16];
  line_buffered(f, buf, sizeof buf);
  std::string longLine(100, 'x');
  for (size_t i = 0; i < longLine.size(); ++i) longLine[i] = static_cast<char>('a' + i % 26);
  fprintf(f, "%s\n", longLine.c_str());
  fprintf(f, "short\n");
  fprintf(f, "%s", "no newline yet");
  char got[256] = "";
  ssize_t n = pread(fileno(f), got, sizeof got - 1, 0);
  std::string out(got, n > 0 ? n : 0);
  EXPECT_EQ(out, longLine + "\nshort\n");  // the unfinished line waits in the buffer
  fclose(f);
}

}  // namespace
}  // namespace rc::test
