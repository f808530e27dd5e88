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
 * It is reached through the journaling wrapper under the name pppd, so its
 * process name (comm) is "pppd" and netmgr's process lookup finds it.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
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

int main(int argc, char **argv) {
  struct options o;
  memset(&o, 0, sizeof o);
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "file") == 0 && i + 1 < argc) {
      read_options_file(&o, argv[++i]);
    } else {
      apply_option(&o, argv[i]);
    }
  }
  const char *local = env_or("SIM_PPP_LOCAL", "10.64.0.2");
  const char *remote = env_or("SIM_PPP_REMOTE", "10.64.0.1");
  const char *dns = env_or("SIM_PPP_DNS", "10.64.0.1");
  unsigned max_seconds = (unsigned)atoi(env_or("SIM_PPP_MAX_SECONDS", "86400"));

  int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "pppd: cannot open /dev/net/tun: %s\n", strerror(errno));
    return 1;
  }
  struct ifreq ifr;
  memset(&ifr, 0, sizeof ifr);
  ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
  snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "ppp0");
  if (ioctl(fd, TUNSETIFF, &ifr) < 0) {
    fprintf(stderr, "pppd: cannot create ppp0: %s\n", strerror(errno));
    return 1;
  }

  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  int sigs[] = {SIGHUP, SIGTERM, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
  for (size_t i = 0; i < sizeof sigs / sizeof sigs[0]; ++i) sigaction(sigs[i], &sa, NULL);
  sa.sa_handler = reap;
  sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  sigaction(SIGCHLD, &sa, NULL);
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
  while (!hangup) {
    if (!link_down_cue && !link_up_cue) sigsuspend(&old);
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
