/* sim_account: the router kernel's per-host accounting, for the simulation.
 *
 * On the router a kernel module counts, for each LAN host, the packets and
 * bytes it sends and receives through the router, in 4096-byte pages of 256
 * 16-byte entries (one page per /24 block of the LAN), and lists the pages'
 * kernel addresses in /proc/vkproc/account; the traffic monitor maps them out
 * of /dev/mem. This program plays that module inside the router's
 * namespaces, from the real packets the router forwards:
 *
 *   - counting: a packet socket on br0 sees every IPv4 packet that enters
 *     the router from the LAN and every one the router sends into it. A
 *     packet coming in from a LAN address to an address outside the LAN (not
 *     one of the router's own, not broadcast or multicast) is sent by that
 *     host; one going out to a LAN address from outside the LAN (again not
 *     from the router itself) is received by it. The bytes are the IP
 *     packet's length, as the kernel's accounting target counts them. A
 *     packet socket needs no rule of its own in the firewall (the chains
 *     belong to the daemons under test and the PC kernel has no ACCOUNT
 *     target), no subprocess and no polling of counters;
 *   - pages: physical pages from 16 MiB up in the sparse file that stands in
 *     for /dev/mem (ROUTER_KERNEL_ROOT/dev/mem, 32 MiB), kernel addresses
 *     0x81000000 up (the directly mapped segment); the block of the router's
 *     LAN address gets its page at start, other blocks when their first
 *     packet is seen (at most 9). The list is written to
 *     ROUTER_KERNEL_ROOT/proc/vkproc/account as "page=%d third=%d second=%d"
 *     lines, replaced whole (rename), so a reader never sees half of it;
 *   - updates: every 200 ms the changed entries are copied into their pages,
 *     so that a reader never sees an entry with some words old and some new:
 *     on x86-64 each with one aligned 16-byte store (atomic on processors
 *     with AVX); elsewhere (the emulated MIPS board, where an entry would be
 *     four word stores and trafmon, copying the page, could run between
 *     them) each with one pwrite() of its 16 bytes into the file, a copy
 *     made inside one system call, which no user process interrupts on the
 *     board's single processor and non-preemptible kernel;
 *   - connections: once a second, the number of connection-tracking entries
 *     per LAN address (original direction's source) from
 *     /proc/net/nf_conntrack, into ROUTER_KERNEL_ROOT/proc/vkproc/currconn as
 *     address/count pairs ended by a zero address (at most 511 pairs),
 *     replaced whole.
 *
 * It waits until br0 has its address (netmgr sets it). Output: one line per
 * page allocated, and the packet socket's drop count when it changes.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "common/abi/account.h"

#define MEM_SIZE (32u << 20)
#define PAGE_BASE (16u << 20) /* physical address of the first page */
#define PAGE_SIZE ((uint32_t)kAcctPageSize)
#define MAX_LOCAL 32
#define MAX_CONN ((int)(kConnFileSize / sizeof(connpair)) - 1) /* and the end mark */

static char root[256];
static unsigned char *mem;
static int memfd = -1;
static uint32_t lan_addr, lan_mask; /* host order */
static uint32_t local_addrs[MAX_LOCAL];
static int nlocal;

static struct {
  uint32_t block;             /* address >> 8 */
  acctentry counts[kAcctEntries]; /* the module's own counters */
  unsigned char dirty[kAcctEntries];
} pages[kMaxPages];
static int npages;

static double now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* Writes text to root/rel through a temporary file and a rename. */
static void replace_file(const char *rel, const void *data, size_t len) {
  char path[512], tmp[520];
  snprintf(path, sizeof path, "%s%s", root, rel);
  snprintf(tmp, sizeof tmp, "%s.new", path);
  int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    perror(tmp);
    return;
  }
  if (write(fd, data, len) != (ssize_t)len) perror(tmp);
  close(fd);
  if (rename(tmp, path) < 0) perror(path);
}

static void write_account(void) {
  char text[kMaxPages * 64];
  size_t len = 0;
  for (int k = 0; k < npages; ++k) {
    uint32_t kaddr = kKsegBase + PAGE_BASE + PAGE_SIZE * (uint32_t)k;
    len += (size_t)snprintf(text + len, sizeof text - len, "page=%d third=%u second=%u\n",
                            (int32_t)kaddr, pages[k].block & 255, (pages[k].block >> 8) & 255);
  }
  replace_file("/proc/vkproc/account", text, len);
}

