#include "common/shell.h"

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

int PosixShell::run(RunKind kind, const char *line) {
  if (kind != RunKind::VK) {
    fflush(stdout);
    return system(line);
  }
  fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) {
    puts("fork failed");
    return -1;
  }
  if (pid == 0) {
    for (int fd = 3; fd < 64; ++fd) close(fd);
    execl("/bin/sh", "sh", "-c", line, static_cast<char *>(nullptr));
    _exit(0);
  }
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return 0;
}

void stdio_line_buffered() { setvbuf(stdout, nullptr, _IOLBF, 0); }

}  // namespace rc
