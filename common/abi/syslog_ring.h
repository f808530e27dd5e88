/* The system-log ring in shared memory segment 205: netmgr writes it; the
 * log mailer, routerstat and the status CGI read it. 256 slots of 128 bytes
 * behind two native 32-bit integers: `count` (records written, up to 256)
 * and `next` (slot of the next record). A record is
 * "YYYY-mm-dd HH:MM:SS <message>\n", NUL-terminated. */
#pragma once
#include <sys/types.h>

#include "common/abi/abi.h"

RC_ABI_BEGIN

RC_ABI_CONST(key_t, kRingKey, 205)
RC_ABI_CONST(int, kRingSlots, 256)
RC_ABI_CONST(int, kRingSlotSize, 128)

typedef struct syslog_ring {
  int32_t count;
  int32_t next;
  char slot[kRingSlots][kRingSlotSize];
} syslog_ring;
RC_ABI_ASSERT(sizeof(syslog_ring) == 32776, "segment 205 is 32776 bytes");
RC_ABI_ASSERT(offsetof(syslog_ring, count) == 0, "count at 0");
RC_ABI_ASSERT(offsetof(syslog_ring, next) == 4, "next at 4");
RC_ABI_ASSERT(offsetof(syslog_ring, slot) == 8, "slots from 8");

RC_ABI_END