/* The page of a LAN address's /24 block, allocated when new; -1 when full. */
static int page_of(uint32_t addr) {
  uint32_t block = addr >> 8;
  for (int k = 0; k < npages; ++k)
    if (pages[k].block == block) return k;
  if (npages == kMaxPages) return -1;
  pages[npages].block = block;
  printf("sim_account: page %d at 0x%08x for %u.%u.%u.0/24\n", npages,
         kKsegBase + PAGE_BASE + PAGE_SIZE * (uint32_t)npages, block >> 16, (block >> 8) & 255, block & 255);
  ++npages;
  write_account();
  return npages - 1;
}

static void flush_pages(void) {
  for (int k = 0; k < npages; ++k) {
#ifdef __SSE2__
    acctentry *page = (acctentry *)(mem + PAGE_BASE + PAGE_SIZE * (uint32_t)k);
#endif
    for (int i = 0; i < kAcctEntries; ++i) {
      if (!pages[k].dirty[i]) continue;
      pages[k].dirty[i] = 0;
#ifdef __SSE2__
      _mm_store_si128((__m128i *)&page[i], _mm_loadu_si128((const __m128i *)&pages[k].counts[i]));
#else
      off_t at = (off_t)(PAGE_BASE + PAGE_SIZE * (uint32_t)k + sizeof(acctentry) * (uint32_t)i);
      if (pwrite(memfd, &pages[k].counts[i], sizeof(acctentry), at) != (ssize_t)sizeof(acctentry))
        perror("pwrite");
#endif
    }
  }
}

static int in_lan(uint32_t a) { return (a & lan_mask) == (lan_addr & lan_mask); }

static int is_local(uint32_t a) {
  for (int i = 0; i < nlocal; ++i)
    if (local_addrs[i] == a) return 1;
  return 0;
}

static int is_group(uint32_t a) { return (a >> 28) == 14 || a == 0xffffffffu || (a & ~lan_mask) == ~lan_mask; }

static void refresh_local(void) {
  struct ifaddrs *list, *p;
  if (getifaddrs(&list) < 0) return;
  nlocal = 0;
  for (p = list; p && nlocal < MAX_LOCAL; p = p->ifa_next)
    if (p->ifa_addr && p->ifa_addr->sa_family == AF_INET)
      local_addrs[nlocal++] = ntohl(((struct sockaddr_in *)p->ifa_addr)->sin_addr.s_addr);
  freeifaddrs(list);
}

static void count(uint32_t host, int sent, uint32_t bytes) {
  int k = page_of(host);
  if (k < 0) return;
  acctentry *e = &pages[k].counts[host & 255];
  if (sent) {
    e->psent++;
    e->bsent += bytes;
  } else {
    e->precv++;
    e->brecv += bytes;
  }
  pages[k].dirty[host & 255] = 1;
}

static void write_currconn(void) {
  static uint32_t addr[MAX_CONN], cnt[MAX_CONN];
  int n = 0;
  FILE *f = fopen("/proc/net/nf_conntrack", "r");
  if (f) {
    char line[512];
    while (fgets(line, sizeof line, f)) {
      char *src = strstr(line, " src=");
      struct in_addr a;
      if (!src) continue;
      char *end = strchr(src + 5, ' ');
      if (end) *end = '\0';
      if (inet_pton(AF_INET, src + 5, &a) != 1) continue;
      uint32_t h = ntohl(a.s_addr);
      if (!in_lan(h) || is_local(h)) continue;
      int i;
      for (i = 0; i < n && addr[i] != a.s_addr; ++i) {
      }
      if (i == n) {
        if (n == MAX_CONN) continue;
        addr[n] = a.s_addr;
        cnt[n++] = 0;
      }
      cnt[i]++;
    }
    fclose(f);
  }
  connpair buf[MAX_CONN + 1];
  memset(buf, 0, sizeof buf);
  for (int i = 0; i < n; ++i) {
    buf[i].addr = addr[i];
    buf[i].count = cnt[i];
  }
  replace_file("/proc/vkproc/currconn", buf, (size_t)(n + 1) * sizeof(connpair));
}

