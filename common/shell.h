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
#pragma once
#include <cstddef>
#include <cstdio>
#include <memory>

namespace rc {

enum class RunKind { VK, D, SYS };  // vk_SystemEx, doSystemCmd or systemQuiet

struct ShellOptions {
  size_t vkBufSize = 1024;
  bool vkEcho = true;
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

 protected:
  // Runs a finished line. The base class has already formatted and echoed it.
  virtual int run(RunKind kind, const char *line) = 0;

 private:
  ShellOptions opts_;
  std::unique_ptr<char[]> vkBuf_;
  char dBuf_[kDoSystemBufSize];
  char qBuf_[kQuietBufSize];
};

// The production runner.
class PosixShell : public Shell {
 public:
  using Shell::Shell;

 protected:
  int run(RunKind kind, const char *line) override;
};

// Line-buffers standard output. Every program calls this first, so an
// announced command line is out before the command runs, a child never
// re-prints an inherited buffer and nothing is lost when a daemon is killed.
void stdio_line_buffered();
// Makes `f` line-buffered in `buf`, touched now: the first line printed, often
// a failure long after start-up, then neither allocates nor adds a page.
void line_buffered(FILE *f, char *buf, size_t size);

}  // namespace rc
