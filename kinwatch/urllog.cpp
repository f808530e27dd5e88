// /var/url.log: the counter line, batches of three lines, the whole-file lock.
//
// Plain descriptors rather than stdio: a batch allocates nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kinwatch/kinwatch.h"

namespace rc {

namespace {

constexpr const char *kUrlLog = "/var/url.log";

bool writeAll(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// The counter of the first line, or -1 when the line is not three digits and
// a newline (a damaged log: overwriting it in place would eat a record line).
int readCounter(int fd) {
  char head[4];
  ssize_t n = pread(fd, head, sizeof head, 0);
  if (n != 4 || head[3] != '\n') return -1;
  for (int i = 0; i < 3; ++i)
    if (!isdigit(static_cast<unsigned char>(head[i]))) return -1;
  return (head[0] - '0') * 100 + (head[1] - '0') * 10 + (head[2] - '0');
}

// Writes "%03d\n" over the first line.
bool writeCounter(int fd, int counter) {
  char line[8];
  int n = snprintf(line, sizeof line, "%03d\n", counter);
  return lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, line, static_cast<size_t>(n));
}

}  // namespace

int lock_set(int fd, int type) {
  struct flock lock;
  memset(&lock, 0, sizeof lock);
  lock.l_type = static_cast<short>(type);
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  int r;
  do {
    r = fcntl(fd, F_SETLKW, &lock);
  } while (r < 0 && errno == EINTR);
  return r;
}

const char *KinWatch::GetTime() {
  // The records of a pass mostly share their second: the text is made once
  // a second (local time and strftime cost more than the rest of a record).
  time_t now = s_.clock.now();
  if (timeBuf_[0] != '\0' && now == timeOf_) return timeBuf_;
  struct tm tm;
  s_.clock.localNow(&tm);
  if (strftime(timeBuf_, sizeof timeBuf_, "%Y-%m-%d %H:%M:%S", &tm) == 0) timeBuf_[0] = '\0';
  timeOf_ = now;
  return timeBuf_;
}

int KinWatch::createLogFile() {
  Paths::Buf path;
  // Emptied only under the lock, so a reader holding it never sees the file
  // shrink under its feet.
  int fd = open(s_.paths.sys(kUrlLog, path), O_WRONLY | O_CREAT, 0644);
  if (fd < 0) {
    puts("createLogFile: failed.");
    return -1;
  }
  lock_set(fd, F_WRLCK);
  int r = ftruncate(fd, 0) == 0 && writeAll(fd, "000\n", 4) ? 0 : -1;
  lock_set(fd, F_UNLCK);
  close(fd);
  if (r < 0) puts("createLogFile: failed.");
  return r;
}

int KinWatch::writeTofile(int count, char (*slots)[kSlotSize]) {
  Paths::Buf path;
  int fd = open(s_.paths.sys(kUrlLog, path), O_RDWR);
  if (fd < 0) {
    puts("writeTofile -> fopen failed.");
    return -1;
  }
  // The counter and the lines change in one lock period: a reader never
  // sees a counter that the lines behind it do not match.
  lock_set(fd, F_WRLCK);
  int counter = readCounter(fd);
  bool ok = true;
  if (counter < 0 || counter >= kFreshAt) {
    // A fresh log, emptied under the same lock. The batch that starts it is
    // counted in it like every other batch, so the counter always says how
    // many lines follow.
    counter = 0;
    ok = ftruncate(fd, 0) == 0 && writeCounter(fd, 0);
  }
  off_t end = ok ? lseek(fd, 0, SEEK_END) : -1;
  ok = end >= 0;
  for (int i = 0; ok && i < count; ++i) ok = writeAll(fd, slots[i], strnlen(slots[i], kSlotSize));
  if (ok) ok = writeCounter(fd, counter + count);
  if (!ok) {
    // A full file system: the batch is lost, but the log must not count
    // lines it does not hold. Cut what part of the batch went in and keep
    // the counter's old value.
    int e = errno;
    if (end >= 0 && ftruncate(fd, end) == 0) writeCounter(fd, counter);
    printf("writeTofile: cannot write %s: %s\n", kUrlLog, strerror(e ? e : EIO));
  }
  lock_set(fd, F_UNLCK);
  close(fd);
  return ok ? 0 : -1;
}

}  // namespace rc
