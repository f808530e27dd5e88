// Splitting a record of a store list into its fields, bounded: a field that
// is missing or longer than its buffer makes the record malformed, with the
// reason kept for the message that drops it.
#pragma once
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rc {

class FieldReader {
 public:
  FieldReader(const char *begin, const char *end) : p_(begin), end_(end) {}

  // Copies the text up to the next delim (or, with delim '\0', up to the end
  // of the record) into out[size] and moves past the delimiter. Fields are
  // ";"-separated; a sub-delimiter ("-", ":") is looked for only up to the
  // next ";".
  bool text(char delim, char *out, size_t size, const char *name) {
    const char *stop;
    if (!field(delim, stop, name)) return false;
    size_t n = static_cast<size_t>(stop - p_);
    if (n >= size) return fail("%s longer than %d characters", name, static_cast<int>(size) - 1);
    memcpy(out, p_, n);
    out[n] = '\0';
    p_ = delim ? stop + 1 : stop;
    return true;
  }

  // A number of a field of any length, read as atoi reads it (blanks, a
  // sign, the digits up to the first other character; whatever follows is
  // ignored), held to the range of an int.
  bool wideNumber(char delim, int &out, const char *name) {
    const char *stop;
    if (!field(delim, stop, name)) return false;
    const char *q = p_;
    while (q < stop && isspace(static_cast<unsigned char>(*q))) ++q;
    bool negative = q < stop && *q == '-';
    if (q < stop && (*q == '-' || *q == '+')) ++q;
    long long v = 0;
    for (; q < stop && isdigit(static_cast<unsigned char>(*q)); ++q)
      if (v <= INT_MAX) v = v * 10 + (*q - '0');
    if (negative) v = -v;
    out = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
    p_ = delim ? stop + 1 : stop;
    return true;
  }

  // A decimal number of at most 7 characters, read with atoi.
  bool number(char delim, int &out, const char *name) {
    char buf[8];
    if (!text(delim, buf, sizeof buf, name)) return false;
    out = atoi(buf);
    return true;
  }

  // The last number of a record: up to the next ";" or the end; whatever
  // follows the number is ignored.
  bool lastNumber(int &out, const char *name) {
    return wideNumber(memchr(p_, ';', static_cast<size_t>(end_ - p_)) ? ';' : '\0', out, name);
  }

  // A TCP/UDP port: a number from lowest (1, or 0 where a range may start
  // at port 0) to 65535.
  bool port(char delim, int &out, const char *name, int lowest = 1) {
    if (!number(delim, out, name)) return false;
    if (out < lowest || out > 65535)
      return fail(lowest == 0 ? "%s %d outside 0 to 65535" : "%s %d outside 1 to 65535", name, out);
    return true;
  }

  const char *why() const { return why_; }

 private:
  // Finds the end of the field up to delim (with delim '\0': the end of the
  // record) without moving.
  bool field(char delim, const char *&stop, const char *name) {
    stop = end_;
    if (!delim) return true;
    const char *limit = end_;
    if (delim != ';') {
      const char *semi = static_cast<const char *>(memchr(p_, ';', static_cast<size_t>(end_ - p_)));
      if (semi) limit = semi;
    }
    stop = static_cast<const char *>(memchr(p_, delim, static_cast<size_t>(limit - p_)));
    if (!stop) return p_ == end_ ? fail("no %s", name) : fail("%s not followed by \"%c\"", name, delim);
    return true;
  }
  bool fail(const char *fmt, const char *name, int n = 0) {
    snprintf(why_, sizeof why_, fmt, name, n);
    return false;
  }
  const char *p_;
  const char *end_;
  char why_[80] = "";
};

// Records of a "~"-separated list are at most this long.
constexpr size_t kMaxRecordLen = 255;

// Walks the "~"-separated records of list; calls parse(n, begin, end) for
// the first count records and reports the ones that are missing.
template <typename Parse>
void forEachRecord(const char *list, int count, const char *what, Parse parse) {
  const char *p = list, *listEnd = list + strlen(list);
  for (int n = 1; n <= count; ++n) {
    if (p > listEnd) {
      printf("fwmgr: %s record %d dropped: not in the list\n", what, n);
      continue;
    }
    const char *end = static_cast<const char *>(memchr(p, '~', static_cast<size_t>(listEnd - p)));
    if (!end) end = listEnd;
    if (static_cast<size_t>(end - p) > kMaxRecordLen)
      printf("fwmgr: %s record %d dropped: longer than %d characters\n", what, n,
             static_cast<int>(kMaxRecordLen));
    else
      parse(n, p, end);
    p = end + 1;
  }
}

}  // namespace rc
