// spawn: the cost of running one command line. Times vk_SystemEx("true")
// of the production shell runner against a bare posix_spawn of
// "/bin/sh -c true" followed by waitpid, one after the other so that both
// see the same machine load; prints the median time of each and their ratio.
// Then the same for a line of a batch, vk_SystemEx("/bin/true") inside a
// Shell::Batch of fwmgr's runner (which runs it without a shell), against a
// bare posix_spawn of /bin/true (what a shell script pays for the line: one
// child, one exec); and 320 such lines in a Shell::Stream against the same
// lines run by sh from a script file.
//
//   spawn [RUNS]
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/shell.h"

extern char **environ;

namespace {

double nowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

void bareSpawn(const char *path, char **argv) {
  pid_t pid;
  if (posix_spawn(&pid, path, nullptr, nullptr, argv, environ) != 0) {
    perror("posix_spawn");
    exit(1);
  }
  int status;
  waitpid(pid, &status, 0);
}

char sh[] = "sh", c[] = "-c", t[] = "true", binTrue[] = "/bin/true";
char *shArgv[] = {sh, c, t, nullptr}, *trueArgv[] = {binTrue, nullptr};

double median(double *v, int n) {
  std::sort(v, v + n);
  return v[n / 2];
}

}  // namespace

int main(int argc, char **argv) {
  int runs = argc > 1 ? atoi(argv[1]) : 2000;
  if (runs < 1 || runs > 100000) return 2;
  rc::PosixShell shell(rc::ShellOptions{1024, false});
  static double vk[100000], bare[100000];
  for (int i = 0; i < runs; ++i) {
    double t0 = nowUs();
    bareSpawn("/bin/sh", shArgv);
    double t1 = nowUs();
    shell.vk_SystemEx("true");
    double t2 = nowUs();
    bare[i] = t1 - t0;
    vk[i] = t2 - t1;
  }
  double v = median(vk, runs), b = median(bare, runs);
  printf("vk_SystemEx(\"true\"): %.1f us; posix_spawn sh -c true: %.1f us; ratio %.3f (medians of %d)\n", v, b,
         v / b, runs);

  // fwmgr's runner: a batch's lines of plain words run without a shell.
  rc::DirectBatchPosixShell batchShell(rc::ShellOptions{1024, false});
  {
    rc::Shell::Batch batch(batchShell);
    for (int i = 0; i < runs; ++i) {
      double t0 = nowUs();
      bareSpawn("/bin/true", trueArgv);
      double t1 = nowUs();
      batchShell.vk_SystemEx("/bin/true");
      double t2 = nowUs();
      bare[i] = t1 - t0;
      vk[i] = t2 - t1;
    }
  }
  v = median(vk, runs), b = median(bare, runs);
  printf("batch vk_SystemEx(\"/bin/true\"): %.1f us; posix_spawn /bin/true: %.1f us; ratio %.3f (medians of %d)\n",
         v, b, v / b, runs);

  // Lines sent ahead: 320 lines of /bin/true in a Shell::Stream (from the
  // first line sent to the last one's status) against the same 320 lines
  // from a shell script, sh FILE.
  const int lines = 320, rounds = runs / lines > 4 ? runs / lines : 5;
  char script[] = "/tmp/spawn-bench.XXXXXX";
  int fd = mkstemp(script);
  FILE *f = fd < 0 ? nullptr : fdopen(fd, "w");
  if (!f) {
    perror("spawn: script");
    return 1;
  }
  for (int j = 0; j < lines; ++j) fputs("/bin/true\n", f);
  fclose(f);
  char *scriptArgv[] = {sh, script, nullptr};
  {
    rc::Shell::Batch batch(batchShell);
    for (int i = 0; i < rounds; ++i) {
      double t0 = nowUs();
      bareSpawn("/bin/sh", scriptArgv);
      double t1 = nowUs();
      {
        rc::Shell::Stream stream(batchShell);
        for (int j = 0; j < lines; ++j) batchShell.vk_SystemEx("/bin/true");
      }
      double t2 = nowUs();
      bare[i] = (t1 - t0) / lines;
      vk[i] = (t2 - t1) / lines;
    }
  }
  unlink(script);
  v = median(vk, rounds), b = median(bare, rounds);
  printf("stream vk_SystemEx(\"/bin/true\"): %.1f us a line; sh script of the same lines: %.1f us a line; ratio %.3f "
         "(medians of %d rounds of %d lines)\n",
         v, b, v / b, rounds, lines);
  return 0;
}