/* Address and mask of br0 (host order); 0 when it has none yet. */
static int lan_of_br0(int fd) {
  struct ifreq ifr;
  memset(&ifr, 0, sizeof ifr);
  strcpy(ifr.ifr_name, "br0");
  ifr.ifr_addr.sa_family = AF_INET;
  if (ioctl(fd, SIOCGIFADDR, &ifr) < 0) return 0;
  lan_addr = ntohl(((struct sockaddr_in *)&ifr.ifr_addr)->sin_addr.s_addr);
  if (ioctl(fd, SIOCGIFNETMASK, &ifr) < 0) return 0;
  lan_mask = ntohl(((struct sockaddr_in *)&ifr.ifr_netmask)->sin_addr.s_addr);
  return lan_addr != 0;
}

int main(void) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  const char *r = getenv("ROUTER_KERNEL_ROOT");
  snprintf(root, sizeof root, "%s", r ? r : "");

  int q = socket(AF_INET, SOCK_DGRAM, 0);
  while (!lan_of_br0(q)) usleep(200000);
  close(q);
  refresh_local();

  char path[512];
  snprintf(path, sizeof path, "%s/dev/mem", root);
  memfd = open(path, O_RDWR | O_CREAT, 0644);
  if (memfd < 0 || ftruncate(memfd, MEM_SIZE) < 0) {
    perror(path);
    return 1;
  }
  mem = mmap(NULL, MEM_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, memfd, 0);
  if (mem == MAP_FAILED) {
    perror("mmap");
    return 1;
  }
  page_of(lan_addr);
  write_currconn();

  /* All protocols: only such a socket also sees the packets br0 sends. */
  int s = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_ALL));
  if (s < 0) {
    perror("packet socket");
    return 1;
  }
  int rcvbuf = 8 << 20;
  setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf);
  struct sockaddr_ll sll;
  memset(&sll, 0, sizeof sll);
  sll.sll_family = AF_PACKET;
  sll.sll_protocol = htons(ETH_P_ALL);
  sll.sll_ifindex = (int)if_nametoindex("br0");
  if (bind(s, (struct sockaddr *)&sll, sizeof sll) < 0) {
    perror("bind br0");
    return 1;
  }

  double lastFlush = now(), lastConn = lastFlush;
  unsigned drops = 0;
  for (;;) {
    struct pollfd pfd = {s, POLLIN, 0};
    poll(&pfd, 1, 100);
    for (;;) {
      unsigned char hdr[64];
      struct sockaddr_ll from;
      socklen_t fl = sizeof from;
      ssize_t len = recvfrom(s, hdr, sizeof hdr, MSG_TRUNC | MSG_DONTWAIT, (struct sockaddr *)&from, &fl);
      if (len < 0) break;
      if (from.sll_protocol != htons(ETH_P_IP) || len < 20 || (hdr[0] >> 4) != 4) continue;
      uint32_t src, dst;
      memcpy(&src, hdr + 12, 4);
      memcpy(&dst, hdr + 16, 4);
      src = ntohl(src);
      dst = ntohl(dst);
      if (from.sll_pkttype == PACKET_OUTGOING) {
        if (in_lan(dst) && !is_group(dst) && !in_lan(src) && !is_local(src)) count(dst, 0, (uint32_t)len);
      } else if (in_lan(src) && !is_local(src) && !in_lan(dst) && !is_local(dst) && !is_group(dst)) {
        count(src, 1, (uint32_t)len);
      }
    }
    double t = now();
    if (t - lastFlush >= 0.2) {
      flush_pages();
      lastFlush = t;
    }
    if (t - lastConn >= 1.0) {
      refresh_local();
      write_currconn();
      struct tpacket_stats st;
      socklen_t sl = sizeof st;
      if (getsockopt(s, SOL_PACKET, PACKET_STATISTICS, &st, &sl) == 0 && st.tp_drops) {
        drops += st.tp_drops;
        printf("sim_account: %u packets dropped by the packet socket so far\n", drops);
      }
      lastConn = t;
    }
  }
}
