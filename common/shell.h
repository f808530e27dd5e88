// Shell runner: formats a command line into a bounded buffer and runs it
// through /bin/sh.
//
//   vk_SystemEx  waits for the command (vfork + exec of /bin/sh -c LINE,
//                descriptors 3..63 closed and every signal at its default in
//                the child); 0 when it finished, -1 when no child could be
//                created ("fork failed" is printed). Every line goes
//                through the shell, plain words or not: the line means what
//                the shell makes of it (PATH, assignments, built-ins).
//   doSystemCmd  runs the line with system() and returns its result.
//   systemQuiet  formats into a 128-byte buffer and runs the line with
//                system() without printing it (fwmgr's process restart).
//
// Buffer sizes and echo differ per daemon (netmgr: 1024 bytes, echo; fwmgr:
// 32768 bytes, no echo; trafmon: 1024 bytes, no echo); doSystemCmd always
// uses 256 bytes and always echoes. A line longer than its buffer is cut and
// run as cut. Both buffers are allocated once when the runner is built.
//
// Batches: while a Shell::Batch is open (one procedure: start-up, WAN-up,
// WAN-down, a feature's load or unload), BatchPosixShell runs vk_SystemEx and
// doSystemCmd lines through one long-lived /bin/sh instead of one /bin/sh a
// line, started at the batch's first line and ended with the batch. Each
// line keeps its own meaning, status and output, in order: it runs alone in
// a subshell, handed over as one quoted word to eval (so a cut or broken
// line, exit, exec, cd or an assignment ends or changes only that
// subshell), with standard input from /dev/null and no access to the
// descriptor the status comes back on, and the runner waits for it before
// it returns. A line still running after batchLineLimitMs is killed with
// the batch shell's whole process group; the next line starts a new one.
// Lines that run alone even inside a batch: see runsAlone in shell.cpp.
// Batches nest; only the outermost one starts and ends the shell.
#pragma once
#include <cstddef>
#include <cstdio>
#include <memory>

namespace rc {

enum class RunKind { VK, D, SYS };  // vk_SystemEx, doSystemCmd or systemQuiet

struct ShellOptions {
  size_t vkBufSize = 1024;
  bool vkEcho = true;
  // A line of a batch still running after this long is killed.
  unsigned batchLineLimitMs = 30000;
};

class Shell {
 public:
  static constexpr size_t kDoSystemBufSize = 256;
  static constexpr size_t kQuietBufSize = 128;

  explicit Shell(ShellOptions opts = {});
  virtual ~Shell() = default;
  Shell(const Shell &) = delete;
  Shell &operator=(const Shell &) = delete;

  int vk_SystemEx(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  int doSystemCmd(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  int systemQuiet(const char *fmt, ...) __attribute__((format(printf, 2, 3)));

  // The scope of one procedure's lines. A runner without a batch mode (the
  // recording shell of the unit tests) runs them as it runs any line.
  class Batch {
   public:
    explicit Batch(Shell &sh) : sh_(sh) {
      if (sh_.batchDepth_++ == 0) sh_.batchBegin();
    }
    ~Batch() {
      if (--sh_.batchDepth_ == 0) sh_.batchEnd();
    }
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

   private:
    Shell &sh_;
  };

 protected:
  // Runs a finished line. The base class has already formatted and echoed it.
  virtual int run(RunKind kind, const char *line) = 0;
  // The outermost Batch opens and closes.
  virtual void batchBegin() {}
  virtual void batchEnd() {}
  bool inBatch() const { return batchDepth_ > 0; }
  const ShellOptions &options() const { return opts_; }

 private:
  int batchDepth_ = 0;
  ShellOptions opts_;
  std::unique_ptr<char[]> vkBuf_;
  char dBuf_[kDoSystemBufSize];
  char qBuf_[kQuietBufSize];
};

// The production runner: every line alone, through its own /bin/sh.
class PosixShell : public Shell {
 public:
  using Shell::Shell;

 protected:
  int run(RunKind kind, const char *line) override;
};

// The production runner with the batch mode (fwmgr, netmgr). A separate
// class, so that daemons that never open a batch do not carry its code.
class BatchPosixShell : public PosixShell {
 public:
  using PosixShell::PosixShell;
  ~BatchPosixShell() override { stopBatchShell(false); }

 protected:
  int run(RunKind kind, const char *line) override;
  void batchEnd() override { stopBatchShell(false); }

 private:
  static constexpr int kNoShell = -2;
  // Runs the line in the batch shell (started when there is none) and
  // returns its status as waitpid gives it, or kNoShell.
  int runBatched(const char *line);
  bool startBatchShell();
  bool sendLine(const char *line);
  int readStatus();
  void stopBatchShell(bool kill);

  int batchPid_ = -1;
  int batchFd_ = -1;  // our end of the socket pair: the lines out, the statuses in
  char out_[512];     // the quoted line, sent in pieces of this size
  size_t outLen_ = 0;
};

// Line-buffers standard output. Every program calls this first, so an
// announced command line is out before the command runs, a child never
// re-prints an inherited buffer and nothing is lost when a daemon is killed.
void stdio_line_buffered();
// Makes `f` line-buffered in `buf`, touched now: the first line printed, often
// a failure long after start-up, then neither allocates nor adds a page.
void line_buffered(FILE *f, char *buf, size_t size);

}  // namespace rc
