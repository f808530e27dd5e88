// Which queried names count as different sites, and which names are safe to log.
#include <strings.h>

#include <cstring>

#include "kinwatch/kinwatch.h"

namespace rc {

namespace {

constexpr size_t kTail = 127;  // only the last 127 characters of a name count

struct Tail {
  const char *p;
  size_t len;
};

Tail tailOf(const char *name) {
  size_t n = strlen(name);
  return n > kTail ? Tail{name + n - kTail, kTail} : Tail{name, n};
}

size_t dots(Tail t) {
  size_t d = 0;
  for (size_t i = 0; i < t.len; ++i) d += t.p[i] == '.';
  return d;
}

// Characters to the right of the k-th dot counted from the right end.
size_t rightOfDot(Tail t, size_t k) {
  size_t seen = 0;
  for (size_t i = t.len; i-- > 0;) {
    if (t.p[i] == '.' && ++seen == k) return t.len - i - 1;
  }
  return t.len;
}

}  // namespace

int diffUlr(const char *name, const char *last) {
  Tail a = tailOf(name), b = tailOf(last);
  size_t da = dots(a), db = dots(b);
  size_t k = da < db ? da : db;
  if (k == 0) return 0;
  size_t ra = rightOfDot(a, k), rb = rightOfDot(b, k);
  size_t m = ra < rb ? ra : rb;
  return strncasecmp(a.p + a.len - m, b.p + b.len - m, m) == 0 ? 0 : 1;
}

bool record_name(const unsigned char *record, char (&out)[KinWatch::kNameSize]) {
  const unsigned char *name = record + offsetof(dnslog_record, name);
  const void *end = memchr(name, '\0', KinWatch::kNameSize);
  if (!end) return false;
  size_t n = static_cast<size_t>(static_cast<const unsigned char *>(end) - name);
  // Host names only: letters, digits, "-", "_" and ".". Anything else
  // (";" that splits the log's lines, markup and shell characters that the
  // pages showing the log would take as their own, control and non-ASCII
  // bytes) drops the record.
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = name[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  memcpy(out, name, n + 1);
  return true;
}

}  // namespace rc
