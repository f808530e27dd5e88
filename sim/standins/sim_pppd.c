/* sim_pppd: the simulation's stand-in for pppd. This kernel has no PPP, so
 * instead of dialling it makes the link's interface itself and runs the
 * scripts pppd runs:
 *
 *   - reads the options (the "file FILE" arguments and the other arguments):
 *     "defaultroute", "usepeerdns", "mtu N", "pty 'COMMAND'";
 *   - creates the interface ppp0 as a tun device held by this process, so the
 *     interface vanishes when the process ends, also by SIGKILL, as a real
 *     ppp unit does;
 *   - after a short "negotiation" gives ppp0 the local and peer addresses
 *     (SIM_PPP_LOCAL, SIM_PPP_REMOTE, default 10.64.0.2 and 10.64.0.1), sets
 *     the default route with defaultroute, writes /etc/ppp/resolv.conf with
 *     usepeerdns (SIM_PPP_DNS, default 10.64.0.1) and runs
 *     /etc/ppp/ip-up ppp0 /dev/null 0 LOCAL REMOTE;
 *   - with a pty option it first starts that command (for PPTP: the pptp
 *     stand-in), as pppd does;
 *   - on cue: SIGUSR1 takes the link down (ip-down, addresses removed),
 *     SIGUSR2 brings it up again (ip-up);
 *   - SIGHUP, SIGTERM, SIGINT or SIGQUIT hang up: after the time a link
 *     termination takes (0.5 s) it runs ip-down and exits; a SIGKILL within
 *     that time ends it without ip-down, as with the real program.
 * It lives at most SIM_PPP_MAX_SECONDS (default one day).
 *
 * The link carries real traffic: while it is up, what the kernel routes into
 * ppp0 goes out of the WAN port (SIM_PPP_LINK, default eth2.2) in PPPoE
 * session frames (ethertype 0x8864, session 1, PPP protocol IPv4), and the
 * IPv4 packets of such frames arriving there go into ppp0. The same program
 * plays the far end on the ISP host:
 *
 *   sim_pppd --peer IFACE   makes ppp0 there with the peer's side of the
 *                           addresses (SIM_PPP_REMOTE peer SIM_PPP_LOCAL),
 *                           relays to and from IFACE the same way, and prints
 *                           "syn SRC > DST mss N" for every TCP SYN that comes
 *                           over the link (how a test sees MSS clamping).
 * PPTP and L2TP links use the same framing: it stands in for their tunnels.
 *
 * It is reached through the journaling wrapper under the name pppd, so its
 * process name (comm) is "pppd" and netmgr's process lookup finds it.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <arpa/inet.h>
#include <linux/if.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t hangup, link_down_cue, link_up_cue;

static void on_signal(int sig) {
  if (sig == SIGUSR1)
    link_down_cue = 1;
  else if (sig == SIGUSR2)
    link_up_cue = 1;
  else
    hangup = 1;
}

struct options {
  int defaultroute, usepeerdns;
  char mtu[16];
  char pty[256];
};

static const char *env_or(const char *name, const char *fallback) {
  const char *v = getenv(name);
  return v && *v ? v : fallback;
}

/* Applies one option line ("mtu 1492", "pty '/bin/pptp x --nolaunchpppd'"). */
static void apply_option(struct options *o, char *line) {
  line[strcspn(line, "\r\n")] = '\0';
  while (*line == ' ' || *line == '\t') ++line;
  if (strncmp(line, "defaultroute", 12) == 0) {
    o->defaultroute = 1;
  } else if (strncmp(line, "usepeerdns", 10) == 0) {
    o->usepeerdns = 1;
  } else if (strncmp(line, "mtu ", 4) == 0) {
    snprintf(o->mtu, sizeof o->mtu, "%s", line + 4);
    o->mtu[strspn(o->mtu, "0123456789")] = '\0';
  } else if (strncmp(line, "pty ", 4) == 0) {
    char *cmd = line + 4;
    size_t n = strlen(cmd);
    if (n >= 2 && cmd[0] == '\'' && cmd[n - 1] == '\'') {
      cmd[n - 1] = '\0';
      ++cmd;
    }
    snprintf(o->pty, sizeof o->pty, "%s", cmd);
  }
}

