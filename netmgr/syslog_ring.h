// netmgr's writing of the system-log ring (segment 205, laid out in
// common/abi/syslog_ring.h) and the GBK texts of its records.
#pragma once
#include "common/abi/syslog_ring.h"
#include "common/clock.h"

namespace rc {

// Appends one record stamped with the clock's local time. Does nothing when no
// ring is attached. The text is complete before `next` moves past it.
void K3syslog(const char *msg, syslog_ring *ring, ClockRef clock);

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
