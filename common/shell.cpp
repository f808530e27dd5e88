#include "common/shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace rc {

Shell::Shell(ShellOptions opts) : opts_(opts), vkBuf_(new char[opts.vkBufSize]) {
  memset(dBuf_, 0, sizeof dBuf_);
  memset(qBuf_, 0, sizeof qBuf_);
}

namespace {

int run_sh_c(const char *line);

// Formats into buf[size], cut to fit. Only the line is written: zeroing
// the rest of fwmgr's 32768 bytes cost more than the formatting.
void format_line(char *buf, size_t size, const char *fmt, va_list ap) {
  if (vsnprintf(buf, size, fmt, ap) < 0) buf[0] = '\0';
}
}  // namespace

int Shell::vk_SystemEx(const char *fmt, ...) {
  char *buf = vkBuf_.get();
  va_list ap;
  va_start(ap, fmt);
  format_line(buf, opts_.vkBufSize, fmt, ap);
  va_end(ap);
  if (opts_.vkEcho) {
    settle();  // the lines sent ahead print first
    printf("%s\n", buf);
  }
  return run(RunKind::VK, buf, run_sh_c);
}

int Shell::doSystemCmd(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  format_line(dBuf_, sizeof dBuf_, fmt, ap);
  va_end(ap);
  settle();
  printf("%s\n", dBuf_);
  return run(RunKind::D, dBuf_, system);
}

int Shell::systemQuiet(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  format_line(qBuf_, sizeof qBuf_, fmt, ap);
  va_end(ap);
  return run(RunKind::SYS, qBuf_, system);
}

namespace {

// Closes descriptors `from` to 63: one system call where the kernel has
// close_range, one a descriptor where it has not.
void close_to_63(int from) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, from, 63, 0) == 0) return;
#endif
  for (int fd = from; fd < 64; ++fd) close(fd);
}

// The exec of a child of start_sh; neither returns. A program that cannot
// be run ends with 127 (not found) or 126, as it would under the shell.
using ExecFn = void (*)(char *const argv[]);
void exec_sh(char *const argv[]) {
  execve("/bin/sh", argv, environ);
  _exit(127);
}
void exec_program(char *const argv[]) {
  execvp(argv[0], argv);
  const bool none = errno == ENOENT;
  write(2, argv[0], strlen(argv[0]));
  write(2, none ? ": not found\n" : ": cannot run\n", none ? 12 : 13);
  _exit(none ? 127 : 126);
}

// vfork + `exec` (/bin/sh with argv, or the program argv[0] names). The
// child runs in this process's memory until it execs, so no page tables are
// copied (fork's cost grows with the daemon). Every signal is blocked
// meanwhile: no handler of ours may run in the child. The child only makes
// system calls: with io (a batch shell's or a program's standard input, and
// its standard output) it becomes a process group of its own, gets io[0] as
// descriptor 0, the daemon's standard output as descriptor 3 and io[1] as
// its standard output; it closes the other descriptors up to 63, sets the
// signals in `reset` to the default (exec resets those we catch, but ignored
// ones would stay ignored), restores the mask and execs.
pid_t start_sh(char *const argv[], const int *io, unsigned reset = ~0u, ExecFn exec = exec_sh) {
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigset_t all, old;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &old);
  pid_t pid = vfork();
  if (pid == 0) {
    if (io) {
      setpgid(0, 0);
      // Out of the way first: io's descriptors may be 0, 1 or 3.
      dup2(io[0], 62);
      dup2(io[1], 63);
      if (dup2(1, 3) < 0) close(3);
      dup2(62, 0);
      dup2(63, 1);
    }
    close_to_63(io ? 4 : 3);
    for (int sig = 1; sig < 32; ++sig)
      if (reset >> sig & 1) sigaction(sig, &dfl, nullptr);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    exec(argv);
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
  return pid;
}

