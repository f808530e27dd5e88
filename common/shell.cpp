#include "common/shell.h"

#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rc {

Shell::Shell(ShellOptions opts) : opts_(opts), vkBuf_(new char[opts.vkBufSize]) {
  memset(dBuf_, 0, sizeof dBuf_);
  memset(qBuf_, 0, sizeof qBuf_);
}

namespace {

// Formats into buf[size], cut to fit; the rest of the buffer is zeroed.
void format_line(char *buf, size_t size, const char *fmt, va_list ap) {
  memset(buf, 0, size);
  vsnprintf(buf, size, fmt, ap);
}
}  // namespace

int Shell::vk_SystemEx(const char *fmt, ...) {
  char *buf = vkBuf_.get();
  va_list ap;
  va_start(ap, fmt);
  format_line(buf, opts_.vkBufSize, fmt, ap);
  va_end(ap);
  if (opts_.vkEcho) printf("%s\n", buf);
  return run(RunKind::VK, buf);
}

int Shell::doSystemCmd(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  format_line(dBuf_, sizeof dBuf_, fmt, ap);
  va_end(ap);
  printf("%s\n", dBuf_);
  return run(RunKind::D, dBuf_);
}

int Shell::systemQuiet(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  format_line(qBuf_, sizeof qBuf_, fmt, ap);
  va_end(ap);
  return run(RunKind::SYS, qBuf_);
}

namespace {

// Closes descriptors 3 to 63: one system call where the kernel has
// close_range, one a descriptor where it has not.
void close_3_to_63() {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3, 63, 0) == 0) return;
#endif
  for (int fd = 3; fd < 64; ++fd) close(fd);
}

}  // namespace

int PosixShell::run(RunKind kind, const char *line) {
  fflush(stdout);
  if (kind != RunKind::VK) return system(line);
  static char sh[] = "sh", dashC[] = "-c";
  char *argv[] = {sh, dashC, const_cast<char *>(line), nullptr};
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  // vfork: the child runs in this process's memory until it execs, so no
  // page tables are copied (fork's cost grows with the daemon). Every signal
  // is blocked meanwhile: no handler of ours may run in the child. The child
  // only makes system calls: it sets every signal to the default (ignored
  // ones would stay ignored across exec), restores the mask and execs.
  sigset_t all, old;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &old);
  pid_t pid = vfork();
  if (pid == 0) {
    close_3_to_63();
    for (int sig = 1; sig < 32; ++sig) sigaction(sig, &dfl, nullptr);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    execve("/bin/sh", argv, environ);
    _exit(0);
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (pid < 0) {
    puts("fork failed");
    return -1;
  }
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return 0;
}

void line_buffered(FILE *f, char *buf, size_t size) {
  memset(buf, 0, size);
  setvbuf(f, buf, _IOLBF, size);
}

void stdio_line_buffered() {
  // stdio would allocate the buffer at the first output.
  static char out[4096];
  line_buffered(stdout, out, sizeof out);
}

}  // namespace rc
