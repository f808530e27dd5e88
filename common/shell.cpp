#include "common/shell.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
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

constexpr int kMaxDirectArgs = 64;

// A line of plain words (letters, digits and ._@:/+=,%-~, separated by
// single or repeated spaces, at most kMaxDirectArgs of them, with no "~" at
// the start of a word or after "=" or ":") means the same to the shell as its words: such a line is run
// without a shell. Its words are written into buf (a copy of the line with
// the spaces turned into NULs) and pointed to from argv. False for anything
// else: quotes, expansions, redirections, "&", ";", globs, ...
bool split_plain(const char *line, char *buf, size_t size, char *argv[kMaxDirectArgs + 1]) {
  size_t len = strlen(line);
  if (len == 0 || len >= size) return false;
  int argc = 0;
  bool inWord = false;
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == ' ') {
      buf[i] = '\0';
      inWord = false;
      continue;
    }
    if (!isalnum(c) && !strchr("._@:/+=,%-~", c)) return false;
    if (c == '~' && (!inWord || line[i - 1] == '=' || line[i - 1] == ':')) return false;
    if (!inWord) {
      if (argc == kMaxDirectArgs) return false;
      argv[argc++] = buf + i;
      inWord = true;
    }
    buf[i] = static_cast<char>(c);
  }
  buf[len] = '\0';
  argv[argc] = nullptr;
  return argc > 0;
}

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
  // Plain lines (most firewall lines) skip the shell: one program start
  // instead of two. The words live in the child's copy of this buffer.
  static char words[32768];
  char *argv[kMaxDirectArgs + 1];
  bool direct = split_plain(line, words, sizeof words, argv);
  pid_t pid = fork();
  if (pid < 0) {
    puts("fork failed");
    return -1;
  }
  if (pid == 0) {
    for (int fd = 3; fd < 64; ++fd) close(fd);
    // Ignored signals stay ignored across exec: the command gets the defaults.
    for (int sig = 1; sig < 32; ++sig) signal(sig, SIG_DFL);
    if (direct) {
      execvp(argv[0], argv);
      _exit(127);  // as the shell does for a program it cannot find
    }
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
