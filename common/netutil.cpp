#include "common/netutil.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"

namespace rc {

long read_head(const char *path, char *buf, size_t size) {
  if (size == 0) return -1;
  buf[0] = '\0';
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n;
  do {
    n = read(fd, buf, size - 1);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n < 0) return -1;
  buf[n] = '\0';
  return n;
}

long GetUptime(const char *path) {
  char line[128];
  if (read_head(path, line, sizeof line) < 0) return 0;
  line[strcspn(line, "\n")] = '\0';  // the first line only
  char *space = strchr(line, ' ');
  if (space) *space = '\0';
  return atol(line);
}

const char *wan_ifname(int conntype) {
  switch (conntype) {
    case 1: case 2: case 4: return "eth2.2";
    case 3: case 5: case 6: return "ppp0";
    default: return nullptr;
  }
}

void lan_network(uint32_t ip, uint32_t mask, char (&out)[16], int &netsize, int &ndepth) {
  getdepth(mask, netsize, ndepth);
  const unsigned char *a = reinterpret_cast<const unsigned char *>(&ip);
  const unsigned char *m = reinterpret_cast<const unsigned char *>(&mask);
  snprintf(out, sizeof out, "%d.%d.%d.%d", a[0] & m[0], a[1] & m[1], a[2] & m[2], a[3] & m[3]);
}

int getdepth(uint32_t mask, int &netsize, int &ndepth) {
  uint32_t m = ntohl(mask);
  for (int bit = 31; bit >= 0 && netsize < 32; --bit) {
    if (!(m & (1u << bit))) break;
    ++netsize;
  }
  if (netsize >= 24)
    ndepth = 0;
  else if (netsize >= 16)
    ndepth = 1;
  else if (netsize >= 8)
    ndepth = 2;
  return 0;
}

int getDns(int n, char *out, size_t size, const char *path) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  FILE *f = fopen(path, "r");
  if (!f) return 0;
  char line[64];
  int seen = 0;
  bool midLine = false;  // the rest of an over-long line is not a new line
  while (fgets(line, sizeof line, f)) {
    bool startsLine = !midLine;
    midLine = !strchr(line, '\n') && !feof(f);
    if (!startsLine || strncmp(line, "nameserver", 10) != 0) continue;
    char addr[24];
    if (sscanf(line, "nameserver %23s", addr) != 1) continue;
    if (++seen == n) {
      bcopy_text(out, size, addr);
      fclose(f);
      return n;
    }
  }
  fclose(f);
  return 0;
}

// Reads up to size bytes, fewer only at the end of the file.
static ssize_t read_full(int fd, char *buf, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, buf + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

int copy_differs(const char *original, const char *copy) {
  int a = open(original, O_RDONLY | O_CLOEXEC);
  if (a < 0) return -1;
  int b = open(copy, O_RDONLY | O_CLOEXEC);
  int result = b < 0 ? 1 : 0;
  char x[256], y[256];
  while (result == 0) {
    ssize_t n = read_full(a, x, sizeof x), m = read_full(b, y, sizeof y);
    if (n < 0 || n != m || memcmp(x, y, static_cast<size_t>(n)) != 0) result = 1;
    if (n <= 0) break;
  }
  close(a);
  if (b >= 0) close(b);
  return result;
}

int getipmask(const char *ifname, uint32_t *addr, uint32_t *mask) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  struct ifreq ifr;
  memset(&ifr, 0, sizeof ifr);
  bcopy_text(ifr.ifr_name, IFNAMSIZ, ifname);
  ifr.ifr_addr.sa_family = AF_INET;
  if (ioctl(fd, SIOCGIFADDR, &ifr) == 0) {
    struct sockaddr_in sin;
    memcpy(&sin, &ifr.ifr_addr, sizeof sin);
    *addr = sin.sin_addr.s_addr;
  }
  int ret = ioctl(fd, SIOCGIFNETMASK, &ifr);
  if (ret == 0) {
    struct sockaddr_in sin;
    memcpy(&sin, &ifr.ifr_netmask, sizeof sin);
    *mask = sin.sin_addr.s_addr;
  }
  close(fd);
  return ret;
}

