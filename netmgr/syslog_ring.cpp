// The system-log ring and the firewall attack events that feed it.
#include "netmgr/syslog_ring.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "netmgr/netmgr.h"

namespace rc {

// 系统初始化完成 (system initialisation complete)
const char kMsgSystemStarted[] = "\xcf\xb5\xcd\xb3\xb3\xf5\xca\xbc\xbb\xaf\xcd\xea\xb3\xc9";
// 检测到%d.%d.%d.%d正在进行UDP洪水攻击 (detected a.b.c.d performing a UDP flood attack)
const char kFmtUdpFlood[] =
    "\xbc\xec\xb2\xe2\xb5\xbd%d.%d.%d.%d\xd5\xfd\xd4\xda\xbd\xf8\xd0\xd0"
    "UDP\xba\xe9\xcb\xae\xb9\xa5\xbb\xf7";
// 检测到%d.%d.%d.%d正在进行TCP SYN洪水攻击 (... a TCP SYN flood attack)
const char kFmtSynFlood[] =
    "\xbc\xec\xb2\xe2\xb5\xbd%d.%d.%d.%d\xd5\xfd\xd4\xda\xbd\xf8\xd0\xd0"
    "TCP SYN\xba\xe9\xcb\xae\xb9\xa5\xbb\xf7";
// 检测到%d.%d.%d.%d正在进行ICMP洪水攻击 (... an ICMP flood attack)
const char kFmtIcmpFlood[] =
    "\xbc\xec\xb2\xe2\xb5\xbd%d.%d.%d.%d\xd5\xfd\xd4\xda\xbd\xf8\xd0\xd0"
    "ICMP\xba\xe9\xcb\xae\xb9\xa5\xbb\xf7";

void K3syslog(const char *msg, syslog_ring *ring, ClockRef clock) {
  if (!ring) return;
  struct tm tm;
  clock.localNow(&tm);
  char stamp[20];
  if (strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm) == 0) stamp[0] = '\0';
  int32_t next = ring->next;
  if (next < 0 || next >= kRingSlots) next = 0;  // never trust the segment's bytes
  char *slot = ring->slot[next];
  // Cut the message so that the newline and the NUL always fit the slot.
  int room = kRingSlotSize - static_cast<int>(strlen(stamp)) - 3;
  snprintf(slot, kRingSlotSize, "%s %.*s\n", stamp, room < 0 ? 0 : room, msg);
  ring->next = (next + 1) % kRingSlots;
  if (ring->count < kRingSlots) ring->count++;
}

void NetMgr::read_fw_log() {
  Paths::Buf path;
  int fd = open(s_.paths.kernel("/proc/vkproc/fwlog", path), O_RDONLY);
  if (fd < 0) return;
  // One read: the module hands out what it has gathered since the last one.
  unsigned char buf[128];
  ssize_t n = read(fd, buf, sizeof buf);
  close(fd);
  size_t got = n > 0 ? static_cast<size_t>(n) : 0;
  for (size_t off = 0; off + 12 <= got; off += 12) {
    const unsigned char *rec = buf + off;
    const char *fmt = nullptr;
    switch (rec[11]) {
      case 1: fmt = kFmtUdpFlood; break;
      case 2: fmt = kFmtSynFlood; break;
      case 3: fmt = kFmtIcmpFlood; break;
      default: continue;
    }
    char msg[128];
    snprintf(msg, sizeof msg, fmt, rec[0], rec[1], rec[2], rec[3]);
    K3syslog(msg, shmptr, s_.clock);
  }
}

}  // namespace rc