int wait_child(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// 64 bits: a 32-bit long of milliseconds since boot overflows after 24 days.
long long now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Lines that run alone, with sh -c (or system), even inside a batch: a line
// that ends in "&" starts a program in the background, a daemon (upnp,
// inadyn, udhcpd, udhcpc, pppd, xl2tpd): started from the batch shell it
// would belong to the batch's process group, which a line over its time
// limit has killed, and it would outlive the shell it came from.
// systemQuiet (the restart of kinwatch and other programs) always runs
// alone, and the watchdog's restarts run outside any batch.
bool runs_alone(const char *line) {
  size_t n = strlen(line);
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t' || line[n - 1] == '\n')) --n;
  return n > 0 && line[n - 1] == '&';
}

// vk_SystemEx's line alone: sh -c LINE, waited for; 0, or -1 when no child
// could be created.
int run_sh_c(const char *line) {
  static char sh[] = "sh", dashC[] = "-c";
  char *argv[] = {sh, dashC, const_cast<char *>(line), nullptr};
  pid_t pid = start_sh(argv, nullptr);
  if (pid < 0) {
    puts("fork failed");
    return -1;
  }
  wait_child(pid);
  return 0;
}

}  // namespace

int PosixShell::run(RunKind, const char *line, RunAlone alone) {
  fflush(stdout);
  return alone(line);
}

// ---------------------------------------------------------------- batches

// The batch shell reads its lines from a pipe, by a path into this
// process's descriptors ("sh -c '. /proc/PID/fd/N'"): the shell opens it
// itself, on a descriptor above 9 that closes at exec, so no line can read
// the lines after it. Its standard input is /dev/null from the start and its
// standard output the pipe the statuses come back on; each line writes its
// own output to descriptor 3, the daemon's standard output (see sendLine).
// The daemon keeps the pipe's reading end until the batch ends: the path
// stays valid, and a write to a shell that has ended never raises SIGPIPE.
bool BatchPosixShell::startBatchShell() {
  int sv[2], cmd[2];
  // The statuses' pipe: neither end blocks (the shell's never holds more
  // than a window of statuses, far below what a pipe takes).
  if (noShell_ || pipe2(sv, O_CLOEXEC | O_NONBLOCK) < 0) return false;
  int io[2] = {open("/dev/null", O_RDONLY | O_CLOEXEC), sv[1]};
  pid_t pid = -1;
  if (io[0] >= 0 && pipe2(cmd, O_CLOEXEC | O_NONBLOCK) == 0) {
    char dot[40];
    snprintf(dot, sizeof dot, ". /proc/%d/fd/%d", static_cast<int>(getpid()), cmd[0]);
    static char sh[] = "sh", dashC[] = "-c";
    char *argv[] = {sh, dashC, dot, sh, nullptr};
    pid = start_sh(argv, io);
    if (pid < 0) {
      close(cmd[0]);
      close(cmd[1]);
    }
  }
  close(io[0]);
  close(sv[1]);
  if (pid < 0) {
    close(sv[0]);
    return false;
  }
  setpgid(pid, pid);  // as the child does: whichever runs first
  batchPid_ = pid;
  batchFd_ = sv[0];
  cmdFd_ = cmd[1];
  cmdIn_ = cmd[0];
  inLen_ = 0;
  headSince_ = now_ms();
  return true;
}

void BatchPosixShell::closeShellFds() {
  close(batchFd_);
  close(cmdFd_);
  close(cmdIn_);
  batchFd_ = cmdFd_ = cmdIn_ = -1;
}

void BatchPosixShell::stopBatchShell(bool kill) {
  if (batchPid_ < 0) return;
  if (kill) ::kill(-batchPid_, SIGKILL);
  closeShellFds();  // the shell reads the end of its input and exits
  wait_child(batchPid_);
  batchPid_ = -1;
}

