/* sim_dnslog FILE [GROUP]: the router kernel's DNS query log in the
 * simulation, serving FILE (/proc/dns_log2 under the kernel root).
 *
 * On the router a kernel module receives the LAN's DNS queries from the ULOG
 * rule and offers them in /proc/dns_log2: each read returns the whole
 * 132-byte records (source address, queried name) logged since the previous
 * read, at most what the reader asked for, and nothing when there are none.
 * Here the ULOG rule becomes an NFLOG rule for netlink group GROUP (default
 * 1; the simulation's iptables wrapper translates the target), so the
 * queries are taken from the very rule kinwatch adds and removes: without
 * the rule nothing is logged.
 *
 * FILE is a FIFO. A regular file cannot tell when it has been read, and a
 * FIFO held open for writing would block an empty read instead of ending it.
 * So the FIFO has no writer until a reader arrives: every 20 ms this program
 * tries a non-blocking open for writing, which succeeds only while a reader
 * has the FIFO open or waits in open(); it then writes at most 20 whole records (2640 bytes, one
 * atomic pipe write) and closes, so the reader gets those records and then
 * end of file, or end of file at once when nothing was logged. Until that
 * reader has closed the FIFO, later openings give nothing more (see serve).
 * Records not yet read wait here (at most 256; the newest are dropped beyond
 * that).
 * Readers are expected to ask for 2640 bytes, as kinwatch does: a smaller
 * read would lose the rest of what was written when the reader closes. */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/nfnetlink_log.h>
#include <linux/netlink.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/abi/dnslog.h"

#define KEEP 256

static dnslog_record pending[KEEP];
static int npending;

static int nl_config(int fd, uint16_t group, int type, const void *data, int len) {
  struct {
    struct nlmsghdr nh;
    struct nfgenmsg g;
    unsigned char attr[32];
  } req;
  memset(&req, 0, sizeof req);
  struct nlattr *a = (struct nlattr *)req.attr;
  a->nla_type = (uint16_t)type;
  a->nla_len = (uint16_t)(NLA_HDRLEN + len);
  memcpy(req.attr + NLA_HDRLEN, data, (size_t)len);
  req.nh.nlmsg_len = (uint32_t)(NLMSG_LENGTH(sizeof req.g) + NLA_ALIGN(a->nla_len));
  req.nh.nlmsg_type = (NFNL_SUBSYS_ULOG << 8) | NFULNL_MSG_CONFIG;
  req.nh.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
  req.nh.nlmsg_seq = (uint32_t)type;
  req.g.nfgen_family = AF_UNSPEC;
  req.g.version = NFNETLINK_V0;
  req.g.res_id = htons(group);
  if (send(fd, &req, req.nh.nlmsg_len, 0) < 0) return -1;
  char buf[512];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  if (n < (ssize_t)NLMSG_LENGTH(sizeof(struct nlmsgerr))) return -1;
  struct nlmsghdr *h = (struct nlmsghdr *)buf;
  if (h->nlmsg_type != NLMSG_ERROR) return -1;
  struct nlmsgerr *e = NLMSG_DATA(h);
  errno = -e->error;
  return e->error == 0 ? 0 : -1;
}

/* The question name of a DNS query in an IPv4/UDP packet, dotted, at most
 * 127 characters, into rec with the asking address. 0 when it is not one. */
static int take_query(const unsigned char *p, size_t len, dnslog_record *rec) {
  if (len < 20 || (p[0] >> 4) != 4 || p[9] != 17) return 0;
  size_t ihl = (size_t)(p[0] & 15) * 4;
  if (len < ihl + 8 + 12) return 0;
  const unsigned char *dns = p + ihl + 8;
  size_t dlen = len - ihl - 8;
  if (((dns[4] << 8) | dns[5]) == 0) return 0; /* no question */
  memset(rec, 0, sizeof *rec);
  memcpy(&rec->addr, p + 12, 4);
  char *name = rec->name;
  size_t out = 0, at = 12;
  while (at < dlen && dns[at] != 0) {
    size_t l = dns[at];
    if (l >= 0xc0 || at + 1 + l > dlen) return 0;
    if (out > 0 && out < kDnsNameSize - 1) name[out++] = '.';
    for (size_t i = 1; i <= l && out < kDnsNameSize - 1; ++i) name[out++] = (char)dns[at + i];
    at += 1 + l;
  }
  name[out] = 0;
  return 1;
}

