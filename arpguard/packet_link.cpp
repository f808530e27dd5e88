// The SOCK_PACKET socket on br0 and the interface queries.
#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "arpguard/arpguard.h"
#include "common/bstr.h"

namespace rc {

int PacketLink::open() {
  fd_ = socket(AF_PACKET, SOCK_PACKET, htons(ETH_P_ARP));
  if (fd_ < 0) return -1;
  // The socket only sends; nothing ever reads it. Every ARP frame the
  // router receives would otherwise be queued on it until its receive
  // buffer is full, and stay there. A filter that accepts nothing keeps the
  // queue empty, the smallest receive buffer bounds it should the filter be
  // refused, and what arrived before the filter is read away.
  struct sock_filter dropAll = BPF_STMT(BPF_RET | BPF_K, 0);
  struct sock_fprog prog = {1, &dropAll};
  if (setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) < 0)
    printf("arpguard: cannot filter its packet socket: %s\n", strerror(errno));
  int smallest = 0;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
  uint8_t frame[64];
  while (recv(fd_, frame, sizeof frame, MSG_DONTWAIT) >= 0) continue;
  return 0;
}

int PacketLink::bindDevice(const char *name) {
  char dev[32] = {};
  bcopy_text(dev, name);
  return setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, dev, sizeof dev) < 0 ? -1 : 0;
}

void PacketLink::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int PacketLink::getIfIp(const char *name, uint8_t out[4]) {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return -1;
  struct ifreq ifr;
  memset(&ifr, 0, sizeof ifr);
  bcopy_text(ifr.ifr_name, name);
  ifr.ifr_addr.sa_family = AF_INET;
  int r = ioctl(s, SIOCGIFADDR, &ifr);
  ::close(s);
  if (r < 0) return -1;
  const sockaddr_in *sin = reinterpret_cast<const sockaddr_in *>(&ifr.ifr_addr);
  memcpy(out, &sin->sin_addr, 4);
  return 0;
}

int PacketLink::getIfMac(const char *name, uint8_t out[6]) {
  memset(out, 0, 6);
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return -1;
  struct ifreq ifr;
  memset(&ifr, 0, sizeof ifr);
  bcopy_text(ifr.ifr_name, name);
  int r = ioctl(s, SIOCGIFHWADDR, &ifr);
  ::close(s);
  if (r == 0) memcpy(out, ifr.ifr_hwaddr.sa_data, 6);
  return r;
}

int PacketLink::send(const uint8_t *frame, size_t len) {
  // The SOCK_PACKET destination: family 0, the device name, protocol 0.
  struct sockaddr to;
  memset(&to, 0, sizeof to);
  bcopy_text(to.sa_data, "br0");
  return static_cast<int>(sendto(fd_, frame, len, 0, &to, sizeof to));
}

}  // namespace rc