static void read_options_file(struct options *o, const char *path) {
  FILE *f = fopen(path, "r");
  if (!f) {
    fprintf(stderr, "pppd: cannot read options file %s: %s\n", path, strerror(errno));
    return;
  }
  char line[512];
  for (int i = 0; i < 1000 && fgets(line, sizeof line, f); ++i) apply_option(o, line);
  fclose(f);
}

/* Runs a command and waits for it (at most 10 s); its status is not used,
 * as pppd does not look at its scripts' status. */
static void run(char *const argv[]) {
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[0], argv);
    _exit(127);
  }
  if (pid < 0) return;
  for (int i = 0; i < 1000; ++i) {
    if (waitpid(pid, NULL, WNOHANG) != 0) return;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, NULL, 0);
}

static void ip(const char *a, const char *b, const char *c, const char *d, const char *e,
               const char *f, const char *g) {
  char *argv[] = {"ip", (char *)a, (char *)b, (char *)c, (char *)d, (char *)e, (char *)f, (char *)g, NULL};
  run(argv);
}

static void script(const char *path, const char *local, const char *remote) {
  if (access(path, X_OK) != 0) return;
  char *argv[] = {(char *)path, "ppp0", "/dev/null", "0", (char *)local, (char *)remote, "", NULL};
  run(argv);
}

static void link_up(const struct options *o, const char *local, const char *remote, const char *dns) {
  ip("addr", "add", local, "peer", remote, "dev", "ppp0");
  if (o->mtu[0])
    ip("link", "set", "ppp0", "mtu", o->mtu, "up", NULL);
  else
    ip("link", "set", "ppp0", "up", NULL, NULL, NULL);
  if (o->defaultroute) ip("route", "replace", "default", "dev", "ppp0", NULL, NULL);
  if (o->usepeerdns) {
    FILE *f = fopen("/etc/ppp/resolv.conf", "w");
    if (f) {
      fprintf(f, "nameserver %s\n", dns);
      fclose(f);
    }
  }
  script("/etc/ppp/ip-up", local, remote);
}

static void link_down(const char *local, const char *remote) {
  script("/etc/ppp/ip-down", local, remote);
  ip("addr", "flush", "dev", "ppp0", NULL, NULL, NULL);
  ip("link", "set", "ppp0", "down", NULL, NULL, NULL);
}

static void reap(int sig) {
  (void)sig;
  int e = errno;
  while (waitpid(-1, NULL, WNOHANG) > 0) {
  }
  errno = e;
}


/* ---- the link's traffic ---- */

enum { kPppoeHeader = 8 }; /* ver/type, code, session, length, PPP protocol */

/* A packet socket for PPPoE session frames on ifname, or -1. */
static int link_socket(const char *ifname, int *ifindex) {
  int s = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_PPP_SES));
  if (s < 0) {
    fprintf(stderr, "pppd: no packet socket: %s\n", strerror(errno));
    return -1;
  }
  struct ifreq ifr;
  memset(&ifr, 0, sizeof ifr);
  snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", ifname);
  *ifindex = ioctl(s, SIOCGIFINDEX, &ifr) == 0 ? ifr.ifr_ifindex : 0;
  struct sockaddr_ll a;
  memset(&a, 0, sizeof a);
  a.sll_family = AF_PACKET;
  a.sll_protocol = htons(ETH_P_PPP_SES);
  a.sll_ifindex = *ifindex;
  if (*ifindex == 0 || bind(s, (struct sockaddr *)&a, sizeof a) < 0) {
    fprintf(stderr, "pppd: cannot bind to %s: %s\n", ifname, strerror(errno));
    close(s);
    return -1;
  }
  return s;
}