static void take_netlink(int fd) {
  static unsigned char buf[65536];
  ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n <= 0) return;
  for (struct nlmsghdr *h = (struct nlmsghdr *)buf; NLMSG_OK(h, (size_t)n); h = NLMSG_NEXT(h, n)) {
    if (h->nlmsg_type != ((NFNL_SUBSYS_ULOG << 8) | NFULNL_MSG_PACKET)) continue;
    unsigned char *a = (unsigned char *)NLMSG_DATA(h) + NLMSG_ALIGN(sizeof(struct nfgenmsg));
    unsigned char *end = (unsigned char *)h + h->nlmsg_len;
    while (a + NLA_HDRLEN <= end) {
      struct nlattr *at = (struct nlattr *)a;
      if (at->nla_len < NLA_HDRLEN || a + at->nla_len > end) break;
      if ((at->nla_type & NLA_TYPE_MASK) == NFULA_PAYLOAD) {
        dnslog_record rec;
        if (take_query(a + NLA_HDRLEN, at->nla_len - NLA_HDRLEN, &rec)) {
          char addr[16];
          inet_ntop(AF_INET, &rec.addr, addr, sizeof addr);
          printf("dnslog: %s %s\n", addr, rec.name);
          if (npending < KEEP) pending[npending++] = rec;
        }
      }
      a += NLA_ALIGN(at->nla_len);
    }
  }
}

/* 1 from serving a reader until the FIFO has no reader left: a reader that
 * has not yet closed must not be given more records, they would be lost with
 * its close. Meanwhile a reader only gets end of file. */
static int served;

static void serve(const char *path) {
  int w = open(path, O_WRONLY | O_NONBLOCK);
  if (w < 0) { /* ENXIO: no reader */
    served = 0;
    return;
  }
  int k = npending < kDnsLogPerRead ? npending : kDnsLogPerRead;
  if (!served && k > 0 && write(w, pending, (size_t)k * sizeof *pending) == (ssize_t)(k * sizeof *pending)) {
    memmove(pending, pending + k, (size_t)(npending - k) * sizeof *pending);
    npending -= k;
  }
  served = 1;
  close(w);
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: sim_dnslog FILE [GROUP]\n");
    return 2;
  }
  const char *path = argv[1];
  uint16_t group = (uint16_t)(argc > 2 ? atoi(argv[2]) : 1);
  signal(SIGPIPE, SIG_IGN);
  setvbuf(stdout, NULL, _IOLBF, 0);
  unlink(path);
  if (mkfifo(path, 0644) < 0) {
    perror(path);
    return 1;
  }
  int fd = socket(AF_NETLINK, SOCK_RAW, NETLINK_NETFILTER);
  struct sockaddr_nl me = {.nl_family = AF_NETLINK};
  if (fd < 0 || bind(fd, (struct sockaddr *)&me, sizeof me) < 0) {
    perror("netlink");
    return 1;
  }
  int rcvbuf = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  struct nfulnl_msg_config_cmd cmd = {NFULNL_CFG_CMD_BIND};
  struct nfulnl_msg_config_mode mode = {htonl(0xffff), NFULNL_COPY_PACKET, 0};
  if (nl_config(fd, group, NFULA_CFG_CMD, &cmd, sizeof cmd) < 0 ||
      nl_config(fd, group, NFULA_CFG_MODE, &mode, sizeof mode) < 0) {
    perror("nflog group");
    return 1;
  }
  printf("dnslog: serving %s from nflog group %u\n", path, group);
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) take_netlink(fd);
    serve(path);
  }
}
