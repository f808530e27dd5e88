// What the PPP-based WAN types share in writing their files: the ip-up and
// ip-down scripts that report link changes to queue 204, the resolv.conf
// link, the option files' mode and the lines of free-text values. The option
// files themselves are their types' (wan_pppoe.cpp, wan_pptp.cpp,
// wan_l2tp.cpp).
//
// User names, passwords, service and access-concentrator names are free
// text. An ordinary value (only A-Za-z0-9._@:/+=,-) gives the plain echo
// line. Any other value is written with printf and the whole option line as
// one single-quoted argument, so the shell expands nothing and the file gets
// the line byte for byte (echo would also interpret backslashes). In pppd's
// option files such a value is put in pppd's double-quoted form when pppd
// would otherwise split or cut it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "netmgr/ppp_files.h"

namespace rc::ppp {

namespace {

// doSystemCmd runs at most this many characters; a longer line would be cut.
constexpr size_t kShellLineMax = Shell::kDoSystemBufSize - 1;

// pppd reads an option word up to white space; '#' starts a comment, quotes
// open a quoted part and '\' escapes. A value holding any of them must be
// quoted for pppd to read it as one word.
bool needsPppdQuotes(const char *v) {
  for (; *v; ++v) {
    unsigned char c = static_cast<unsigned char>(*v);
    if (isspace(c) || c == '#' || c == '"' || c == '\'' || c == '\\') return true;
  }
  return false;
}

// pppd's double-quoted form: "..." with '\' and '"' escaped by '\'.
// False when it does not fit out[size].
bool pppdQuote(const char *v, char *out, size_t size) {
  size_t o = 0;
  if (size < 3) return false;
  out[o++] = '"';
  for (; *v; ++v) {
    bool esc = *v == '"' || *v == '\\';
    if (o + (esc ? 2 : 1) + 2 > size) return false;  // room for the closing quote and NUL
    if (esc) out[o++] = '\\';
    out[o++] = *v;
  }
  out[o++] = '"';
  out[o] = '\0';
  return true;
}

void tooLong(const char *key, const char *file) {
  printf("netmgr: %s line of %s not written: it does not fit one shell line\n", key, file);
}

}  // namespace

void appendText(Shell &sh, const char *file, const char *key, const char *value, Echo echo) {
  char line[2 * Shell::kDoSystemBufSize];
  int n;
  if (shell_plain(value)) {
    switch (echo) {
      case Echo::Bare:
        n = snprintf(line, sizeof line, "echo %s %s >> %s ", key, value, file);
        break;
      case Echo::SingleQuoted:
        n = snprintf(line, sizeof line, "echo %s '%s' >> %s ", key, value, file);
        break;
      case Echo::DoubleQuoted:
        n = snprintf(line, sizeof line, "echo \"%s %s\" >> %s ", key, value, file);
        break;
      case Echo::Conf:
      default:
        n = snprintf(line, sizeof line, "echo '%s = %s' >> %s ", key, value, file);
        break;
    }
  } else {
    if (echo == Echo::Conf && strpbrk(value, "\r\n")) {
      // A line break would start a new configuration line of its own.
      printf("netmgr: %s line of %s not written: the value holds a line break\n", key, file);
      return;
    }
    char word[Shell::kDoSystemBufSize];
    if (echo != Echo::Conf && needsPppdQuotes(value)) {
      if (!pppdQuote(value, word, sizeof word)) return tooLong(key, file);
    } else {
      if (strlen(value) >= sizeof word) return tooLong(key, file);
      bcopy_text(word, value);
    }
    char option[Shell::kDoSystemBufSize];
    n = snprintf(option, sizeof option, "%s%s%s", key, echo == Echo::Conf ? " = " : " ", word);
    if (n < 0 || static_cast<size_t>(n) >= sizeof option) return tooLong(key, file);
    char quoted[2 * Shell::kDoSystemBufSize];
    shell_quote(option, quoted);
    if (strcmp(quoted, "''") == 0) return tooLong(key, file);  // did not fit
    n = snprintf(line, sizeof line, "printf '%%s\\n' %s >> %s ", quoted, file);
  }
  if (n < 0 || static_cast<size_t>(n) > kShellLineMax) return tooLong(key, file);
  sh.doSystemCmd("%s", line);
}

bool pppMtu(const char *key, const char *file, const char *mtu, int *out) {
  int m = 0;
  const char *p = mtu;
  for (; *p >= '0' && *p <= '9' && m <= 65535; ++p) m = m * 10 + (*p - '0');
  if (p == mtu || *p || m > 65535) {
    char seen[kShownSize];
    printf("netmgr: MTU \"%s\" is not a plain decimal number; %s line of %s skipped\n", shown(mtu, seen), key,
           file);
    return false;
  }
  *out = m;
  return true;
}

bool serverOk(const char *server, const char *file) {
  if (!*server || is_ipv4(server) || is_hostname(server)) return true;
  char seen[kShownSize];
  printf("netmgr: tunnel server \"%s\" is neither an address nor a host name; "
         "its line of %s skipped\n",
         shown(server, seen), file);
  return false;
}

// ip-up and ip-down post commands 2 and 3 and keep the connection stamp;
// pppd fills /etc/ppp/resolv.conf, which /etc/resolv.conf then points to.
void writeLinkScripts(Shell &sh) {
  sh.doSystemCmd("echo '#!/bin/sh' > /etc/ppp/ip-up");
  sh.doSystemCmd("echo 'sendmsg 204 2 &' >> /etc/ppp/ip-up");
  sh.doSystemCmd("echo 'cat /proc/uptime > /etc/at' >> /etc/ppp/ip-up ");
  sh.doSystemCmd("chmod +x /etc/ppp/ip-up");
  sh.doSystemCmd("echo '#!/bin/sh' > /etc/ppp/ip-down");
  sh.doSystemCmd("echo 'sendmsg 204 3 &' >> /etc/ppp/ip-down");
  sh.doSystemCmd("echo 'echo \"0 0\" > /etc/at' >> /etc/ppp/ip-down ");
  sh.doSystemCmd("chmod +x /etc/ppp/ip-down");
  sh.doSystemCmd("echo \"\" > /etc/ppp/resolv.conf");
  sh.doSystemCmd("rm /etc/resolv.conf");
  sh.doSystemCmd("ln -s /etc/ppp/resolv.conf /etc/resolv.conf");
}

// Option files hold the PPP password: they are created (or emptied) here with
// mode 0600 before the first line is written, so no other user can read them
// at any moment; the shell's "> FILE" that follows keeps the mode.
void createPrivate(const Paths &paths, const char *file) {
  Paths::Buf path;
  int fd = open(paths.sys(file, path), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 || fchmod(fd, 0600) != 0)
    printf("netmgr: cannot create %s with mode 0600: %s\n", file, strerror(errno));
  if (fd >= 0) close(fd);
}

}  // namespace rc::ppp
