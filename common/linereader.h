// Line-by-line reading of a file through a fixed buffer, for the loops that
// must not allocate (stdio's FILE and its buffer come from the heap).
//
// A line longer than the caller's limit is cut there and the rest of it is
// dropped, so an over-long line never turns into a second line.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace rc {

class LineReader {
 public:
  explicit LineReader(const char *path) : fd_(open(path, O_RDONLY | O_CLOEXEC)) {}
  ~LineReader() {
    if (fd_ >= 0) close(fd_);
  }
  LineReader(const LineReader &) = delete;
  LineReader &operator=(const LineReader &) = delete;

  bool ok() const { return fd_ >= 0; }

  // The next line without its newline in line[size] (at most size-1
  // characters, NUL-terminated). False at the end of the file. *cut, when
  // given, tells whether the line was longer than size-1 characters.
  bool next(char *line, size_t size, bool *cut = nullptr) {
    size_t used = 0;
    bool any = false, over = false;
    for (;;) {
      if (pos_ == len_ && !fill()) break;
      any = true;
      char c = buf_[pos_++];
      if (c == '\n') break;
      if (used + 1 < size)
        line[used++] = c;
      else
        over = true;
    }
    if (size) line[used] = '\0';
    if (cut) *cut = over;
    return any;
  }

 private:
  bool fill() {
    if (fd_ < 0 || eof_) return false;
    ssize_t n;
    do {
      n = read(fd_, buf_, sizeof buf_);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      eof_ = true;
      return false;
    }
    pos_ = 0;
    len_ = static_cast<size_t>(n);
    return true;
  }

  int fd_;
  bool eof_ = false;
  size_t pos_ = 0, len_ = 0;
  char buf_[1024];
};

}  // namespace rc