namespace {

// Writes to the shell's pipe; a shell that reads nothing for a whole line
// limit (it hangs, or it has ended) fails the write.
bool send_all(int fd, const char *p, size_t n, int limitMs) {
  while (n > 0) {
    ssize_t k = write(fd, p, n);
    if (k < 0 && errno == EAGAIN) {
      struct pollfd q = {fd, POLLOUT, 0};
      if (poll(&q, 1, limitMs) != 0) continue;
    }
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

// True for a line of plain words: one command of letters, digits and
// "_./-" that is no shell keyword or built-in, then arguments of those and
// ":,=+@%". Such a line means the same whether the shell reads it alone or
// as a line of a script: it runs one program in a child of the shell, which
// changes nothing in the shell, and it cannot run into the next line.
bool plain_line(const char *line) {
  // Keywords and the built-ins of dash and busybox ash, each followed by a space.
  static const char kShellWords[] =
      ". if then else elif fi case esac for while until do done in function select time alias "
      "unalias bg fg break continue cd chdir command echo eval exec exit export false fc getopts "
      "hash help history jobs kill let local printf pwd read readonly return set shift source "
      "test times trap true type ulimit umask unset wait ";
  const char *p = line;
  while (*p && *p != ' ' && (isalnum(static_cast<unsigned char>(*p)) || strchr("_./-", *p))) ++p;
  size_t n = static_cast<size_t>(p - line);
  if (n == 0 || (*p && *p != ' ')) return false;
  for (const char *w = kShellWords; *w;) {
    const char *end = strchr(w, ' ');
    if (static_cast<size_t>(end - w) == n && memcmp(w, line, n) == 0) return false;
    w = end + 1;
  }
  for (; *p; ++p)
    if (*p != ' ' && !isalnum(static_cast<unsigned char>(*p)) && !strchr("_./-:,=+@%", *p)) return false;
  return true;
}

}  // namespace

void BatchPosixShell::sayKilled() const {
  printf("shell: line still running after %u ms, killed\n", options().batchLineLimitMs);
  fflush(stdout);
}

int BatchPosixShell::run(RunKind kind, const char *line, RunAlone alone) {
  if (inBatch() && kind != RunKind::SYS && !runs_alone(line)) {
    fflush(stdout);
    int status = runProgram(line);
    if (status == kNoShell) status = runBatched(line, kind == RunKind::VK && inStream());
    if (status != kNoShell) return kind == RunKind::VK ? 0 : status;
    // No batch shell could be started: the line runs alone.
  }
  settle();  // a line that runs alone runs after the lines sent ahead
  return PosixShell::run(kind, line, alone);
}

// A line of plain words needs no shell: its words are the program's
// arguments, and the daemon runs the program itself, as the batch shell
// would (found in PATH, standard input /dev/null, a process group of its
// own, every signal at its default), and waits for it with the same time
// limit. That saves the shell's work on the line and the round trip of its
// status; a script pays neither. kNoShell for a line of more words or bytes
// than it takes, or when no child could be created: the batch shell runs it.
int DirectBatchPosixShell::runProgram(const char *line) {
  if (!plain_line(line)) return kNoShell;
  settle();  // after the lines sent ahead
  char words[512];
  char *argv[48];
  size_t n = strlen(line), argc = 0;
  if (n >= sizeof words) return kNoShell;
  memcpy(words, line, n + 1);
  char *p = words;
  while (*p && argc < 47) {
    argv[argc++] = p;
    while (*p && *p != ' ') ++p;
    while (*p == ' ') *p++ = '\0';
  }
  if (*p) return kNoShell;
  argv[argc] = nullptr;
  if (!sigsKnown_) {
    // Which signals this daemon ignores, once a batch: only they outlive exec.
    ignoredSigs_ = 0;
    for (int sig = 1; sig < 32; ++sig) {
      struct sigaction sa;
      if (sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN) ignoredSigs_ |= 1u << sig;
    }
    sigsKnown_ = true;
  }
  if (nullFd_ < 0) nullFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int io[2] = {nullFd_, 1};
  pid_t pid = nullFd_ < 0 ? -1 : start_sh(argv, io, ignoredSigs_, exec_program);
  if (pid < 0) return kNoShell;
  setpgid(pid, pid);  // as the child does: whichever runs first
  // The child's end wakes poll on a pidfd; without pidfds (kernels before
  // 5.3) the child is looked at every 10 ms.
  int pfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0)), status = 0;
  const long long end = now_ms() + options().batchLineLimitMs;
  for (;;) {
    long long left = end - now_ms();
    if (left <= 0) {
      sayKilled();
      ::kill(-pid, SIGKILL);
      status = wait_child(pid);
      break;
    }
    struct pollfd q = {pfd, POLLIN, 0};
    if (pfd < 0) {
      if (waitpid(pid, &status, WNOHANG) == pid) break;
      left = 10;
    }
    if (poll(&q, 1, static_cast<int>(left)) > 0) {
      status = wait_child(pid);
      break;
    }
  }
  if (pfd >= 0) close(pfd);
  return status;
}