/* One IPv4 packet from ppp0 out over the link, in a session frame. */
static void to_link(int s, int ifindex, const unsigned char *ip, size_t n) {
  static unsigned char frame[kPppoeHeader + 2048];
  if (n > sizeof frame - kPppoeHeader) return;
  frame[0] = 0x11;  /* version 1, type 1 */
  frame[1] = 0x00;  /* session data */
  frame[2] = 0x00;  /* session id 1 */
  frame[3] = 0x01;
  frame[4] = (unsigned char)((n + 2) >> 8);
  frame[5] = (unsigned char)(n + 2);
  frame[6] = 0x00;  /* PPP protocol: IPv4 */
  frame[7] = 0x21;
  memcpy(frame + kPppoeHeader, ip, n);
  struct sockaddr_ll a;
  memset(&a, 0, sizeof a);
  a.sll_family = AF_PACKET;
  a.sll_protocol = htons(ETH_P_PPP_SES);
  a.sll_ifindex = ifindex;
  a.sll_halen = ETH_ALEN;
  memset(a.sll_addr, 0xff, ETH_ALEN);
  sendto(s, frame, kPppoeHeader + n, 0, (struct sockaddr *)&a, sizeof a);
}

/* Prints the MSS option of a TCP SYN (IPv4 packet ip of n bytes). */
static void log_syn(const unsigned char *ip, size_t n) {
  if (n < 20 || (ip[0] >> 4) != 4 || ip[9] != 6) return;
  size_t ihl = (size_t)(ip[0] & 15) * 4;
  if (ihl < 20 || n < ihl + 20) return;
  const unsigned char *t = ip + ihl;
  if (!(t[13] & 0x02)) return; /* not a SYN */
  size_t thl = (size_t)(t[12] >> 4) * 4;
  if (thl < 20 || n < ihl + thl) return;
  int mss = -1;
  for (size_t i = 20; i < thl;) {
    unsigned char kind = t[i];
    if (kind == 0) break;
    if (kind == 1) {
      ++i;
      continue;
    }
    if (i + 1 >= thl || t[i + 1] < 2 || i + t[i + 1] > thl) break;
    if (kind == 2 && t[i + 1] == 4) mss = t[i + 2] << 8 | t[i + 3];
    i += t[i + 1];
  }
  char src[INET_ADDRSTRLEN], dst[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, ip + 12, src, sizeof src);
  inet_ntop(AF_INET, ip + 16, dst, sizeof dst);
  printf("syn %s:%u > %s:%u mss %d\n", src, t[0] << 8 | t[1], dst, t[2] << 8 | t[3], mss);
  fflush(stdout);
}

/* Moves what is waiting between ppp0 (tun) and the link (s); packets are
 * dropped while the link is down, as on a real link. */
static void relay(int tun, int s, int ifindex, int up, int peer, const struct pollfd *p) {
  static unsigned char buf[kPppoeHeader + 2048];
  if (p[0].revents & POLLIN) {
    ssize_t n = read(tun, buf, sizeof buf);
    if (n > 0 && up) to_link(s, ifindex, buf, (size_t)n);
  }
  if (p[1].revents & POLLIN) {
    ssize_t n = recv(s, buf, sizeof buf, 0);
    if (n < kPppoeHeader || buf[0] != 0x11 || buf[1] != 0x00 || buf[6] != 0x00 || buf[7] != 0x21)
      return;
    size_t len = ((size_t)buf[4] << 8 | buf[5]);
    if (len < 2 || len - 2 > (size_t)n - kPppoeHeader) return;
    if (peer) log_syn(buf + kPppoeHeader, len - 2);
    if (up) {
      ssize_t w = write(tun, buf + kPppoeHeader, len - 2);
      (void)w;
    }
  }
}

/* Creates ppp0 as a tun device; the descriptor, or -1. */
static int make_ppp0(void) {
  int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "pppd: cannot open /dev/net/tun: %s\n", strerror(errno));
    return -1;
  }
  struct ifreq ifr;
  memset(&ifr, 0, sizeof ifr);
  ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
  snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "ppp0");
  /* A pppd that was just told to end may still hold ppp0 (a WAN restart on
   * a loaded machine): wait for it, at most 20 s, as the link would. */
  int r, tries = 0;
  while ((r = ioctl(fd, TUNSETIFF, &ifr)) < 0 && errno == EBUSY && ++tries <= 200)
    usleep(100000);
  if (r < 0) {
    fprintf(stderr, "pppd: cannot create ppp0: %s\n", strerror(errno));
    close(fd);
    return -1;
  }
  return fd;
}

