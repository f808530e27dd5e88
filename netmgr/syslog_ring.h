// The system-log ring in shared memory segment 205: netmgr writes it, the
// log mailer reads it. 256 slots of 128 bytes behind two native 32-bit
// integers: `count` (records written, up to 256) and `next` (slot of the next
// record). A record is "YYYY-mm-dd HH:MM:SS <message>\n", NUL-terminated.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "common/clock.h"

namespace rc {

constexpr int kRingSlots = 256;
constexpr int kRingSlotSize = 128;
constexpr key_t kRingKey = 205;

struct syslog_ring {
  int32_t count;
  int32_t next;
  char slot[kRingSlots][kRingSlotSize];
};
static_assert(sizeof(syslog_ring) == 32776, "segment 205 is 32776 bytes");
static_assert(offsetof(syslog_ring, count) == 0, "count at 0");
static_assert(offsetof(syslog_ring, next) == 4, "next at 4");
static_assert(offsetof(syslog_ring, slot) == 8, "slots from 8");

// Appends one record stamped with the clock's local time. Does nothing when no
// ring is attached. The text is complete before `next` moves past it.
void K3syslog(const char *msg, syslog_ring *ring, Clock &clock);

// GBK texts of the log (shown here in UTF-8).
// "系统初始化完成": system initialisation complete.
extern const char kMsgSystemStarted[];
// "检测到%d.%d.%d.%d正在进行UDP洪水攻击": detected a.b.c.d performing a UDP flood attack.
extern const char kFmtUdpFlood[];
// "检测到%d.%d.%d.%d正在进行TCP SYN洪水攻击": ... a TCP SYN flood attack.
extern const char kFmtSynFlood[];
// "检测到%d.%d.%d.%d正在进行ICMP洪水攻击": ... an ICMP flood attack.
extern const char kFmtIcmpFlood[];

}  // namespace rc