// Sends
//   ( eval 'LINE' ) >&3; echo $?
// with every ' of the line written '\'': the batch shell always reads one
// whole command, whatever the line holds; the line's output goes to the
// daemon's (descriptor 3), and the status to the statuses' pipe (the shell's
// standard output), which the line never holds. Descriptor 3 is only a
// second handle on the daemon's standard output. (A line of plain words
// comes here only when it is too long to run without a shell.)
bool BatchPosixShell::sendLine(const char *line) {
  static const char head[] = "( eval '", tail[] = "' ) >&3; echo $?\n";
  bool ok = true;
  const int limit = static_cast<int>(options().batchLineLimitMs);
  size_t len = 0;
  auto put = [&](const char *p, size_t n) {
    while (ok && n > 0) {
      if (len == sizeof out_) {
        ok = send_all(cmdFd_, out_, len, limit);
        len = 0;
      }
      size_t k = n < sizeof out_ - len ? n : sizeof out_ - len;
      memcpy(out_ + len, p, k);
      len += k;
      p += k;
      n -= k;
    }
  };
  put(head, sizeof head - 1);
  for (const char *p = line; *p;) {
    const char *q = strchr(p, '\'');
    size_t n = q ? static_cast<size_t>(q - p) : strlen(p);
    put(p, n);
    if (!q) break;
    put("'\\''", 4);
    p = q + 1;
  }
  put(tail, sizeof tail - 1);
  return ok && send_all(cmdFd_, out_, len, limit);
}

bool BatchPosixShell::sendQueued() {
  for (; sent_ < queued_; ++sent_)
    if (!sendLine(queue_[sent_])) return false;
  return true;
}

void BatchPosixShell::popHead(int status) {
  lastStatus_ = status;
  --queued_;
  if (sent_ > 0) --sent_;
  memmove(queue_, queue_ + 1, static_cast<size_t>(queued_) * sizeof *queue_);
  headSince_ = now_ms();
  if (queued_ == 0) {
    keptLen_ = 0;
    callersLine_ = false;
  }
}

// Takes "STATUS\n" records off the statuses' pipe; each belongs to the line
// at the head of the queue (exit status 3 becomes waitpid's 3 << 8). False
// for bytes that are no status of a line sent.
bool BatchPosixShell::takeStatuses(const char *p, size_t n) {
  for (; n > 0; ++p, --n) {
    if (*p != '\n') {
      if (inLen_ == sizeof in_ - 1) return false;
      in_[inLen_++] = *p;
      continue;
    }
    in_[inLen_] = '\0';
    inLen_ = 0;
    if (sent_ == 0) return false;
    popHead((atoi(in_) & 0xff) << 8);
  }
  return true;
}

void BatchPosixShell::shellLost(int status) {
  if (batchPid_ < 0) return;
  ::kill(-batchPid_, SIGKILL);
  int ended = wait_child(batchPid_);
  // Statuses the shell wrote before it ended belong to lines that ran.
  char buf[64];
  ssize_t k;
  while ((k = read(batchFd_, buf, sizeof buf)) > 0 && takeStatuses(buf, static_cast<size_t>(k))) {
  }
  closeShellFds();
  batchPid_ = -1;
  // A shell that exited by itself could not open its lines (a line can end
  // it only by a signal): the head has not run, and no batch shell will run
  // the rest of the batch.
  if (status < 0 && WIFEXITED(ended))
    noShell_ = true;
  else if (sent_ > 0)
    popHead(status >= 0 ? status : ended);
  sent_ = 0;
  headSince_ = now_ms();
}