int time_is_in_area(const struct tm *tm, int startHour, int startMin, int endHour, int endMin,
                    const int weekdays[7]) {
  int wday = tm->tm_wday;
  if (wday < 0 || wday > 6 || weekdays[wday] == 0) return 0;
  int start = startHour * 60 + startMin;
  int end = endHour * 60 + endMin;
  if (start == 0 && end == 0) return 1;
  int now = tm->tm_hour * 60 + tm->tm_min;
  return start <= now && now <= end ? 1 : 0;
}

// Reads a decimal number of 1 to 3 digits, without a leading zero (inet_addr
// would read "08" as octal, or refuse it), at most max. Moves s past it.
static bool decimal_part(const char *&s, int max) {
  if (!isdigit(static_cast<unsigned char>(*s))) return false;
  if (s[0] == '0' && isdigit(static_cast<unsigned char>(s[1]))) return false;
  int value = 0, digits = 0;
  while (isdigit(static_cast<unsigned char>(*s))) {
    value = value * 10 + (*s++ - '0');
    if (++digits > 3) return false;
  }
  return value <= max;
}

// Moves s past a dotted quad; false when there is none.
static bool dotted_quad(const char *&s) {
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *s++ != '.') return false;
    if (!decimal_part(s, 255)) return false;
  }
  return true;
}

bool is_ipv4(const char *s) { return s && dotted_quad(s) && *s == '\0'; }

bool is_ipv4_net(const char *s) {
  if (!s || !dotted_quad(s)) return false;
  if (*s == '\0') return true;
  return *s++ == '/' && decimal_part(s, 32) && *s == '\0';
}

bool is_hostname(const char *s) {
  if (!s || !*s) return false;
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (!isalnum(c) && c != '-' && c != '.') return false;
  }
  return true;
}

bool is_mac(const char *s) {
  if (!s) return false;
  for (int i = 0; i < 17; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (i % 3 == 2) {
      if (c != ':') return false;
    } else if (!isxdigit(c)) {
      return false;
    }
  }
  return s[17] == '\0';
}

const char *shown(const char *value, char *out, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  if (size < 4) return "";
  size_t o = 0, i = 0;
  const size_t room = size - 4;  // "..." and the NUL
  for (; value && value[i] && i < kShownMax; ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    bool plain = c >= 0x20 && c < 0x7f && c != '\\';
    if (o + (plain ? 1 : 4) > room) break;
    if (plain) {
      out[o++] = static_cast<char>(c);
    } else {
      out[o++] = '\\';
      out[o++] = 'x';
      out[o++] = kHex[c >> 4];
      out[o++] = kHex[c & 15];
    }
  }
  if (value && value[i]) {
    memcpy(out + o, "...", 3);
    o += 3;
  }
  out[o] = '\0';
  return out;
}

bool shell_plain(const char *value) {
  for (const char *p = value; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (!isalnum(c) && !strchr("._@:/+=,-", c)) return false;
  }
  return true;
}

const char *shell_quote(const char *value, char *out, size_t size) {
  if (size == 0) return "''";
  if (shell_plain(value)) {
    if (strlen(value) >= size) return bcopy_text(out, size, "''");
    return bcopy_text(out, size, value);
  }
  size_t o = 0;
  auto put = [&](const char *text) {
    size_t n = strlen(text);
    if (o + n >= size) return false;
    memcpy(out + o, text, n);
    o += n;
    return true;
  };
  bool ok = put("'");
  for (const char *p = value; ok && *p; ++p) {
    char one[2] = {*p, '\0'};
    ok = *p == '\'' ? put("'\\''") : put(one);
  }
  ok = ok && put("'");
  if (!ok) return bcopy_text(out, size, "''");
  out[o] = '\0';
  return out;
}

}  // namespace rc
