// Shell runner: formats a command line into a bounded buffer and runs it
// through /bin/sh.
//
//   vk_SystemEx  waits for the command (vfork + exec of /bin/sh -c LINE,
//                descriptors 3..63 closed and every signal at its default in
//                the child); 0 when it finished, -1 when no child could be
//                created ("fork failed" is printed). Outside a batch
//                every line goes through the shell, plain words or not: the
//                line means what the shell makes of it (PATH, assignments,
//                built-ins).
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
// line keeps its own meaning, status and output, in order, with standard
// input from /dev/null and no access to the lines after it or to the
// descriptor the status comes back on. A line still running after
// batchLineLimitMs is killed with the batch shell's whole process group; the
// next line starts a new one. Batches nest; only the outermost one starts
// and ends the shell.
//
// Which path a line takes inside a batch:
// - A line that ends in "&" (a daemon started in the background) and every
//   systemQuiet line run alone, with sh -c or system(), after the lines sent
//   ahead: a daemon started from the batch shell would be in its process
//   group, which a line over its time limit has killed (see runs_alone in
//   shell.cpp).
// - A line of plain words (plain_line in shell.cpp: one program named by
//   letters, digits and "_./-" that is no shell keyword or built-in,
//   arguments of those and ":,=+@%") means no more than its words: in
//   DirectBatchPosixShell (fwmgr) the daemon runs the program itself,
//   without a shell, as the batch shell would run it (found in PATH,
//   standard input /dev/null, a process group of its own, the same time
//   limit), after the lines sent ahead. A script runs such a line with one
//   fork and exec, and so does the daemon now, without the shell's work on
//   the line or the round trip of its status. In BatchPosixShell (netmgr),
//   and for a line of more than 47 words or 511 bytes, it goes to the batch
//   shell like any other line.
// - Any other line (quotes, redirections, ";", "$", a built-in such as
//   exit, exec, cd, read or an assignment, a cut line with an unbalanced
//   quote) runs in a subshell of its own, handed over as one quoted word to
//   eval: whatever it does ends or changes only that subshell.
// The runner waits for each line's status before it returns, except for
// lines sent ahead in a stream.
//
// Streams: inside a Shell::Stream (lines between which the daemon looks at
// nothing the lines change, and prints only after settle()), BatchPosixShell
// sends vk_SystemEx lines ahead, without waiting for each one, and reads
// their statuses behind: the shell goes from one line to the next without
// a round trip through the daemon. At most kAheadLines lines (kAheadBytes)
// are in flight; one more waits for the older half to finish, so the shell
// always has the next line. The lines still run one after the other, each
// as above, with its own time limit; a line killed at its limit
// or one that ends the shell does not take the lines sent after it, which
// go to a new shell. settle() waits until every line sent has run; the end
// of the stream does, and so does every line that echoes, runs alone or
// returns its status, before it runs. fwmgr streams the whole of WAN-up's
// load steps and WAN-down's unload steps, and the forward and QoS loops of
// a feature's reload; a line of plain words in a stream runs at once, as
// above, and returns when it has run.
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
  // Never destroyed through a pointer to this base: no virtual destructor.
 protected:
  ~Shell() = default;

 public:
  Shell(const Shell &) = delete;
  Shell &operator=(const Shell &) = delete;

  int vk_SystemEx(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  int doSystemCmd(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  int systemQuiet(const char *fmt, ...) __attribute__((format(printf, 2, 3)));

  // Waits until every line sent ahead has run (see Stream).
  virtual void settle() {}

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

  // A series of lines that nothing between them looks at (see the top of
  // this file). Outside a batch, or in a runner without a batch mode, it
  // changes nothing.
  class Stream {
   public:
    explicit Stream(Shell &sh) : sh_(sh) { ++sh_.streamDepth_; }
    ~Stream() {
      if (--sh_.streamDepth_ == 0) sh_.settle();
    }
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

   private:
    Shell &sh_;
  };

 protected:
  // How a line of one kind runs alone through its own /bin/sh: vfork + exec
  // of sh -c for vk_SystemEx, system() for doSystemCmd and systemQuiet.
  using RunAlone = int (*)(const char *line);
  // Runs a finished line. The base class has already formatted and echoed it.
  // Each front-end passes the path of its own kind as `alone`, so a program
  // links only the paths of the kinds it calls (kinwatch no vfork/exec,
  // trafmon no system()): no virtual function refers to all of them.
  virtual int run(RunKind kind, const char *line, RunAlone alone) = 0;
  // The outermost Batch opens and closes.
  virtual void batchBegin() {}
  virtual void batchEnd() {}
  bool inBatch() const { return batchDepth_ > 0; }
  bool inStream() const { return streamDepth_ > 0; }
  const ShellOptions &options() const { return opts_; }

 private:
  int batchDepth_ = 0;
  int streamDepth_ = 0;
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
  int run(RunKind kind, const char *line, RunAlone alone) override;
};

// The production runner with the batch mode (fwmgr, netmgr). A separate
// class, so that daemons that never open a batch do not carry its code.
class BatchPosixShell : public PosixShell {
 public:
  using PosixShell::PosixShell;
  ~BatchPosixShell() { batchEnd(); }
  void settle() override;

 protected:
  int run(RunKind kind, const char *line, RunAlone alone) override;
  void batchEnd() override {
    settle();
    stopBatchShell(false);
    noShell_ = false;
  }
  // A line of plain words, run without a shell where the runner can
  // (DirectBatchPosixShell): its status, or kNoShell for the batch shell.
  virtual int runProgram(const char *) { return kNoShell; }
  // Tells that a line over its time limit is being killed.
  void sayKilled() const;

  static constexpr int kNoShell = -2;

 private:
  // Lines sent ahead in a stream, at most, and the bytes they may fill.
  static constexpr int kAheadLines = 32;
  static constexpr size_t kAheadBytes = 4096;

  // Runs the line in the batch shell (started when there is none). A line
  // sent ahead returns 0 at once; any other returns its status as waitpid
  // gives it, or kNoShell when no batch shell could be started.
  int runBatched(const char *line, bool ahead);
  bool startBatchShell();
  bool sendLine(const char *line);
  // Sends the queued lines not sent yet; false when a send failed (the
  // shell ended).
  bool sendQueued();
  // Reads the statuses of the queued lines (sending them to a new shell
  // when one ended) until `leave` are left; the status of the last one
  // taken, or kNoShell when no batch shell would take them (then every
  // queued line has run alone).
  int waitQueued(int leave = 0);
  void makeRoom(size_t n);
  // Ends the shell (killed with its process group) and takes the statuses
  // it wrote off the queue; a line it had been sent and not finished (the
  // head) takes `status`, or with status < 0 the shell's own wait status.
  // The lines after it stay queued for a new shell.
  void shellLost(int status);
  bool takeStatuses(const char *p, size_t n);
  void popHead(int status);
  void stopBatchShell(bool kill);
  void closeShellFds();

  int batchPid_ = -1;
  bool noShell_ = false;  // a batch shell failed to start: lines run alone
  int batchFd_ = -1;      // the statuses' pipe, our end
  int cmdFd_ = -1;    // the pipe the lines go out on
  int cmdIn_ = -1;    // its reading end, which the shell opens by its path
  // The lines given to the shell whose status has not come back, oldest
  // first: those sent ahead are copied into kept_ (to be sent again to a
  // new shell); a line that waits for its status is the caller's text.
  const char *queue_[kAheadLines];
  int queued_ = 0;
  int sent_ = 0;              // queue_[0 .. sent_) reached the shell
  bool callersLine_ = false;  // the queue holds the caller's line
  int lastStatus_ = 0;       // of the last line taken off the queue
  long long headSince_ = 0;  // when the head of the queue started, at the latest
  char kept_[kAheadBytes];
  size_t keptLen_ = 0;
  char in_[16];  // a status not read whole yet
  size_t inLen_ = 0;
  char out_[512];  // the quoted line, sent in pieces of this size
};

// The batch runner that runs a line of plain words itself, without a
// shell (fwmgr: its WAN-up is such lines). A separate class, so that the
// other daemons do not carry the code.
class DirectBatchPosixShell final : public BatchPosixShell {
 public:
  using BatchPosixShell::BatchPosixShell;

 protected:
  int runProgram(const char *line) override;
  void batchEnd() override {
    BatchPosixShell::batchEnd();
    sigsKnown_ = false;
  }

 private:
  bool sigsKnown_ = false;  // ignoredSigs_ holds this batch's
  unsigned ignoredSigs_ = 0;
  int nullFd_ = -1;  // /dev/null, the programs' standard input
};

// Line-buffers standard output. Every program calls this first, so an
// announced command line is out before the command runs, a child never
// re-prints an inherited buffer and nothing is lost when a daemon is killed.
void stdio_line_buffered();
// Makes `f` line-buffered in `buf`, touched now: the first line printed, often
// a failure long after start-up, then neither allocates nor adds a page.
void line_buffered(FILE *f, char *buf, size_t size);

}  // namespace rc
