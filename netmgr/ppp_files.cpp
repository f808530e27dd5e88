// Files of the PPP-based WAN types: the ip-up and ip-down scripts that report
// link changes to queue 204, the resolv.conf link, and the option files of
// pppd (PPPoE, PPTP) and xl2tpd (L2TP). Every line is one shell command
// through doSystemCmd, the first creating the file, the others appending.
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
#include <cstdlib>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "netmgr/netmgr.h"

namespace rc {

namespace {

constexpr const char *kPppoeOptions = "/etc/options.pppoe";
constexpr const char *kPptpOptions = "/etc/options.pptp";
constexpr const char *kL2tpOptions = "/etc/ppp/options.xl2tpd";
constexpr const char *kL2tpConf = "/etc/xl2tpd/xl2tpd.conf";

// doSystemCmd runs at most this many characters; a longer line would be cut.
constexpr size_t kShellLineMax = Shell::kDoSystemBufSize - 1;

// How the plain echo line of an ordinary value looks.
enum class Echo {
  Bare,          // echo user V >> FILE          (pppd option file)
  SingleQuoted,  // echo user 'V' >> FILE        (pppd option file)
  DoubleQuoted,  // echo "user V" >> FILE        (pppd option file)
  Conf,          // echo 'name = V' >> FILE      (xl2tpd.conf, value as it is)
};

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

// Appends the option line of one free-text value to file.
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

// The MTU of a pppd option line: a plain decimal number (at most 65535).
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

// The PPTP or L2TP server: an address, a host name, or empty (the line is
// then written as it always was, without a server).
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

}  // namespace

// /etc/ppp exists already: netmgr's start creates it.
void NetMgr::Set_pppoe_conf(const char *user, const char *pwd, const char *service, const char *ac,
                            const char *mtu) {
  const char *f = kPppoeOptions;
  writeLinkScripts(sh_);
  createPrivate(s_.paths, f);
  sh_.doSystemCmd("echo noauth > %s ", f);
  appendText(sh_, f, "user", user, Echo::SingleQuoted);
  appendText(sh_, f, "password", pwd, Echo::SingleQuoted);
  sh_.doSystemCmd("echo nomppe >> %s ", f);
  sh_.doSystemCmd("echo hide-password >> %s ", f);
  sh_.doSystemCmd("echo noipdefault >> %s ", f);
  sh_.doSystemCmd("echo defaultroute >> %s ", f);
  sh_.doSystemCmd("echo nodetach >> %s ", f);
  sh_.doSystemCmd("echo usepeerdns >> %s ", f);
  int m = 0;  // set by pppMtu when it returns true
  if (pppMtu("mru", f, mtu, &m)) sh_.doSystemCmd("echo mru %d >> %s ", m, f);
  if (pppMtu("mtu", f, mtu, &m)) sh_.doSystemCmd("echo mtu %d >> %s ", m, f);
  sh_.doSystemCmd("echo persist >> %s ", f);
  sh_.doSystemCmd("echo ipcp-accept-remote >> %s ", f);
  sh_.doSystemCmd("echo ipcp-accept-local >> %s ", f);
  sh_.doSystemCmd("echo lcp-echo-failure 3 >> %s ", f);
  sh_.doSystemCmd("echo lcp-echo-interval 60 >> %s ", f);
  sh_.doSystemCmd("echo \"plugin /etc_ro/ppp/plugins/%s %s \" >> %s ", "rp-pppoe.so", "eth2.2", f);
  // An empty service or concentrator name leaves its option out: pppd reads
  // an options file as one stream of words, so a bare "rp_pppoe_service"
  // would take the next line's word as the service name and no concentrator
  // would answer.
  if (service[0]) appendText(sh_, f, "rp_pppoe_service", service, Echo::Bare);
  if (ac[0]) appendText(sh_, f, "rp_pppoe_ac", ac, Echo::Bare);
}

void NetMgr::Set_pptp_conf(const char *user, const char *pwd, const char *server, const char *mtu,
                           const char *mppe) {
  const char *f = kPptpOptions;
  sh_.doSystemCmd("mkdir /etc/ppp");
  writeLinkScripts(sh_);
  createPrivate(s_.paths, f);
  sh_.doSystemCmd("echo noauth > %s ", f);
  sh_.doSystemCmd("echo refuse-eap >> %s ", f);
  if (atoi(mppe) == 1) sh_.doSystemCmd("echo require-mppe >> %s ", f);
  appendText(sh_, f, "user", user, Echo::Bare);
  appendText(sh_, f, "password", pwd, Echo::Bare);
  sh_.doSystemCmd("echo connect true >> %s ", f);
  if (serverOk(server, f))
    sh_.doSystemCmd("echo \"pty '/bin/pptp %s --nolaunchpppd'\" >> %s ", server, f);
  sh_.doSystemCmd("echo lock >> %s ", f);
  int m = 0;  // set by pppMtu when it returns true
  if (pppMtu("mtu", f, mtu, &m)) sh_.doSystemCmd("echo \"mtu %d\" >> %s ", m, f);
  sh_.doSystemCmd("echo \"maxfail 0\" >> %s ", f);
  sh_.doSystemCmd("echo usepeerdns >> %s ", f);
  sh_.doSystemCmd("echo persist >> %s ", f);
  sh_.doSystemCmd("echo defaultroute >> %s ", f);
  sh_.doSystemCmd("echo ipcp-accept-remote ipcp-accept-local noipdefault >> %s ", f);
  sh_.doSystemCmd("echo ktune >> %s ", f);
  sh_.doSystemCmd("echo default-asyncmap nopcomp noaccomp >> %s ", f);
  sh_.doSystemCmd("echo novj nobsdcomp nodeflate >> %s ", f);
  sh_.doSystemCmd("echo lcp-echo-interval 300 >> %s ", f);
  sh_.doSystemCmd("echo lcp-echo-failure 6 >> %s ", f);
  sh_.doSystemCmd("echo unit 0 >> %s ", f);
}

// The L2TP files carry no MTU line: the link MTU is left to what pppd and the
// server negotiate, so the MTU setting is accepted but not used here.
void NetMgr::Set_l2tp_conf(const char *user, const char *pwd, const char *server, const char *) {
  const char *f = kL2tpOptions;
  sh_.doSystemCmd("mkdir /etc/ppp");
  writeLinkScripts(sh_);
  createPrivate(s_.paths, f);
  sh_.doSystemCmd("echo \"ipcp-accept-local\" > %s ", f);
  sh_.doSystemCmd("echo \"ipcp-accept-remote\" >> %s ", f);
  sh_.doSystemCmd("echo \"lock\" >> %s ", f);
  sh_.doSystemCmd("echo \"noauth\" >> %s ", f);
  sh_.doSystemCmd("echo \"debug\" >> %s ", f);
  sh_.doSystemCmd("echo \"dump\" >> %s ", f);
  sh_.doSystemCmd("echo \"logfile /var/log/l2tpd.log\" >> %s ", f);
  sh_.doSystemCmd("echo \"passive\" >> %s ", f);
  sh_.doSystemCmd("echo \"nodetach\" >> %s ", f);
  sh_.doSystemCmd("echo \"noccp\" >> %s ", f);
  sh_.doSystemCmd("echo \"novj\" >> %s ", f);
  sh_.doSystemCmd("echo \"novjccomp\" >> %s ", f);
  sh_.doSystemCmd("echo \"nopcomp\" >> %s ", f);
  sh_.doSystemCmd("echo \"noaccomp\" >> %s ", f);
  sh_.doSystemCmd("echo \"proxyarp\" >> %s ", f);
  sh_.doSystemCmd("echo \"defaultroute\" >> %s ", f);
  appendText(sh_, f, "user", user, Echo::DoubleQuoted);
  appendText(sh_, f, "password", pwd, Echo::DoubleQuoted);
  sh_.doSystemCmd("echo noipdefault >> %s ", f);
  sh_.doSystemCmd("echo 'usepeerdns 1' >> %s ", f);

  sh_.doSystemCmd("mkdir /etc/xl2tpd");
  sh_.doSystemCmd("mkdir /var/run/xl2tpd");
  const char *c = kL2tpConf;
  sh_.doSystemCmd("echo '[lns default]' > %s ", c);
  sh_.doSystemCmd("echo 'ip range = 192.168.191.2-192.168.191.254' >> %s ", c);
  sh_.doSystemCmd("echo 'local ip = 192.168.191.1' >> %s ", c);
  sh_.doSystemCmd("echo 'require chap = yes' >> %s ", c);
  sh_.doSystemCmd("echo 'require pap = yes' >> %s ", c);
  sh_.doSystemCmd("echo 'require authentication = yes' >> %s ", c);
  sh_.doSystemCmd("echo 'name = l2tpvpnserver' >> %s ", c);
  sh_.doSystemCmd("echo 'ppp debug = yes' >> %s ", c);
  sh_.doSystemCmd("echo 'pppoptfile = /etc/ppp/options.xl2tpd' >> %s ", c);
  sh_.doSystemCmd("echo 'length bit = yes' >> %s ", c);
  sh_.doSystemCmd("echo '[lac Linkn]' >> %s ", c);
  if (serverOk(server, c)) sh_.doSystemCmd("echo 'lns = %s' >> %s ", server, c);
  sh_.doSystemCmd("echo 'redial = yes' >> %s ", c);
  sh_.doSystemCmd("echo 'redial timeout = 15' >> %s ", c);
  sh_.doSystemCmd("echo 'max redials = 5' >> %s ", c);
  sh_.doSystemCmd("echo 'require chap = yes' >> %s ", c);
  sh_.doSystemCmd("echo 'refuse pap = yes' >> %s ", c);
  sh_.doSystemCmd("echo 'require authentication = yes' >> %s ", c);
  appendText(sh_, c, "name", user, Echo::Conf);
  sh_.doSystemCmd("echo 'ppp debug = no' >> %s ", c);
  sh_.doSystemCmd("echo 'pppoptfile = /etc/ppp/options.xl2tpd' >> %s ", c);
}

}  // namespace rc