static void catch_signals(const int *sigs, size_t n) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  for (size_t i = 0; i < n; ++i) sigaction(sigs[i], &sa, NULL);
  sa.sa_handler = reap;
  sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  sigaction(SIGCHLD, &sa, NULL);
}

/* The far end on the ISP host: ppp0 with the peer's addresses, relaying
 * until a hang-up signal. */
static int peer_main(const char *ifname, const char *local, const char *remote, unsigned max_seconds) {
  int tun = make_ppp0();
  if (tun < 0) return 1;
  int ifindex;
  int s = link_socket(ifname, &ifindex);
  if (s < 0) return 1;
  int sigs[] = {SIGHUP, SIGTERM, SIGINT, SIGQUIT, SIGALRM};
  catch_signals(sigs, sizeof sigs / sizeof sigs[0]);
  alarm(max_seconds);
  ip("addr", "add", remote, "peer", local, "dev", "ppp0");
  ip("link", "set", "ppp0", "mtu", "1492", "up", NULL);
  printf("ready\n");
  fflush(stdout);
  sigset_t block, old;
  sigemptyset(&block);
  for (size_t i = 0; i < sizeof sigs / sizeof sigs[0]; ++i) sigaddset(&block, sigs[i]);
  sigprocmask(SIG_BLOCK, &block, &old);
  struct pollfd p[2] = {{tun, POLLIN, 0}, {s, POLLIN, 0}};
  while (!hangup) {
    if (ppoll(p, 2, NULL, &old) > 0) relay(tun, s, ifindex, 1, 1, p);
  }
  return 0;
}

int main(int argc, char **argv) {
  struct options o;
  memset(&o, 0, sizeof o);
  const char *local = env_or("SIM_PPP_LOCAL", "10.64.0.2");
  const char *remote = env_or("SIM_PPP_REMOTE", "10.64.0.1");
  unsigned max_seconds = (unsigned)atoi(env_or("SIM_PPP_MAX_SECONDS", "86400"));
  if (argc == 3 && strcmp(argv[1], "--peer") == 0) return peer_main(argv[2], local, remote, max_seconds);
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "file") == 0 && i + 1 < argc) {
      read_options_file(&o, argv[++i]);
    } else {
      apply_option(&o, argv[i]);
    }
  }
  const char *dns = env_or("SIM_PPP_DNS", "10.64.0.1");

  int fd = make_ppp0();
  if (fd < 0) return 1;
  int ifindex;
  int s = link_socket(env_or("SIM_PPP_LINK", "eth2.2"), &ifindex);

  int sigs[] = {SIGHUP, SIGTERM, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
  catch_signals(sigs, sizeof sigs / sizeof sigs[0]);
  alarm(max_seconds);

  if (o.pty[0]) {
    pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", o.pty, (char *)NULL);
      _exit(127);
    }
  }
  usleep(200000); /* the time a negotiation takes */
  int up = 0;
  if (!hangup) {
    link_up(&o, local, remote, dns);
    up = 1;
  }

  sigset_t block, old;
  sigemptyset(&block);
  for (size_t i = 0; i < sizeof sigs / sizeof sigs[0]; ++i) sigaddset(&block, sigs[i]);
  sigprocmask(SIG_BLOCK, &block, &old);
  struct pollfd p[2] = {{fd, POLLIN, 0}, {s, POLLIN, 0}};
  while (!hangup) {
    if (!link_down_cue && !link_up_cue && ppoll(p, s < 0 ? 1 : 2, NULL, &old) > 0)
      relay(fd, s, ifindex, up, 0, p);
    if (link_down_cue) {
      link_down_cue = 0;
      if (up) link_down(local, remote);
      up = 0;
    }
    if (link_up_cue) {
      link_up_cue = 0;
      if (!up) link_up(&o, local, remote, dns);
      up = 1;
    }
  }
  sigprocmask(SIG_SETMASK, &old, NULL);
  struct timespec term = {0, 500000000}; /* link termination */
  nanosleep(&term, NULL);
  if (up) link_down(local, remote);
  close(fd);
  return 0;
}