int BatchPosixShell::waitQueued(int leave) {
  bool retried = false;
  while (queued_ > leave) {
    if (sent_ < queued_) {
      // Lines for a new shell: one more shell when the last one took none.
      if (retried || (batchPid_ < 0 && !startBatchShell())) break;
      int before = queued_;
      if (!sendQueued()) {
        shellLost(-1);
        retried = queued_ == before;
        continue;
      }
    }
    const long long wait = headSince_ + options().batchLineLimitMs - now_ms();
    if (wait <= 0) {
      sayKilled();
      shellLost(SIGKILL);
      continue;
    }
    struct pollfd p = {batchFd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait)) == 0) continue;  // the limit, above
    char buf[64];
    ssize_t k;
    while ((k = read(batchFd_, buf, sizeof buf)) > 0)
      if (!takeStatuses(buf, static_cast<size_t>(k))) break;
    if (k >= 0 || (errno != EAGAIN && errno != EINTR)) shellLost(-1);  // the shell ended
  }
  if (queued_ <= leave) return lastStatus_;
  // No batch shell: the lines sent ahead run alone, in order; a line that
  // waits for its status (alone in the queue) is left to the caller.
  stopBatchShell(true);
  sent_ = 0;
  if (callersLine_) queued_ = 0;
  while (queued_ > 0) {
    PosixShell::run(RunKind::VK, queue_[0], run_sh_c);
    popHead(0);
  }
  callersLine_ = false;
  keptLen_ = 0;
  return kNoShell;
}

void BatchPosixShell::settle() {
  if (queued_ > 0) waitQueued();
}

// Waits until the queue has room for one more line sent ahead of n bytes:
// for the older half of the lines to finish, so the shell still has lines to
// run while the daemon sends the next, and the daemon wakes once for many. The lines left move to the front of
// kept_ (all of them are lines sent ahead: a caller's line never stays).
void BatchPosixShell::makeRoom(size_t n) {
  auto used = [this] { return queued_ > 0 ? keptLen_ - static_cast<size_t>(queue_[0] - kept_) : 0; };
  while (queued_ > 0 && (queued_ == kAheadLines || used() + n > sizeof kept_)) waitQueued(queued_ / 2);
  if (queued_ == 0 || queue_[0] == kept_) return;
  const size_t off = static_cast<size_t>(queue_[0] - kept_);
  memmove(kept_, kept_ + off, keptLen_ - off);
  keptLen_ -= off;
  for (int i = 0; i < queued_; ++i) queue_[i] -= off;
}

int BatchPosixShell::runBatched(const char *line, bool ahead) {
  size_t n = strlen(line) + 1;
  if (n > sizeof kept_) ahead = false;
  // A line that waits for its status runs after the lines sent ahead.
  if (!ahead)
    settle();
  else if (queued_ == kAheadLines || keptLen_ + n > sizeof kept_)
    makeRoom(n);
  if (batchPid_ < 0 && !startBatchShell()) return kNoShell;
  if (ahead) {
    memcpy(kept_ + keptLen_, line, n);
    line = kept_ + keptLen_;
    keptLen_ += n;
  }
  callersLine_ = !ahead;
  queue_[queued_++] = line;
  if (queued_ == 1) headSince_ = now_ms();
  if (!sendQueued()) shellLost(-1);  // the shell ended between two lines
  if (ahead) {
    if (sent_ < queued_) settle();
    return 0;
  }
  return waitQueued();
}

void line_buffered(FILE *f, char *buf, size_t size) {
  memset(buf, 0, size);
  setvbuf(f, buf, _IOLBF, size);
}

void stdio_line_buffered() {
  // stdio would allocate the buffer at the first output. 1024 bytes (bss,
  // no longer 4096): the longest line a daemon prints is netmgr's echo of a
  // vk_SystemEx line (its 1024-byte buffer: 1023 characters and the
  // newline); the other echoes are doSystemCmd's 256 bytes, and messages
  // cut their values to 260 (shown). So each line still leaves in one
  // write. A longer line (routerstat's JSON) still comes out whole and in
  // order: when the line fills the buffer, stdio writes the buffer out and
  // goes on with the rest of the line, the newline flushing the last part
  // (LineBuffered.LongerLineComesOutWholeAndInOrder). It only leaves in
  // more than one write.
  static char out[1024];
  line_buffered(stdout, out, sizeof out);
}

}  // namespace rc
