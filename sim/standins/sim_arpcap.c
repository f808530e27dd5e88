/* sim_arpcap IFACE SECONDS [COUNT [PREFIX]]: prints every ARP frame that
 * arrives on IFACE (with PREFIX: only those whose bytes in hexadecimal start
 * with it), one line each: the milliseconds since the start and the frame's
 * bytes in hexadecimal (at most 64). Ends after SECONDS, or after COUNT
 * frames. A packet-socket listener for the tests, in place of tcpdump.
 * Prints "listening" on standard error once the socket is bound. */
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static long now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: sim_arpcap IFACE SECONDS [COUNT]\n");
    return 2;
  }
  unsigned idx = if_nametoindex(argv[1]);
  if (!idx) {
    perror(argv[1]);
    return 1;
  }
  long limit = atol(argv[2]) * 1000L;
  long count = argc > 3 ? atol(argv[3]) : -1;
  const char *prefix = argc > 4 ? argv[4] : "";
  int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ARP));
  if (fd < 0) {
    perror("socket");
    return 1;
  }
  struct sockaddr_ll sll;
  memset(&sll, 0, sizeof sll);
  sll.sll_family = AF_PACKET;
  sll.sll_protocol = htons(ETH_P_ARP);
  sll.sll_ifindex = (int)idx;
  if (bind(fd, (struct sockaddr *)&sll, sizeof sll) < 0) {
    perror("bind");
    return 1;
  }
  fprintf(stderr, "listening\n");
  setvbuf(stdout, NULL, _IOLBF, 0);
  long start = now_ms();
  unsigned char buf[2048];
  if (count == 0) count = -1;
  while (count != 0) {
    long left = limit - (now_ms() - start);
    if (left <= 0) break;
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, (int)left) <= 0) continue;
    struct sockaddr_ll from;
    socklen_t fl = sizeof from;
    ssize_t n = recvfrom(fd, buf, sizeof buf, 0, (struct sockaddr *)&from, &fl);
    if (n <= 0 || from.sll_pkttype == PACKET_OUTGOING) continue;
    char hex[129];
    int h = 0;
    for (ssize_t i = 0; i < n && i < 64; ++i) h += sprintf(hex + h, "%02x", buf[i]);
    if (strncmp(hex, prefix, strlen(prefix)) != 0) continue;
    printf("%ld %s\n", now_ms() - start, hex);
    if (count > 0) --count;
  }
  return 0;
}
